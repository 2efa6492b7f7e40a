#include "app/search/rules_search_job.h"

#include <QMetaObject>
#include <QString>

#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "app/document/status_text.h"
#include "rules/search_entries.h"

void CFoundRows::Append(const CFoundRows& other) {
  const auto shift = static_cast<uint32_t>(text.size());
  text += other.text;
  for (CRow row : other.rows) {
    row.block += shift;
    row.name += shift;
    row.value += shift;
    rows.push_back(row);
  }
}

namespace {

std::string_view ViewOf(const CDataBuffer& bytes) { return bytes.View(); }

}  // namespace

CRulesSearchJob::CRulesSearchJob(std::shared_ptr<const CEntryMap> map, std::string pattern,
                                 QObject* receiver, Deliver deliver, Finish finish,
                                 CPendingEntries pending)
    : m_map(std::move(map)),
      m_whole(m_map->GetWhole()),
      m_opened(m_map->size()),
      m_pattern(std::move(pattern)),
      m_receiver(receiver),
      m_deliver(std::move(deliver)),
      m_finish(std::move(finish)) {
  const CEntryMap& entries = *m_map;
  if (!entries.IsMapped() && !entries.empty()) {
    // Not mapped: the job reads each entry where it lies, through the open
    // file the map keeps.
    m_places.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
      m_places.push_back({entries.OffsetAt(i), entries.SizeAt(i), &entries.FileAt(i)});
    m_entries.resize(entries.size());
  } else {
    m_entries.reserve(entries.size() + pending.added.size());
    for (size_t i = 0; i < entries.size(); ++i) m_entries.push_back(entries.BytesAt(i));
  }
  m_isPending.resize(m_entries.size());
  for (auto& [position, bytes] : pending.changed) {
    if (position >= m_entries.size()) continue;
    m_entries[position] = ViewOf(bytes);
    m_isPending[position] = true;
    m_pending.push_back(std::move(bytes));
  }
  if (!pending.added.empty() || !pending.shadowed.empty()) MergeAdded(entries, pending);
  if (const std::error_code refused = m_beside.Start([this] { Run(); })) {
    const QString failure = QString::fromLocal8Bit(refused.message().c_str());
    QMetaObject::invokeMethod(
        receiver, [finish = m_finish, failure] { finish(Outcome::Failed, failure); },
        Qt::QueuedConnection);
  }
}

void CRulesSearchJob::MergeAdded(const CEntryMap& entries, CPendingEntries& pending) {
  std::vector<std::pair<std::string, CDataBuffer>>& added = pending.added;
  m_copies = std::move(pending.shadowed);
  m_copyArchives = std::move(pending.copyArchives);
  m_copyMaps = std::move(pending.copyMaps);
  m_copyBuffers = std::move(pending.copyBuffers);
  // Searched in the tree's order, names in byte order, so the matches come
  // as `tarn grep` would list them in the archive saved; a name's shadowed
  // copies, in load order, right after it.
  std::vector<std::string_view> merged;
  std::vector<bool> pendingMerged;
  merged.reserve(m_entries.size() + added.size() + m_copies.size());
  size_t position = 0, k = 0, c = 0;
  const auto putCopies = [&](size_t after) {
    for (; c < m_copies.size() && m_copies[c].after <= after; ++c) {
      m_order.push_back(-1 - static_cast<int64_t>(added.size() + c));
      merged.push_back(m_copies[c].bytes);
      pendingMerged.push_back(true);
    }
  };
  while (position < m_opened || k < added.size()) {
    if (k == added.size() || (position < m_opened && entries.NameAt(position) < added[k].first)) {
      m_order.push_back(static_cast<int64_t>(position));
      merged.push_back(m_entries[position]);
      pendingMerged.push_back(m_isPending[position]);
      putCopies(position++);
    } else {
      m_order.push_back(-1 - static_cast<int64_t>(m_added.size()));
      merged.push_back(ViewOf(added[k].second));
      pendingMerged.push_back(true);
      m_added.push_back(std::move(added[k].first));
      m_pending.push_back(std::move(added[k].second));
      ++k;
    }
  }
  putCopies(SIZE_MAX);
  m_entries.swap(merged);
  m_isPending.swap(pendingMerged);
}

CRulesSearchJob::~CRulesSearchJob() {
  m_stop = true;
  m_beside.Join();
}

void CRulesSearchJob::RunUnmapped(const Collect& collect, const Hand& deliver, QString& failure) {
  // One entry at a time on this thread, into one buffer used again, so the
  // memory taken is the largest entry's; pieces handed over about every
  // mebibyte, as the mapped search does.
  constexpr size_t kPieceBytes = size_t{1} << 20;
  CRulesSearch search(m_pattern, true);
  CFoundRows chunk;
  std::string bytes;
  size_t pending = 0;
  for (size_t entry = 0; entry < m_entries.size(); ++entry) {
    if (m_stop.load(std::memory_order_relaxed)) return;
    if (!m_isPending[entry]) {
      const CPlace& place = m_places[m_order.empty() ? entry : static_cast<size_t>(m_order[entry])];
      bytes.resize(place.size);
      if (const CStatus read = place.file->ReadAt(place.offset, bytes.data(), place.size);
          !read.IsOk()) {
        failure = QString::fromStdString("cannot read the archive: " + read.GetWords());
        return;
      }
    }
    const std::string_view searched =
        m_isPending[entry] ? m_entries[entry] : std::string_view(bytes);
    search.SearchEntry(searched, [&](const CRulesMatch& match) { collect(chunk, entry, match); });
    pending += searched.size();
    if (pending >= kPieceBytes || entry + 1 == m_entries.size()) {
      deliver(chunk, entry + 1);
      pending = 0;
    }
  }
}

void CRulesSearchJob::CollectRow(CFoundRows& chunk, size_t entry, const CRulesMatch& match) {
  if (m_found.fetch_add(1, std::memory_order_relaxed) >= kMostRows) {
    m_tooMany = true;
    m_stop = true;
    return;
  }
  const auto put = [&chunk](std::string_view bytes, uint32_t& at, uint32_t& size) {
    at = static_cast<uint32_t>(chunk.text.size());
    size = static_cast<uint32_t>(bytes.size());
    chunk.text.append(bytes);
  };
  CFoundRows::CRow row{static_cast<uint32_t>(entry),
                       static_cast<uint32_t>(match.row),
                       match.cells.depth,
                       0,
                       0,
                       0,
                       0,
                       0,
                       0};
  if (!chunk.rows.empty() && chunk.rows.back().entry == row.entry &&
      chunk.lastBlock == match.block.data()) {
    row.block = chunk.rows.back().block;
    row.blockSize = chunk.rows.back().blockSize;
  } else {
    put(match.block, row.block, row.blockSize);
    chunk.lastBlock = match.block.data();
  }
  put(match.cells.name, row.name, row.nameSize);
  put(match.cells.value, row.value, row.valueSize);
  chunk.rows.push_back(row);
}

void CRulesSearchJob::Run() {
  // Hands `call` to the receiver's thread; dropped when the receiver is gone.
  const auto post = [this](auto call) {
    if (QObject* receiver = m_receiver.data())
      QMetaObject::invokeMethod(receiver, std::move(call), Qt::QueuedConnection);
  };
  Outcome outcome = Outcome::Complete;
  QString failure;
  try {
    const bool fitted = WithinMemory([&] {
      const auto collect = [this](CFoundRows& chunk, size_t entry, const CRulesMatch& match) {
        CollectRow(chunk, entry, match);
      };
      const auto deliver = [&](CFoundRows& chunk, size_t done) {
        auto piece = std::make_shared<CFoundRows>(std::move(chunk));
        chunk = CFoundRows();
        post([deliver = m_deliver, piece, done] { deliver(std::move(*piece), done); });
      };
      if (!m_places.empty()) RunUnmapped(collect, deliver, failure);
      else
        SearchEntries<CFoundRows>(
            m_pattern, true, m_entries.size(), [this](size_t entry) { return m_entries[entry]; },
            collect, deliver, [this] { return m_stop.load(std::memory_order_relaxed); });
    });
    if (!fitted) failure = QStringLiteral("out of memory");
    if (!failure.isEmpty()) outcome = Outcome::Failed;
    else if (m_tooMany) outcome = Outcome::TooMany;
    else if (m_stop) outcome = Outcome::Stopped;
  } catch (const std::exception& error) {
    // Nothing may leave a thread of the pool: what the search did not
    // foresee ends it with the words it came with.
    outcome = Outcome::Failed;
    failure = QString::fromLocal8Bit(error.what());
  }
  post([finish = m_finish, outcome, failure] { finish(outcome, failure); });
}
