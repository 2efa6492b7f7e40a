// The hex view: any entry's bytes as rows of an offset, 16 bytes in hex and
// the same 16 as text (Windows-1252, control bytes as dots).
//
// Painted by hand over a scroll range of the entry's rows, so only the rows
// in sight are ever read: a 1 GB entry shows as fast as a small one. Ctrl+G
// goes to an offset, Ctrl+F finds bytes given as text or hex (F3 the next),
// and a selection of bytes copies as hex (Ctrl+C) or as text (Ctrl+Shift+C).
#pragma once

#include <QAbstractScrollArea>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "storage/data_buffer.h"

class CHexView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr int kBytesPerRow = 16;

  CHexView();
  ~CHexView() override;

  // Shows `bytes` from the first row, nothing selected; keeps a share.
  void SetBytes(const CDataBuffer& bytes);
  uint64_t GetSize() const { return m_bytes.size(); }

  // Scrolls `offset` into view as the top row and selects that byte; false
  // past the end.
  bool GoTo(uint64_t offset);
  // Selects the next occurrence of `needle` after the selection's start,
  // wrapping around; false when there is none.
  bool Find(const std::string& needle);
  // The same for the user's Find and F3: in an entry of more than
  // kFindHereBytes beside the window, which Escape or another entry stops,
  // the status bar saying so; "Bytes not found" when there are none.
  static constexpr uint64_t kFindHereBytes = uint64_t{64} << 20;
  void FindForUser(const std::string& needle);
  bool IsFinding() const { return m_finding != nullptr; }
  uint64_t GetTopRow() const;
  // The selected bytes [first, last], or nothing.
  std::optional<std::pair<uint64_t, uint64_t>> GetSelection() const;
  void Select(uint64_t first, uint64_t last);
  // The selected bytes as "4D 5A 90" or as text.
  QString SelectionAsHex() const;
  QString SelectionAsText() const;

  // Asks for an offset (decimal, or hex after "0x") and goes there.
  void AskGoTo();
  // Asks for bytes to find: hex pairs ("4D 5A") or, failing that, text;
  // text in double quotes is always text.
  void AskFind();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void UpdateScrollRange();
  // Where a search for the next match starts: after the selection's start.
  size_t FindFrom() const;
  // Scrolls to and selects the match of `size` bytes at `at`.
  void ShowFound(uint64_t at, size_t size);
  struct CFinding;
  // Starts the search beside the window; false when no thread could start.
  bool FindBeside(const std::string& needle);
  void StopFinding();
  void OnFound(uint64_t generation);
  uint64_t RowCount() const;
  std::optional<uint64_t> OffsetAt(QPoint point) const;
  int RowHeight() const;
  int CharWidth() const;

  CDataBuffer m_buffer;  // keeps the bytes alive
  std::string_view m_bytes;
  uint64_t m_anchor = 0;
  uint64_t m_cursor = 0;
  bool m_selected = false;
  std::string m_lastNeedle;
  std::unique_ptr<CFinding> m_finding;  // a search beside the window, while it runs
  uint64_t m_findings = 0;              // searches started, to tell a late answer
};

// Where `needle` next starts in `bytes` at or after `from`, else from the
// start as far as a match that starts before `from`; nothing when there is
// none, or when `stop` was set meanwhile (it is heeded every few MB).
std::optional<uint64_t> FindNextBytes(std::string_view bytes, std::string_view needle, size_t from,
                                      const std::atomic<bool>& stop);

// Bytes from what a user typed to find: hex pairs with optional spaces, or
// the text's bytes (Windows-1252) when it is not hex or is in double quotes.
// Nothing for an empty needle or a character that stands for no byte.
std::optional<std::string> NeedleBytes(const QString& typed);
