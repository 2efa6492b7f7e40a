// The right pane of a document window, showing what an entry is: the rules
// list as before for rules text, and otherwise a text, image, sound or hex
// view of its own. The kind comes from the bytes (DescribeEntry); View > As
// Rules, As Text, As Hex, As Image and As Sound override it, and the choice
// is kept for every entry with the same extension, in the user's settings,
// until the entry's own view is chosen again.
//
// The pane takes the list's place in the splitter and holds the list as
// its first page, so the list itself is unchanged and still found as the
// splitter's pane.
#pragma once

#include <QStackedWidget>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "media/entry_kind.h"
#include "storage/data_buffer.h"

class CCmdUI;
class CHexView;
class CImageView;
class CSoundPlayer;
class CSplitterWnd;
class CTarnEditorDoc;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QShortcut;

enum class PreviewMode { Rules, Text, Hex, Image, Sound };

class CPreviewPane : public QStackedWidget {
  Q_OBJECT

 public:
  // Fills the rules list with an entry's rows; how many there are. `copyOf`
  // as for ShowEntry.
  using ShowRows =
      std::function<int(const CDataBuffer& bytes, std::string_view name, std::string_view copyOf)>;
  // Puts a pane in the place of `list`, pane (row, col) of `splitter`, and
  // keeps it up to date with `document`'s changes. Rules are shown by
  // `showRows` in the list.
  static CPreviewPane* Install(CSplitterWnd* splitter, int row, int col, QWidget* list,
                               ShowRows showRows, CTarnEditorDoc* document);
  ~CPreviewPane() override;

  // Shows the entry `name` holding `bytes` the way its kind, or the choice
  // kept for its extension, says. `copyOf`, when not empty, is the path of
  // the load order's archive whose copy, not loaded by the game, it is.
  void ShowEntry(const CDataBuffer& bytes, std::string_view name, std::string_view copyOf = {});
  // Shows the entry shown as `mode`, and keeps the choice for its extension.
  void ShowAs(PreviewMode mode);
  // The pane's part of View: As Rules, As Text, As Hex, As Image, As Sound.
  bool OnCmdMsg(int id, CCmdUI* query);
  // Shows the current entry's bytes again when they changed.
  void OnUpdate(int hint);

  PreviewMode GetMode() const { return m_mode; }
  const CEntryFacts& GetFacts() const { return m_facts; }
  CHexView* GetHexView() const { return m_hex; }
  CImageView* GetImageView() const { return m_image; }
  QPlainTextEdit* GetTextView() const { return m_text; }
  // The page that says why an entry cannot be shown.
  QLabel* GetMessage() const { return m_message; }
  // The sound page: what the sound is, and Play / Stop (Space).
  QWidget* GetSoundPage() const { return m_sound; }
  QLabel* GetSoundFacts() const { return m_soundFacts; }
  QPushButton* GetPlayButton() const { return m_play; }
  // Plays the sound shown, or stops it; the status bar says which, or why
  // it cannot be played.
  void PlayOrStop();

 private:
  class CUpdates;
  explicit CPreviewPane(CTarnEditorDoc* document);
  void Show(PreviewMode mode);
  void ShowText();
  void ShowImage();
  void ShowSound();
  void ShowMessage(const QString& words);
  void Describe(const QString& kind, const QString& facts);

  QWidget* m_list = nullptr;
  ShowRows m_showRows;
  CTarnEditorDoc* m_document;
  std::unique_ptr<CUpdates> m_updates;
  QPlainTextEdit* m_text;
  CImageView* m_image;
  CHexView* m_hex;
  QLabel* m_message;
  QWidget* m_sound;
  QLabel* m_soundFacts;
  QPushButton* m_play;
  std::unique_ptr<CSoundPlayer> m_player;
  QShortcut* m_space = nullptr;  // Space in the tree or the pane
  QShortcut* m_goTo = nullptr;   // Ctrl+G in the tree
  QShortcut* m_fit = nullptr;    // Ctrl+0 in the tree
  QShortcut* m_actualSize = nullptr;  // Ctrl+1 in the tree
  CDataBuffer m_bytes;
  std::string m_name;
  std::string m_copyOf;
  bool m_hasEntry = false;
  CEntryFacts m_facts;
  PreviewMode m_mode = PreviewMode::Rules;
};

// "512 × 512, DXT5, 9 mipmaps", "256 × 256, TGA, 32 bits a pixel".
QString ImageFactsText(const CImageFacts& image);
// "WAV, PCM, 22050 Hz, 1 channel, 16-bit, 1.52 s".
QString SoundFactsText(const CSoundFacts& sound);
// The view an entry gets unless the user chose another for its extension.
PreviewMode DefaultMode(const CEntryFacts& facts);
