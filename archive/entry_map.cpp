#include "archive/entry_map.h"

#include <algorithm>
#include <cassert>
#include <new>
#include <string>

#include "storage/file_stamp.h"

void CEntryMap::swap(CEntryMap& other) noexcept {
  std::swap(m_index, other.m_index);
  std::swap(m_whole, other.m_whole);
  std::swap(m_owner, other.m_owner);
  std::swap(m_file, other.m_file);
  std::swap(m_held, other.m_held);
  std::swap(m_total, other.m_total);
  std::swap(m_buffers, other.m_buffers);
  std::swap(m_composed, other.m_composed);
}

CEntryMap CEntryMap::Compose(std::vector<std::shared_ptr<const CEntryMap>> sources,
                             CLargeVector<CSourceEntry> at) {
  auto composition = std::make_shared<CComposition>();
  for (const auto& source : sources)
    if (!source->IsMapped() && !source->empty()) composition->mapped = false;
  composition->sources = std::move(sources);
  composition->kept = std::make_shared<const CLargeVector<CSourceEntry>>(std::move(at));
  composition->at = *composition->kept;
  CEntryMap composed;
  composed.m_composed = std::move(composition);
  return composed;
}

CEntryMap CEntryMap::Recompose(const CEntryMap& composed, size_t source,
                               std::shared_ptr<const CEntryMap> replacement) {
  auto composition = std::make_shared<CComposition>(*composed.m_composed);
  composition->sources[source] = std::move(replacement);
  composition->mapped =
      std::all_of(composition->sources.begin(), composition->sources.end(),
                  [](const auto& map) { return map->IsMapped() || map->empty(); });
  CEntryMap recomposed;
  recomposed.m_composed = std::move(composition);
  return recomposed;
}

const CHandleHolder& CEntryMap::FileAt(size_t position) const {
  if (!m_composed) return m_file;
  const CSourceEntry at = m_composed->at[position];
  return m_composed->sources[at.source]->FileAt(at.position);
}

bool CEntryMap::WasCutAt(size_t position) const {
  if (m_composed) {
    const CSourceEntry at = m_composed->at[position];
    return m_composed->sources[at.source]->WasCutAt(at.position);
  }
  return m_whole.IsCutOnDisk(OffsetAt(position), SizeAt(position));
}

CEntryMap::const_iterator CEntryMap::find(std::string_view name) const {
  if (m_composed) {
    size_t low = 0, high = size();
    while (low < high) {
      const size_t middle = low + (high - low) / 2;
      if (NameAt(middle) < name)
        low = middle + 1;
      else
        high = middle;
    }
    return low < size() && NameAt(low) == name ? const_iterator(this, low) : end();
  }
  const CBigIndex& index = m_index.Get();
  const auto found = index.find(name);
  return found == index.end() ? end()
                              : const_iterator(this, static_cast<size_t>(found - index.begin()));
}

CResult<CDataBuffer> CEntryMap::Get(std::string_view name) const {
  const auto found = find(name);
  if (found == end()) return CStatus::Of(CStatus::Kind::NotFound, std::string(name));
  return BufferAt(found.Position());
}

uint32_t CEntryMap::OffsetAt(size_t position) const {
  if (m_composed) {
    const CSourceEntry at = m_composed->at[position];
    return m_composed->sources[at.source]->OffsetAt(at.position);
  }
  return std::min(m_index.Get().EntryAt(position).offset, m_total);
}

uint32_t CEntryMap::SizeAt(size_t position) const {
  // Offsets and sizes are unsigned in the index; clamp them here, in 64
  // bits, so a value of 2^31 or more can never become a negative offset.
  if (m_composed) {
    const CSourceEntry at = m_composed->at[position];
    return m_composed->sources[at.source]->SizeAt(at.position);
  }
  const CBigEntry entry = m_index.Get().EntryAt(position);
  const uint64_t total = m_total;
  const uint64_t begin = std::min<uint64_t>(entry.offset, total);
  return static_cast<uint32_t>(std::min<uint64_t>(entry.size, total - begin));
}

uint32_t CEntryMap::ClaimedSizeAt(size_t position) const {
  if (m_composed) {
    const CSourceEntry at = m_composed->at[position];
    return m_composed->sources[at.source]->ClaimedSizeAt(at.position);
  }
  return m_index.Get().EntryAt(position).size;
}

std::string CEntryMap::CutShortWords(size_t position) const {
  const uint32_t present = SizeAt(position), claimed = ClaimedSizeAt(position);
  if (claimed <= present) return {};
  return "cut short by the end of the archive (" + std::to_string(present) + " of " +
         std::to_string(claimed) + " bytes)";
}

bool CEntryMap::MayReachPastEnd() const {
  if (m_composed)
    return std::any_of(m_composed->sources.begin(), m_composed->sources.end(),
                       [](const auto& source) { return source->MayReachPastEnd(); });
  return m_index.Get().FurthestEnd() > m_total;
}

const CDataBuffer& CEntryMap::BufferAt(size_t position, CStatus* problem) const {
  if (m_composed) {
    const CSourceEntry at = m_composed->at[position];
    return m_composed->sources[at.source]->BufferAt(at.position, problem);
  }
  // Within the room the open took: no allocation, no move, no throw.
  assert(m_buffers.capacity() >= size());
  if (m_buffers.size() != size()) m_buffers.resize(size());
  CDataBuffer& buffer = m_buffers[position];
  if (buffer.HasData()) return buffer;
  if (m_whole.HasData()) {
    // Borrows from the one owner every entry shares, where a slice each
    // would make an owner per entry.
    buffer = CDataBuffer(m_whole.GetData() + OffsetAt(position), SizeAt(position), m_owner);
    return buffer;
  }
  // Not mapped: this entry alone is read, into memory of its own.
  const uint32_t size = SizeAt(position);
  CDataBuffer read = CDataBuffer::TryAllocate(size);
  if (read.HasData()) {
    auto* into = const_cast<uint8_t*>(read.GetData());  // this block's alone
    const CStatus status = m_file.ReadAt(OffsetAt(position), into, size);
    if (status.IsOk()) {
      buffer = std::move(read);
      return buffer;
    }
    if (problem != nullptr) *problem = status.WithPath(std::string(NameAt(position)));
  } else if (problem != nullptr) {
    *problem = CStatus::Failure(std::string(NameAt(position)),
                                "not enough memory for its " + std::to_string(size) + " bytes");
  }
  // No bytes, but the entry's size, as a mapping that failed gives.
  buffer = CDataBuffer(nullptr, size, nullptr);
  return buffer;
}

bool CEntryMap::ChangedOnDisk() const {
  if (m_composed)
    return std::any_of(m_composed->sources.begin(), m_composed->sources.end(),
                       [](const auto& source) { return source->ChangedOnDisk(); });
  return m_held.Changed();
}

bool CEntryMap::WasCut() const {
  if (m_composed)
    return std::any_of(m_composed->sources.begin(), m_composed->sources.end(),
                       [](const auto& source) { return source->WasCut(); });
  return WasCutSince(m_whole, m_file.Get(), int64_t{m_total});
}

std::string_view CEntryMap::ComposedBytesAt(size_t position) const {
  const CSourceEntry at = m_composed->at[position];
  return m_composed->sources[at.source]->BytesAt(at.position);
}

CStatus OpenArchiveEntries(const std::string& path, CEntryMap& entries) {
  CBigArchive reader;
  if (reader.Open(path) != 0) return reader.GetStatus();
  // Built aside and swapped in, so a failure leaves `entries` as it was.
  CEntryMap built;
  try {
    const CDataBuffer whole = reader.GetData();
    built.m_total = static_cast<uint32_t>(reader.GetSize());
    if (whole.HasData()) {
      built.m_whole = CDataBuffer(whole.GetData(), whole.GetSize(), new CSliceOwner(whole));
      built.m_owner = built.m_whole.GetBlock()->owner;
      built.m_total = whole.GetSize();
    } else {
      // When the archive could not be mapped, the reader read its index
      // from the file; the entries are read from it too, each when it is
      // wanted, so no more of the file is ever in memory than is looked at.
      built.m_file = reader.GetFileHandle();
    }
    built.m_held = reader.GetHeldFile();
    built.m_index = reader.TakeIndex();
    built.m_buffers.reserve(built.m_index.Get().size());
  } catch (const std::bad_alloc&) {
    return CStatus::Of(CStatus::Kind::OutOfMemory, path);
  }
  entries.swap(built);
  reader.Close();
  return {};
}
