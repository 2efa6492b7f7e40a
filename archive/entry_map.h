// The archive document's open operation, free of any window: read an
// archive once through CBigArchive and keep every entry, by name, as a slice
// of the archive's mapped bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/big_archive.h"
#include "archive/position_iterator.h"
#include "storage/data_buffer.h"
#include "storage/file_stamp.h"
#include "storage/large_pages.h"

// Every entry of an opened archive: unique names in byte-wise,
// case-sensitive order (like the archive index), each with a buffer of the
// entry's bytes. Filled by OpenArchiveEntries only, and never changed
// afterwards, so the address of an entry's buffer stays valid while the map
// lives.
//
// The names are the reader's own index, kept; a buffer is cut from the
// archive's bytes the first time its entry is visited. An archive of a
// million entries thus costs about 70 bytes an entry, and opening it costs
// nothing an entry beyond the reader's own work.
//
// An archive that could not be mapped (no address space left for the whole
// file, a file system without mappings) is read instead, one entry at a
// time where it lies, when the entry is first visited: the file stays open
// for that while the map lives. Such a buffer owns its bytes.
//
// A map may also be composed of the entries of other maps (the winners of a
// load order): each of its entries is then one of theirs, which it keeps
// alive, and every question about an entry is answered by its own map.
//
// Threading: none, but for BytesAt; even reading may cut a buffer.
class CEntryMap {
 public:
  using value_type = std::pair<std::string_view, const CDataBuffer&>;

  using const_iterator = CPositionIterator<CEntryMap>;

  CEntryMap() = default;
  CEntryMap(const CEntryMap&) = delete;
  CEntryMap& operator=(const CEntryMap&) = delete;
  CEntryMap(CEntryMap&& other) noexcept { swap(other); }
  CEntryMap& operator=(CEntryMap&& other) noexcept {
    CEntryMap gone;
    gone.swap(other);
    swap(gone);
    return *this;
  }

  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }
  size_t size() const { return m_composed ? m_composed->at.size() : m_index.Get().size(); }
  bool empty() const { return size() == 0; }
  // The entry named `name`, or end(). A binary search.
  const_iterator find(std::string_view name) const;
  size_t count(std::string_view name) const { return find(name) != end() ? 1 : 0; }
  // The buffer of the entry named `name` (a share of BufferAt's), or
  // Kind::NotFound about the name.
  CResult<CDataBuffer> Get(std::string_view name) const;
  void clear() { *this = CEntryMap(); }
  void swap(CEntryMap& other) noexcept;

  // The entry at `position` in name order.
  // REQUIRES: position < size().
  std::string_view NameAt(size_t position) const { return PaddedNameAt(position); }
  // The name with readable bytes after it, to be copied in whole steps.
  CPaddedName PaddedNameAt(size_t position) const {
    if (m_composed) [[unlikely]] {
      const CSourceEntry at = m_composed->at[position];
      return m_composed->sources[at.source]->PaddedNameAt(at.position);
    }
    return m_index.Get().NameAt(position);
  }
  // The entry's bytes. When they had to be read and could not be, a buffer
  // of the entry's size without bytes (HasData() false), and `problem`,
  // when given, says why, about the entry's name; the next call tries again.
  const CDataBuffer& BufferAt(size_t position, CStatus* problem = nullptr) const;
  // Whether the archive's bytes are mapped, so entry buffers are views of
  // them; else each is read when first visited.
  bool IsMapped() const { return m_composed ? m_composed->mapped : m_whole.HasData(); }
  // Where the entry's bytes lie in the archive, cut at its end, and the
  // archive's file: what to read when it is not mapped. Empty once the map
  // is mapped or empty.
  uint32_t OffsetAt(size_t position) const;
  uint32_t SizeAt(size_t position) const;
  // The size the index gives the entry, which SizeAt cuts at the archive's
  // end; ReachesPastEndAt when they differ. MayReachPastEnd false promises
  // that no entry does, without a look at each.
  uint32_t ClaimedSizeAt(size_t position) const;
  bool ReachesPastEndAt(size_t position) const {
    return ClaimedSizeAt(position) > SizeAt(position);
  }
  bool MayReachPastEnd() const;
  // "cut short by the end of the archive (N of M bytes)" for such an entry,
  // in every program's words alike; empty for a whole one.
  std::string CutShortWords(size_t position) const;
  // The file of every entry; empty for a composed map, whose entries lie in
  // the files of FileAt.
  const CHandleHolder& GetFile() const { return m_file; }
  // The file the entry at `position` lies in, when not mapped.
  const CHandleHolder& FileAt(size_t position) const;
  // The entry's bytes, without cutting a buffer for them: this reads only
  // what the open left unchanged, so other threads may call it while the
  // map lives (a search keeps a share of GetWhole() to outlive the map).
  // Nothing when the archive is not mapped: read those through BufferAt,
  // or OffsetAt and SizeAt from GetFile().
  // Inline, as a walk over every entry asks it of each.
  std::string_view BytesAt(size_t position) const {
    if (m_composed) [[unlikely]]
      return ComposedBytesAt(position);
    const CBigEntry entry = m_index.Get().EntryAt(position);
    const std::string_view all = m_whole.View();
    return all.substr(std::min<size_t>(entry.offset, all.size()), entry.size);
  }
  // The archive's bytes, which every entry's bytes lie in.
  const CDataBuffer& GetWhole() const { return m_whole; }
  // Whether the entry's bytes, mapped, read in part as zeros the archive
  // never held: another program cut it short since it was opened
  // (CDataBuffer::IsCutOnDisk). Ask after reading them. An archive read
  // where its entries lie fails the read instead.
  bool WasCutAt(size_t position) const;
  // Whether the archive is shorter on disk now than when it was opened:
  // mapped, as WasCutAt asks it; read where the entries lie, by its size.
  // Why a read of an entry came up short.
  bool WasCut() const;
  // Whether another program has written to an archive since it was opened
  // (CGameFile::ChangedSinceOpened): the bytes read from it may be the new
  // file's. Ask after reading them.
  bool ChangedOnDisk() const;
  // The archive's file, held since it was opened, and its stamp then;
  // empty for a composed map.
  const CHeldFile& HeldFile() const { return m_held; }

  // One entry of another map: its map among a composed map's sources, and
  // its position there.
  struct CSourceEntry {
    uint32_t source;
    uint32_t position;
  };
  // The map whose entries are `at` (in byte order of their names, each
  // name once) of `sources`, which it keeps. Its buffers are theirs.
  static CEntryMap Compose(std::vector<std::shared_ptr<const CEntryMap>> sources,
                           CLargeVector<CSourceEntry> at);
  // The composed map `composed` with its source `source` replaced by
  // `replacement`, which holds the same names.
  static CEntryMap Recompose(const CEntryMap& composed, size_t source,
                             std::shared_ptr<const CEntryMap> replacement);
  bool IsComposed() const { return static_cast<bool>(m_composed); }
  // Where a composed map's entry at `position` comes from.
  // REQUIRES: IsComposed().
  CSourceEntry SourceAt(size_t position) const { return m_composed->at[position]; }

 private:
  struct CComposition {
    std::vector<std::shared_ptr<const CEntryMap>> sources;
    // Shared by the maps that differ in a source alone (Recompose).
    std::shared_ptr<const CLargeVector<CSourceEntry>> kept;
    std::span<const CSourceEntry> at;  // *kept
    bool mapped = true;  // every source is
  };

  friend const_iterator;
  std::string_view ComposedBytesAt(size_t position) const;
  value_type ElementAt(size_t position) const { return {NameAt(position), BufferAt(position)}; }
  friend CStatus OpenArchiveEntries(const std::string& path, CEntryMap& entries);

  CKeptBigIndex m_index;
  // The archive's bytes, shared by every buffer cut from them; held here
  // so they stay while the map lives.
  CDataBuffer m_whole;
  CDataOwner* m_owner = nullptr;  // m_whole's owner, for new cuts
  // When m_whole has no bytes: the archive's file and size, to read from.
  CHandleHolder m_file;
  CHeldFile m_held;  // as it was opened
  uint32_t m_total = 0;
  // One per entry, in name order; empty until its entry is first visited.
  // The room for them is taken at the open, and filled in only when the
  // first is wanted: a walk that reads entries through BytesAt alone (tarn
  // info, a search) never writes those pages, which cost a page fault each.
  mutable std::vector<CDataBuffer> m_buffers;
  // Set for a composed map, whose other members are then empty.
  std::shared_ptr<const CComposition> m_composed;
};

// Opens `path`; on success empties `entries`, fills it with every index
// element, lets the reader go and returns Ok. On failure `entries` is
// untouched and the status says why.
//
// An entry whose range reaches past the archive's end is kept, cut at the
// end (0 bytes when it starts at or past the end). No entry byte is copied:
// once this returns, the archive stays mapped only through the map and the
// buffers cut from it.
CStatus OpenArchiveEntries(const std::string& path, CEntryMap& entries);

// Whether an index element reaches past the end of an archive of `total` bytes.
inline bool ReachesPastEnd(const CBigEntry& entry, uint64_t total) {
  return uint64_t{entry.offset} + entry.size > total;
}
