// Noticing that another program changed an open archive on disk.
//
// A document's watch looks at the archive's file (each archive's, for a
// load order) when the system says it changed, and again whenever the
// application comes back to the front (a change on a network share, or one
// the system did not report). What it finds goes to the frames through
// `changed`: they show a bar across the window offering to reload, or to
// keep what the window shows.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

#include "archive/shown_archive.h"

class CDiskWatch : public QObject {
  Q_OBJECT

 public:
  // `check` tells how the opened file stands now.
  explicit CDiskWatch(std::function<DiskChange()> check);

  // Watches `path` (empty: nothing), the archive just opened or reloaded;
  // what was seen before is forgotten.
  void Watch(const QString& path);
  // The same for several files, as a load order's archives.
  void Watch(const QStringList& paths);
  // Looks now, and says so when the answer is news.
  void CheckNow();
  // The user chose to keep what the window shows: the same state is not
  // reported again, a further change is.
  void Keep();
  DiskChange GetLast() const { return m_last; }

 signals:
  void changed(DiskChange change);

 private:
  std::vector<std::optional<CFileStamp>> StampsNow() const;

  std::function<DiskChange()> m_check;
  QFileSystemWatcher m_watcher;
  QTimer m_settle;  // a writer's burst of changes is looked at once
  QStringList m_paths;
  DiskChange m_last = DiskChange::None;
  // The stamps of the files at the paths (none: nothing there) when the
  // user kept theirs.
  bool m_keeping = false;
  std::vector<std::optional<CFileStamp>> m_kept;
};

// The words of the bar for `change` of the archive at `path` (shown as the
// user would type it); `pastEnd` names the entries that now read as zeros.
QString DiskChangeText(DiskChange change, const QString& path, const QString& pastEnd);
