#include "app/document/disk_watch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include "app/document/entry_text.h"

CDiskWatch::CDiskWatch(std::function<DiskChange()> check) : m_check(std::move(check)) {
  m_settle.setSingleShot(true);
  m_settle.setInterval(200);
  connect(&m_settle, &QTimer::timeout, this, &CDiskWatch::CheckNow);
  connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { m_settle.start(); });
  // A file renamed over the archive is another file: the watch on the old
  // one ends with it, and the folder's change is what tells.
  connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_settle.start(); });
  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) CheckNow();
          });
}

void CDiskWatch::Watch(const QString& path) {
  Watch(path.isEmpty() ? QStringList() : QStringList{path});
}

void CDiskWatch::Watch(const QStringList& paths) {
  if (!m_watcher.files().isEmpty()) m_watcher.removePaths(m_watcher.files());
  if (!m_watcher.directories().isEmpty()) m_watcher.removePaths(m_watcher.directories());
  m_paths = paths;
  m_last = DiskChange::None;
  m_keeping = false;
  for (const QString& path : paths) {
    m_watcher.addPath(path);
    m_watcher.addPath(QFileInfo(path).absolutePath());
  }
}

std::vector<std::optional<CFileStamp>> CDiskWatch::StampsNow() const {
  std::vector<std::optional<CFileStamp>> stamps;
  for (const QString& path : m_paths) stamps.push_back(StampOfFile(NativePath(path)));
  return stamps;
}

void CDiskWatch::CheckNow() {
  if (m_paths.isEmpty()) return;
  // Watched anew each time: after a replace the old file's watch is gone.
  for (const QString& path : m_paths)
    if (!m_watcher.files().contains(path) && QFileInfo::exists(path)) m_watcher.addPath(path);
  const DiskChange now = m_check();
  if (m_keeping && now != DiskChange::None && StampsNow() == m_kept) return;
  if (now == m_last && !m_keeping) return;
  m_last = now;
  m_keeping = false;
  emit changed(now);
}

void CDiskWatch::Keep() {
  m_keeping = true;
  m_kept = StampsNow();
}

QString DiskChangeText(DiskChange change, const QString& path, const QString& pastEnd) {
  const QString shown = QDir::toNativeSeparators(path);
  switch (change) {
    case DiskChange::None: return {};
    case DiskChange::Replaced:
      return QStringLiteral(
                 "Another program replaced %1. The window still shows the archive as "
                 "it was opened.")
          .arg(shown);
    case DiskChange::Gone:
      return QStringLiteral(
                 "Another program removed or renamed %1. The window still shows the "
                 "archive as it was opened.")
          .arg(shown);
    case DiskChange::Rewritten:
      if (!pastEnd.isEmpty()) {
        return QStringLiteral(
                   "Another program cut %1 short: %2 now read as zeros, and cannot be "
                   "saved or extracted.")
            .arg(shown, pastEnd);
      }
      return QStringLiteral(
                 "Another program changed %1 in place: entries not changed here may "
                 "now show its bytes, and cannot be saved or extracted.")
          .arg(shown);
  }
  return {};
}
