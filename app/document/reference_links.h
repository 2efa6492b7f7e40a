// What the views show of the references between rules blocks, and ask of
// them: which tokens of a value name a defined block, where that block is,
// and what else is written with a key. The references feature answers from
// an index it builds beside the window; until the first is built every
// answer is empty, and `rebuilt` says when one is (the views repaint).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// A row that Find References or Problems lists: what it is to them ("def",
// "use", "unresolved", "duplicate"), where it is, and its cells as the
// list shows them.
struct CMarkedRow {
  std::string mark;
  std::string entry;
  size_t row = 0;  // among the entry's rows in the list
  std::string block;
  uint32_t depth = 0;
  std::string name;
  std::string value;
};

class CReferenceLinks : public QObject {
  Q_OBJECT

 public:
  // Whether `token` names a defined block.
  virtual bool IsDefined(std::string_view token) const = 0;
  // The entry of the first definition of `name`; empty when none.
  virtual std::string DefiningEntry(std::string_view name) const = 0;
  // The definition's entry and its first rows, for a tooltip.
  virtual QString DefinitionPreview(std::string_view name) const = 0;
  // Asks what the value of a `key` row may be, most likely first: the
  // names of the blocks its references lead to, then the other values used
  // with it. Found beside the window, as that reads every entry using the
  // key; `deliver` gets them on the window's thread, unless `receiver` has
  // gone. A later question takes the place of one still waiting.
  virtual void AskCompletions(std::string_view key, QObject* receiver,
                              std::function<void(const QStringList&)> deliver) = 0;

 signals:
  void rebuilt();
};

// "reference to BLOCK in ENTRY" for each token of `value` that names a
// defined block, joined by "; "; empty when none does.
QString ReferencesDescription(const CReferenceLinks& links, std::string_view value);
