// Comparing sets of entries: what one archive (or folder) has that another
// has not. Which one's entry each name resolves to, for archives loaded one
// after another, is archive/load_order.h's.
//
// CCompareSide is one set of entries: an archive, or a folder read as
// `tarn pack` would pack it (every regular file below it, named by its path
// with '\' between the parts; links, special files, unreadable files and
// names extraction would refuse are named as problems and left out). Names
// are compared byte-wise, as the reader orders them.
//
// An archive's entries are read in place from its mapping (or, when it
// could not be mapped, each where it lies in the file); a folder's
// files are read when their bytes are asked for, each through the folders
// above it opened without following a link.
//
// Threading: none.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/big_archive.h"
#include "archive/extract.h"
#include "archive/shown_archive.h"
#include "storage/data_buffer.h"

class CCompareSide {
 public:
  CCompareSide();
  ~CCompareSide();
  CCompareSide(const CCompareSide&) = delete;
  CCompareSide& operator=(const CCompareSide&) = delete;

  // Opens `path`, a folder if it is one, else an archive. False when it
  // cannot be read at all, with the reason in `problems`; a folder whose
  // walk met problems opens, without the entries concerned.
  bool Open(const std::string& path, std::vector<CEntryProblem>& problems);
  // Takes an archive as a window shows it, pending changes applied; `path`
  // names it in messages.
  void Open(std::shared_ptr<const CShownSnapshot> shown, const std::string& path);

  const std::string& GetPath() const { return m_path; }
  bool IsFolder() const { return m_folder; }
  // An archive that is mapped: BytesAt gives views of the mapping, and two
  // threads may call it at once. Else it reads into memory of the side's.
  bool ReadsInPlace() const;
  size_t size() const { return m_index ? m_index->size() : m_names.size(); }
  // REQUIRES: i < size(). In byte order; valid while the side lives.
  std::string_view NameAt(size_t i) const { return m_index ? m_index->NameAt(i) : m_names[i]; }
  // The bytes of entry i, valid until the next BytesAt on this side, or why
  // they cannot be had: an entry reaching past the archive's end, a file
  // that went away. See ReadsInPlace.
  CStatus BytesAt(size_t i, std::string_view& bytes);
  // Entry i where it lies in the mapping, for a side that reads in place;
  // a view with no data when the side does not, or the entry reaches past
  // the archive's end (BytesAt then says why).
  std::string_view InPlaceAt(size_t i) const;
  // The same bytes as a buffer of their own, or a share of the archive's.
  CStatus BufferAt(size_t i, CDataBuffer& bytes);
  // Whether the bytes that entry i gave, read in place, were in part zeros
  // the archive never held: another program cut it short since it was
  // opened (CDataBuffer::IsCutOnDisk). Ask after reading them; a side that
  // reads its entries into memory fails the read instead (BytesAt).
  bool WasCutAt(size_t i) const;
  // The name of the first entry, in byte order, for which WasCutAt holds;
  // nothing when the archive was not cut under an entry.
  std::optional<std::string_view> FirstCutEntry() const;
  // Whether another program has written to the archive since it was opened
  // (CGameFile::ChangedSinceOpened): what was read of it may be the new
  // file's. Ask after reading. False for a folder.
  bool ChangedOnDisk() const;

 private:
  struct CArchiveState;
  struct CFolderState;
  struct CShownState;
  CStatus ShownBytesAt(size_t i, std::string_view& bytes);
  std::string m_path;
  bool m_folder = false;
  // An archive's names are its index's; a folder's are kept here.
  const CBigIndex* m_index = nullptr;
  std::vector<std::string_view> m_names;
  std::unique_ptr<CArchiveState> m_archive;
  std::unique_ptr<CFolderState> m_folderState;
  std::unique_ptr<CShownState> m_shown;
};

struct CEntryChange {
  enum Kind { Added, Removed, Changed } kind;
  std::string_view name;
  size_t before;  // position on the old side, unless Added
  size_t after;   // position on the new side, unless Removed
};

// Every name on one side only, and every name on both whose bytes differ,
// in byte order. An entry whose bytes cannot be had on either side is
// named in `problems` instead.
std::vector<CEntryChange> CompareEntries(CCompareSide& before, CCompareSide& after,
                                         std::vector<CEntryProblem>& problems);
