// Plays a WAV entry's PCM samples from memory on the system's default
// sound device, for the sound page's Play / Stop. Built with sound output
// only where the system's Qt has its multimedia module; elsewhere Play
// says so in words, as it does when there is no device (a build machine,
// a remote session).
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "media/entry_kind.h"
#include "storage/data_buffer.h"

class CSoundPlayer : public QObject {
 public:
  CSoundPlayer();
  ~CSoundPlayer() override;

  // Whether this build can play sounds at all.
  static bool IsBuiltIn();
  // Why `sound` cannot be played on any device (no sound output built in,
  // an encoding or sample size that is not played), in words for the
  // status bar; empty when a device may play it.
  static QString CannotPlay(const CSoundFacts& sound);
  // Starts playing the WAV entry `bytes`, described by `sound`, stopping
  // whatever played before. Empty when it plays; else why not, in words
  // for the status bar.
  QString Play(const CDataBuffer& bytes, const CSoundFacts& sound);
  // Stops playing and lets go of the bytes; nothing when nothing plays.
  void Stop();
  bool IsPlaying() const;
  // Called when playing ends by itself or by Stop.
  void SetOnStopped(std::function<void()> onStopped) { m_onStopped = std::move(onStopped); }

 private:
  // The end of the samples: Stop, from the sink's own signal.
  void Finish();

  class COutput;
  std::unique_ptr<COutput> m_output;
  std::unique_ptr<COutput> m_stopped;
  std::function<void()> m_onStopped;
};
