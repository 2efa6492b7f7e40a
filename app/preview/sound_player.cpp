#include "app/preview/sound_player.h"

#include <string_view>

#if defined(TARN_HAVE_MULTIMEDIA)
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>

// The device's sink reading the samples from a buffer over the entry's bytes,
// which it keeps while it plays.
class CSoundPlayer::COutput {
 public:
  CDataBuffer bytes;
  QBuffer device;
  std::unique_ptr<QAudioSink> sink;
  ~COutput() {
    if (sink != nullptr) sink->stop();
  }
};

bool CSoundPlayer::IsBuiltIn() { return true; }

QString CSoundPlayer::CannotPlay(const CSoundFacts& sound) {
  if (sound.encoding != "pcm") return QStringLiteral("only PCM sounds can be played");
  if (sound.bits != 8 && sound.bits != 16 && sound.bits != 32)
    return QStringLiteral("%1-bit samples cannot be played").arg(sound.bits);
  return {};
}

QString CSoundPlayer::Play(const CDataBuffer& bytes, const CSoundFacts& sound) {
  Stop();
  if (QString why = CannotPlay(sound); !why.isEmpty()) return why;
  QAudioFormat format;
  format.setSampleRate(static_cast<int>(sound.rate));
  format.setChannelCount(static_cast<int>(sound.channels));
  format.setSampleFormat(sound.bits == 8    ? QAudioFormat::UInt8
                         : sound.bits == 16 ? QAudioFormat::Int16
                                            : QAudioFormat::Int32);
  const QAudioDevice output = QMediaDevices::defaultAudioOutput();
  if (output.isNull()) return QStringLiteral("no sound device to play on");
  if (!output.isFormatSupported(format))
    return QStringLiteral("the sound device cannot play this format");
  const std::string_view samples = bytes.HasData() ? WavSamples(bytes.View()) : std::string_view();
  if (samples.empty()) return QStringLiteral("the sound has no samples");
  auto playing = std::make_unique<COutput>();
  playing->bytes = bytes;
  playing->device.setData(
      QByteArray::fromRawData(samples.data(), static_cast<qsizetype>(samples.size())));
  playing->device.open(QIODevice::ReadOnly);
  playing->sink = std::make_unique<QAudioSink>(output, format);
  QObject::connect(playing->sink.get(), &QAudioSink::stateChanged, this,
                   [this](QAudio::State state) {
                     // Idle: every sample has been played.
                     if (state == QAudio::IdleState) Finish();
                   });
  playing->sink->start(&playing->device);
  if (playing->sink->error() != QAudio::NoError) return QStringLiteral("the sound device refused");
  m_output = std::move(playing);
  return {};
}

#else

class CSoundPlayer::COutput {};

bool CSoundPlayer::IsBuiltIn() { return false; }

QString CSoundPlayer::CannotPlay(const CSoundFacts&) {
  return QStringLiteral("playing sounds is not built into this editor");
}

QString CSoundPlayer::Play(const CDataBuffer&, const CSoundFacts& sound) {
  return CannotPlay(sound);
}

#endif

CSoundPlayer::CSoundPlayer() = default;

CSoundPlayer::~CSoundPlayer() = default;

void CSoundPlayer::Stop() {
  m_stopped.reset();
  if (m_output == nullptr) return;
  m_output.reset();
  if (m_onStopped) m_onStopped();
}

void CSoundPlayer::Finish() {
  if (m_output == nullptr) return;
  // Dropped a moment later: this is called from the sink's own signal.
  m_stopped = std::move(m_output);
  QMetaObject::invokeMethod(
      this, [this] { m_stopped.reset(); }, Qt::QueuedConnection);
  if (m_onStopped) m_onStopped();
}

bool CSoundPlayer::IsPlaying() const { return m_output != nullptr; }
