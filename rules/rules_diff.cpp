#include "rules/rules_diff.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_map>

#include "rules/rules_rows.h"

namespace {

struct RowHash {
  size_t operator()(const CRulesRow& row) const {
    const std::hash<std::string_view> hash;
    return hash(row.name) * 31 ^ hash(row.value) ^ (size_t{row.depth} << 1);
  }
};
struct RowEqual {
  bool operator()(const CRulesRow& a, const CRulesRow& b) const { return SameRow(a, b); }
};

// Each row as a number, equal rows the same number, so the search compares
// words rather than strings.
void NumberRows(std::span<const CRulesRow> before, std::span<const CRulesRow> after,
                std::vector<uint32_t>& a, std::vector<uint32_t>& b) {
  std::unordered_map<CRulesRow, uint32_t, RowHash, RowEqual> numbers;
  numbers.reserve(before.size() + after.size());
  const auto number = [&](const CRulesRow& row) {
    return numbers.try_emplace(row, static_cast<uint32_t>(numbers.size())).first->second;
  };
  a.reserve(before.size());
  b.reserve(after.size());
  for (const CRulesRow& row : before) a.push_back(number(row));
  for (const CRulesRow& row : after) b.push_back(number(row));
}

// A script of more lines than this is not looked for, whatever the budget:
// the points kept for the walk back grow with the square of the cost
// (16 MiB at this cost).
constexpr int64_t kMostCost = 2048;

// Myers' greedy search for a shortest path through the edit graph of a and
// b, keeping the furthest point of every diagonal at every cost so that the
// path can be walked back. Only points inside the graph are kept: a
// diagonal no path can reach inside it at a cost holds -1. Appends the
// edits (rows counted from 0 in a and b) in reverse order; false when the
// budget runs out first.
class CMyersSearch {
 public:
  CMyersSearch(std::span<const uint32_t> a, std::span<const uint32_t> b)
      : m_a(a), m_b(b), m_n(static_cast<int64_t>(a.size())), m_m(static_cast<int64_t>(b.size())) {}

  bool Run(size_t budget, std::vector<CRowEdit>& reversed) {
    size_t steps = 0;
    // The cost can be no more than every row removed and every row added;
    // the points kept grow with its square, hence the cap.
    const int64_t most = std::min<int64_t>(m_n + m_m, kMostCost);
    for (int64_t d = 0; d <= most; ++d) {
      const size_t base = m_furthest.size();
      m_furthest.resize(base + static_cast<size_t>(2 * d + 1), -1);
      for (int64_t k = -d; k <= d; k += 2) {
        int64_t x = Start(d, k);
        if (x < 0) continue;
        int64_t y = x - k;
        const int64_t from = x;
        while (x < m_n && y < m_m && m_a[static_cast<size_t>(x)] == m_b[static_cast<size_t>(y)])
          ++x, ++y;
        steps += 1 + static_cast<size_t>(x - from);
        m_furthest[base + static_cast<size_t>(k + d)] = static_cast<int32_t>(x);
        if (k == m_n - m_m && x == m_n) {
          WalkBack(d, reversed);
          return true;
        }
      }
      if (steps > budget) return false;
    }
    return false;
  }

 private:
  // The furthest x on diagonal k at cost d, or -1.
  int64_t At(int64_t d, int64_t k) const {
    if (d < 0 || k < -d || k > d) return -1;
    return m_furthest[static_cast<size_t>(d * d + k + d)];
  }
  // Where the run on diagonal k at cost d starts: one step down from
  // diagonal k + 1 (a row of b added) or right from k - 1 (a row of a
  // removed), whichever reaches further while staying inside; -1 when
  // neither does. Sets m_down for the walk back.
  int64_t Start(int64_t d, int64_t k) {
    if (d == 0) return 0;
    const int64_t fromAbove = At(d - 1, k + 1);
    const int64_t down = fromAbove >= 0 && fromAbove - k <= m_m ? fromAbove : -1;
    const int64_t fromLeft = At(d - 1, k - 1);
    const int64_t right = fromLeft >= 0 && fromLeft + 1 <= m_n ? fromLeft + 1 : -1;
    m_down = down >= 0 && down >= right;
    return m_down ? down : right;
  }
  void WalkBack(int64_t cost, std::vector<CRowEdit>& reversed) {
    int64_t x = m_n;
    int64_t y = m_m;
    for (int64_t d = cost; d > 0; --d) {
      const int64_t k = x - y;
      Start(d, k);
      if (m_down) {
        const int64_t before = At(d - 1, k + 1);
        reversed.push_back({true, static_cast<uint32_t>(before - (k + 1))});
        x = before;
        y = before - (k + 1);
      } else {
        const int64_t before = At(d - 1, k - 1);
        reversed.push_back({false, static_cast<uint32_t>(before)});
        x = before;
        y = before - (k - 1);
      }
    }
  }

  std::span<const uint32_t> m_a;
  std::span<const uint32_t> m_b;
  int64_t m_n;
  int64_t m_m;
  // The furthest x of diagonals -d..d at cost d, costs one after another:
  // cost d starts at d * d.
  std::vector<int32_t> m_furthest;
  bool m_down = false;
};

// Puts each run of edits with no kept row between in the order removals,
// then additions; the rows are numbered in the whole sequences.
void Arrange(std::vector<CRowEdit>& edits) {
  uint32_t oldNext = 0, newNext = 0;  // the rows after the previous run
  size_t i = 0;
  while (i < edits.size()) {
    // The rows kept before a run are as many on both sides.
    const size_t start = i;
    const uint32_t kept = edits[i].added ? edits[i].row - newNext : edits[i].row - oldNext;
    uint32_t o = oldNext + kept, n = newNext + kept;
    for (; i < edits.size(); ++i) {
      const CRowEdit& edit = edits[i];
      if (edit.row != (edit.added ? n : o)) break;
      (edit.added ? n : o) += 1;
    }
    std::stable_partition(edits.begin() + static_cast<std::ptrdiff_t>(start),
                          edits.begin() + static_cast<std::ptrdiff_t>(i),
                          [](const CRowEdit& e) { return !e.added; });
    oldNext = o;
    newNext = n;
  }
}

}  // namespace

CRowDiff DiffRows(std::span<const CRulesRow> before, std::span<const CRulesRow> after,
                  size_t budget) {
  size_t head = 0;
  while (head < before.size() && head < after.size() && SameRow(before[head], after[head])) ++head;
  size_t tail = 0;
  while (tail < before.size() - head && tail < after.size() - head &&
         SameRow(before[before.size() - 1 - tail], after[after.size() - 1 - tail]))
    ++tail;
  const auto oldRows = before.subspan(head, before.size() - head - tail);
  const auto newRows = after.subspan(head, after.size() - head - tail);
  CRowDiff diff;
  if (oldRows.empty() && newRows.empty()) return diff;
  if (budget == 0) budget = DefaultDiffBudget(oldRows.size() + newRows.size());

  std::vector<CRowEdit> reversed;
  if (!oldRows.empty() && !newRows.empty()) {
    std::vector<uint32_t> a, b;
    NumberRows(oldRows, newRows, a, b);
    CMyersSearch search(a, b);
    diff.aligned = search.Run(budget, reversed);
  }
  if (!diff.aligned || oldRows.empty() || newRows.empty()) {
    reversed.clear();
    for (size_t r = newRows.size(); r-- > 0;) reversed.push_back({true, static_cast<uint32_t>(r)});
    for (size_t r = oldRows.size(); r-- > 0;) reversed.push_back({false, static_cast<uint32_t>(r)});
  }
  diff.edits.assign(reversed.rbegin(), reversed.rend());
  for (CRowEdit& edit : diff.edits) edit.row += static_cast<uint32_t>(head);
  Arrange(diff.edits);
  return diff;
}

std::vector<CBlockRows> SplitBlocks(std::span<const CRulesRow> rows) {
  std::vector<CBlockRows> blocks;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].depth != 0) continue;
    if (!blocks.empty()) blocks.back().end = r;
    blocks.push_back({rows[r].name, r, rows.size()});
  }
  return blocks;
}

std::vector<CBlockChange> CompareRules(std::span<const CRulesRow> before,
                                       std::span<const CRulesRow> after) {
  const std::vector<CBlockRows> oldBlocks = SplitBlocks(before);
  const std::vector<CBlockRows> newBlocks = SplitBlocks(after);
  std::vector<CBlockChange> changes;
  size_t i = 0, j = 0;
  while (i < oldBlocks.size() || j < newBlocks.size()) {
    // Block names are unique on each side and in byte order.
    const int order = i == oldBlocks.size()   ? 1
                      : j == newBlocks.size() ? -1
                                              : oldBlocks[i].name.compare(newBlocks[j].name);
    if (order < 0) {
      changes.push_back({CBlockChange::Removed, oldBlocks[i].name, oldBlocks[i], {}, {}});
      ++i;
    } else if (order > 0) {
      changes.push_back({CBlockChange::Added, newBlocks[j].name, {}, newBlocks[j], {}});
      ++j;
    } else {
      const CBlockRows& o = oldBlocks[i++];
      const CBlockRows& n = newBlocks[j++];
      CRowDiff diff = DiffRows(before.subspan(o.first, o.end - o.first),
                               after.subspan(n.first, n.end - n.first));
      if (!diff.edits.empty())
        changes.push_back({CBlockChange::Changed, o.name, o, n, std::move(diff)});
    }
  }
  return changes;
}

bool LooksLikeRulesText(std::string_view bytes) {
  constexpr size_t kLook = 8192;
  return std::memchr(bytes.data(), 0, std::min(bytes.size(), kLook)) == nullptr;
}

bool CRulesTextPair::Parse(const CDataBuffer& oldBytes, const CDataBuffer& newBytes) {
  m_oldRows.clear();
  m_newRows.clear();
  const auto text = [](const CDataBuffer& bytes) {
    return bytes.View();
  };
  if (!LooksLikeRulesText(text(oldBytes)) || !LooksLikeRulesText(text(newBytes))) return false;
  m_oldParser.SetSource(oldBytes);
  m_oldParser.Parse();
  m_newParser.SetSource(newBytes);
  m_newParser.Parse();
  m_oldRows = BuildRulesRows(m_oldParser);
  m_newRows = BuildRulesRows(m_newParser);
  return true;
}
