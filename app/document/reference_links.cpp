#include "app/document/reference_links.h"

#include "app/document/entry_text.h"
#include "rules/rules_refs.h"

QString ReferencesDescription(const CReferenceLinks& links, std::string_view value) {
  QString described;
  ForEachValueToken(value, [&](std::string_view token) {
    const std::string entry = links.DefiningEntry(token);
    if (entry.empty()) return;
    if (!described.isEmpty()) described += QStringLiteral("; ");
    described +=
        QStringLiteral("reference to %1 in %2").arg(BytesToText(token), BytesToText(entry));
  });
  return described;
}
