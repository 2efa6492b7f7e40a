// The frame's status bar: a message pane that stretches and shows the idle
// message, followed by indicator panes. The Caps Lock, Num Lock and Scroll
// Lock indicators show their key's state where the platform reports it (the
// text when on, blank when off) and stay dimmed where it cannot say.
#pragma once

#include <QStatusBar>

#include <optional>
#include <vector>

class QLabel;
class QMainWindow;

enum class LockKey { Caps, Num, Scroll };

// The key's state, or nothing when the platform does not tell.
std::optional<bool> QueryLockKey(LockKey key);

class CStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  CStatusBar() = default;
  ~CStatusBar() override;

  // Becomes the status bar of `parent`, at its bottom. False without a parent.
  bool Create(QMainWindow* parent);
  // One pane per id: ID_SEPARATOR for the message pane, or one of the three
  // lock indicators. False (and no panes) for any other id.
  bool SetIndicators(const int* ids, int count);

  int GetPaneCount() const { return static_cast<int>(m_panes.size()); }
  int GetItemId(int index) const { return m_panes.at(index).id; }
  QLabel* GetPane(int index) const { return m_panes.at(index).label; }
  // Shows the lock keys' current state.
  void UpdateIndicators();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct CPane {
    int id;
    QLabel* label;
  };
  std::vector<CPane> m_panes;
  bool m_filtering = false;
};
