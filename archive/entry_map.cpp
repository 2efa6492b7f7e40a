#include "archive/entry_map.h"

#include <algorithm>
#include <new>
#include <tuple>
#include <utility>

bool OpenArchiveEntries(const std::string& path, CEntryMap& entries, CArchiveOpenError* error) {
  CBigArchive reader;
  if (reader.Open(path) != 0) {
    if (error != nullptr) {
      error->failure = reader.GetFailure();
      error->detail = reader.GetFailure() == BigFailure::CannotOpen ? reader.GetOpenError() : "";
    }
    return false;
  }
  // Built aside and swapped in, so a failure leaves `entries` as it was.
  CEntryMap built;
  try {
    // When the archive could not be mapped, the reader read its index from
    // the file; the entries need the rest of its bytes too.
    CDataBuffer whole;
    CFileError readError;
    if (reader.LoadWhole(whole, &readError) != 0) {
      if (error != nullptr) *error = {BigFailure::CannotRead, readError.words};
      return false;
    }
    const uint64_t total = whole.GetSize();
    // One owner for every entry, where a slice each would make one per
    // entry: each entry's block borrows from it, and the last to go lets
    // the archive's bytes go. The anchor keeps it while the map is built.
    const CDataBuffer anchor(whole.GetData(), 0, new CSliceOwner(whole));
    CDataOwner* const owner = anchor.GetBlock()->owner;
    for (const auto& [name, entry] : reader.GetIndex()) {
      // Offsets and sizes are unsigned in the index; clamp them here, in 64
      // bits, so a value of 2^31 or more can never become a negative offset.
      const uint64_t begin = std::min<uint64_t>(entry.offset, total);
      const uint64_t size = std::min<uint64_t>(entry.size, total - begin);
      built.emplace_hint(built.end(), std::piecewise_construct, std::forward_as_tuple(name),
                         std::forward_as_tuple(whole.GetData() + begin, static_cast<uint32_t>(size), owner));
    }
  } catch (const std::bad_alloc&) {
    if (error != nullptr) *error = {BigFailure::OutOfMemory, ""};
    return false;
  }
  entries.swap(built);
  reader.Close();
  if (error != nullptr) *error = {};
  return true;
}
