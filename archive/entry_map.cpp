#include "archive/entry_map.h"

#include <algorithm>
#include <new>

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
    for (const auto& [name, entry] : reader.GetIndex()) {
      // Offsets and sizes are unsigned in the index; clamp them here, in 64
      // bits, so a value of 2^31 or more can never become a negative offset.
      const uint64_t begin = std::min<uint64_t>(entry.offset, total);
      const uint64_t size = std::min<uint64_t>(entry.size, total - begin);
      built.emplace_hint(built.end(), name,
                         whole.Slice(static_cast<int32_t>(begin), static_cast<int32_t>(size)));
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
