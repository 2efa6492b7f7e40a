// What going to a definition, finding references, the problems list and the
// value editor's completion make of a references index: plain functions
// over CRulesIndex, which the window's commands and the tests call alike.
// Rows are numbered as the entry list shows them (and `tarn show` prints
// them): blocks in name order, a block's lines after it.
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/document/reference_links.h"
#include "rules/rules_refs.h"

// A place in a window's archive: an entry, and a row of its list.
struct CRowPlace {
  std::string entry;
  size_t row = 0;

  bool operator==(const CRowPlace&) const = default;
};

// The row of the block `name` among the rows of `bytes`; nothing when no
// block has that name.
std::optional<size_t> BlockRow(std::string_view bytes, std::string_view name);
// Where the first definition of `name` is shown; nothing when none.
std::optional<CRowPlace> DefinitionPlace(const CRulesIndex& index, std::string_view name);
// The definition's entry and its first `rows` rows, one a line.
QString DefinitionPreview(const CRulesIndex& index, std::string_view name, size_t rows = 8);

// The definitions of `name` ("def") and every row naming it ("use"), in
// entry then row order, as `tarn refs` lists them. A name nothing defines
// gives the rows that hold it as a token.
std::vector<CMarkedRow> ReferenceRows(const CRulesIndex& index, std::string_view name);
// What `tarn lint` finds: each unresolved row ("unresolved"), then each
// definition of a name defined twice or more ("duplicate").
std::vector<CMarkedRow> ProblemRows(const CRulesIndex& index);

// The values offered for a `key` row: the names of the blocks of every
// keyword that the key's references lead to (byte order), then the other
// values used with the key, the most used first; each once.
QStringList CompletionsOf(const CRulesIndex& index, std::string_view key);

// Back and Forward through the places a window went to, as a browser goes
// through pages: going somewhere new forgets what lay forward.
class CPlaceHistory {
 public:
  // Leaving `from` for another place.
  void Leave(CRowPlace from);
  // The place before, with `current` kept for Forward; nothing at the start.
  std::optional<CRowPlace> Back(CRowPlace current);
  std::optional<CRowPlace> Forward(CRowPlace current);
  bool CanGoBack() const { return !m_back.empty(); }
  bool CanGoForward() const { return !m_forward.empty(); }

 private:
  // Enough for any session; the oldest go first.
  static constexpr size_t kMostPlaces = 100;
  std::vector<CRowPlace> m_back;
  std::vector<CRowPlace> m_forward;
};
