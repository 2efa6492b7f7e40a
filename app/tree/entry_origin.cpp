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

CEntryOrigin StandOf(const CShownOrder& order, uint32_t archive,
                     const CShownOrder::CArchiveEntry& entry, bool changed) {
  const QString own = ArchiveName(order, archive);
  switch (entry.stand) {
    case CShownOrder::Stand::LeftOut:
      return {QStringLiteral("left out"),
              QStringLiteral("left out: %1 is not loaded; shown read only").arg(own)};
    case CShownOrder::Stand::Lost: {
      const CShownOrder::CShownName& shown = order.Names()[entry.name];
      const QString winner = ArchiveName(order, shown.archive);
      const bool same = order.Archives()[archive].classes[entry.position] ==
                        order.Archives()[shown.archive].classes[shown.position];
      return {
          QStringLiteral("lost to %1").arg(winner),
          QStringLiteral("lost: a shadowed copy, %1 the one in %2, which wins; shown read only")
              .arg(same ? QStringLiteral("the same bytes as") : QStringLiteral("different from"),
                   winner)};
    }
    case CShownOrder::Stand::Unique:
    case CShownOrder::Stand::Won: break;
  }
  const bool won = entry.stand == CShownOrder::Stand::Won;
  const CEntryOrigin origin = OriginOf(order, entry.name, changed);
  QString from = won ? QStringLiteral("won") : QStringLiteral("unique");
  if (changed) from += QStringLiteral(", changed");
  return {from,
          (won ? QStringLiteral("won: ") : QStringLiteral("unique: only %1 holds it; ").arg(own)) +
              origin.description};
}
