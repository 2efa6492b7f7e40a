#include "app/tree/entry_origin.h"

#include <QStringList>

#include "app/document/entry_text.h"
#include "archive/shown_order.h"

namespace {

QString ArchiveName(const CShownOrder& order, size_t archive) {
  return BytesToText(CShownOrder::FileName(order.Archives()[archive].path));
}

}  // namespace

CEntryOrigin OriginOf(const CShownOrder& order, std::optional<size_t> position, bool changed) {
  const QString target = ArchiveName(order, order.Target());
  if (!position) return {QStringLiteral("  ") + target, QStringLiteral("added to %1").arg(target)};
  const CShownOrder::CShownName& shown = order.Names()[*position];
  QStringList shadowed;
  for (uint32_t i = shown.first; i < shown.first + shown.count; ++i) {
    const QString name = ArchiveName(order, order.Shadowed()[i].archive);
    if (!shadowed.contains(name)) shadowed << name;
  }
  const QString winner = ArchiveName(order, shown.archive);
  if (changed) {
    QString words = QStringLiteral("changed, to be written to %1").arg(target);
    if (shown.archive != order.Target()) words += QStringLiteral(" over %1").arg(winner);
    return {QStringLiteral("! ") + target, words};
  }
  const QChar mark = QLatin1Char(shown.mark);
  if (shown.count == 0) return {QStringLiteral("  ") + winner, QStringLiteral("from %1").arg(winner)};
  return {QString(mark) + QLatin1Char(' ') + winner,
          QStringLiteral("from %1; overrides %2 copies in %3")
              .arg(winner, shown.mark == '=' ? QStringLiteral("identical")
                                             : QStringLiteral("different"),
                   shadowed.join(QStringLiteral(", ")))};
}
