#include "app/refs/reference_places.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "app/document/entry_text.h"

namespace {

// A row that names or defines what is looked for.
struct CHit {
  uint32_t entry;
  uint32_t row;
  const char* mark;
};

// The hits with their cells, entry by entry, each entry parsed once.
std::vector<CMarkedRow> MarkRows(const CRulesIndex& index, std::vector<CHit>& hits) {
  std::sort(hits.begin(), hits.end(), [](const CHit& a, const CHit& b) {
    return std::tie(a.entry, a.row) < std::tie(b.entry, b.row);
  });
  hits.erase(std::unique(
                 hits.begin(), hits.end(),
                 [](const CHit& a, const CHit& b) { return a.entry == b.entry && a.row == b.row; }),
             hits.end());
  std::vector<CMarkedRow> marked;
  marked.reserve(hits.size());
  CRulesParser parser;
  std::vector<uint32_t> rows;
  for (size_t i = 0; i < hits.size();) {
    const uint32_t entry = hits[i].entry;
    const size_t first = i;
    rows.clear();
    for (; i < hits.size() && hits[i].entry == entry; ++i) rows.push_back(hits[i].row);
    const CRulesSource& source = index.Sources()[entry];
    size_t at = first;
    ForEachRowNumbered(
        parser, source.Bytes(), rows,
        [&](uint32_t row, std::string_view block, const CRulesRow& cells) {
          marked.push_back({hits[at++].mark, std::string(source.Name()), row, std::string(block),
                            cells.depth, std::string(cells.name), std::string(cells.value)});
        });
  }
  return marked;
}

// The row of each block of `bytes` by its name, as the list shows them:
// views of the parser's text, valid until it parses again.
using CBlockRowsMap = std::unordered_map<std::string_view, uint32_t>;
void MapBlockRows(CRulesParser& parser, std::string_view bytes, CBlockRowsMap& blocks) {
  blocks.clear();
  parser.SetSourceBytes(bytes);
  parser.Parse();
  uint32_t row = 0;
  parser.ForEachRow([&](const CRulesRow& cells) {
    if (cells.depth == 0) blocks.emplace(cells.name, row);
    ++row;
  });
}

// The row of each definition's block in its entry, each entry parsed
// once: a name defined thousands of times in one entry had it parsed for
// each, on the window's thread.
std::vector<uint32_t> DefinitionRows(const CRulesIndex& index,
                                     const std::vector<const CRulesDefinition*>& definitions) {
  std::vector<size_t> order(definitions.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return definitions[a]->entry < definitions[b]->entry;
  });
  std::vector<uint32_t> rows(definitions.size(), 0);
  CRulesParser parser;
  CBlockRowsMap blocks;
  uint32_t parsed = UINT32_MAX;
  for (const size_t i : order) {
    if (definitions[i]->entry != parsed) {
      parsed = definitions[i]->entry;
      MapBlockRows(parser, index.Sources()[parsed].Bytes(), blocks);
    }
    const auto found = blocks.find(index.NameOf(*definitions[i]));
    if (found != blocks.end()) rows[i] = found->second;
  }
  return rows;
}

}  // namespace

std::optional<size_t> BlockRow(std::string_view bytes, std::string_view name) {
  CRulesParser parser;
  CBlockRowsMap blocks;
  MapBlockRows(parser, bytes, blocks);
  const auto found = blocks.find(name);
  return found != blocks.end() ? std::optional<size_t>(found->second) : std::nullopt;
}

std::optional<CRowPlace> DefinitionPlace(const CRulesIndex& index, std::string_view name) {
  const CRulesDefinition* first = index.FirstDefinitionOf(name);
  if (first == nullptr) return std::nullopt;
  const CRulesSource& source = index.Sources()[first->entry];
  const std::optional<size_t> row = BlockRow(source.Bytes(), name);
  if (!row) return std::nullopt;
  return CRowPlace{std::string(source.Name()), *row};
}

QString DefinitionPreview(const CRulesIndex& index, std::string_view name, size_t rows) {
  const CRulesDefinition* first = index.FirstDefinitionOf(name);
  if (first == nullptr) return QString();
  const CRulesSource& source = index.Sources()[first->entry];
  QString preview = BytesToText(source.Name());
  CRulesParser parser;
  parser.SetSourceBytes(source.Bytes());
  parser.Parse();
  bool inBlock = false;
  size_t shown = 0;
  parser.ForEachRow([&](const CRulesRow& cells) {
    if (cells.depth == 0) inBlock = cells.name == name && shown == 0;
    if (!inBlock || shown == rows) return;
    ++shown;
    preview += QLatin1Char('\n');
    preview += cells.depth == 0
                   ? BytesToText(cells.value) + QLatin1Char(' ') + BytesToText(cells.name)
                   : IndentedBytesToText(size_t{4} * cells.depth, cells.name) + QLatin1Char(' ') +
                         BytesToText(cells.value);
  });
  return preview;
}

std::vector<CMarkedRow> ReferenceRows(const CRulesIndex& index, std::string_view name) {
  std::vector<CHit> hits;
  const std::vector<const CRulesDefinition*> definitions = index.DefinitionsOf(name);
  const std::vector<uint32_t> rows = DefinitionRows(index, definitions);
  for (size_t i = 0; i < definitions.size(); ++i)
    hits.push_back({definitions[i]->entry, rows[i], "def"});
  const std::vector<CRulesUse> uses =
      index.IsDefined(name) ? index.UsesOf(name) : index.SearchUses(name);
  for (const CRulesUse& use : uses) hits.push_back({use.entry, use.row, "use"});
  return MarkRows(index, hits);
}

std::vector<CMarkedRow> ProblemRows(const CRulesIndex& index) {
  std::vector<CHit> hits;
  for (const CRulesUnresolved& row : index.Unresolved())
    hits.push_back({row.entry, row.row, "unresolved"});
  std::vector<CMarkedRow> problems = MarkRows(index, hits);
  const std::vector<CRulesDuplicate> duplicates = index.Duplicates();
  std::vector<const CRulesDefinition*> definitions;
  for (const CRulesDuplicate& duplicate : duplicates)
    for (const uint32_t d : duplicate.definitions) definitions.push_back(&index.Definitions()[d]);
  const std::vector<uint32_t> rows = DefinitionRows(index, definitions);
  size_t at = 0;
  for (const CRulesDuplicate& duplicate : duplicates) {
    for (const uint32_t d : duplicate.definitions) {
      const CRulesDefinition& definition = index.Definitions()[d];
      problems.push_back({"duplicate", std::string(index.Sources()[definition.entry].Name()),
                          rows[at++], std::string(duplicate.name), 0, std::string(duplicate.name),
                          std::string(duplicate.keyword)});
    }
  }
  return problems;
}

QStringList CompletionsOf(const CRulesIndex& index, std::string_view key) {
  const std::vector<std::pair<std::string_view, uint64_t>> values = index.ValuesUsedWith(key);
  // Each token looked up once: values differ by a word or two, and a name
  // defined thousands of times would be listed again for each.
  std::set<std::string_view> keywords;
  std::unordered_set<std::string_view> looked;
  for (const auto& [value, count] : values) {
    ForEachValueToken(value, [&](std::string_view token) {
      if (!looked.insert(token).second) return;
      for (const CRulesDefinition* definition : index.DefinitionsOf(token))
        keywords.insert(index.KeywordOf(*definition));
    });
  }
  const std::vector<std::string_view> names =
      index.NamesOfKeywords(std::vector<std::string_view>(keywords.begin(), keywords.end()));
  QStringList offered;
  offered.reserve(static_cast<qsizetype>(names.size() + values.size()));
  for (const std::string_view name : names) offered << BytesToText(name);
  // The values are each once already; a value that is one name is offered
  // as the name.
  for (const auto& [value, count] : values)
    if (!std::binary_search(names.begin(), names.end(), value)) offered << BytesToText(value);
  return offered;
}

void CPlaceHistory::Leave(CRowPlace from) {
  if (!m_back.empty() && m_back.back() == from) return;
  if (m_back.size() == kMostPlaces) m_back.erase(m_back.begin());
  m_back.push_back(std::move(from));
  m_forward.clear();
}

std::optional<CRowPlace> CPlaceHistory::Back(CRowPlace current) {
  if (m_back.empty()) return std::nullopt;
  CRowPlace place = std::move(m_back.back());
  m_back.pop_back();
  m_forward.push_back(std::move(current));
  return place;
}

std::optional<CRowPlace> CPlaceHistory::Forward(CRowPlace current) {
  if (m_forward.empty()) return std::nullopt;
  CRowPlace place = std::move(m_forward.back());
  m_forward.pop_back();
  m_back.push_back(std::move(current));
  return place;
}
