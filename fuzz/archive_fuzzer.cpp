// The whole open path on a file made of the input: the archive document's
// open (reader, index, entry slices), every entry parsed to rows, the
// `list` and `check` commands of tarn, and a round trip through the writer.
//
// Oracle: a second, plain decoding of the header and index below. The open
// must succeed exactly when it does, refuse for the same reason when it
// does not, and give every entry exactly the bytes of the input that its
// record names, cut at the end of the file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "archive/big_archive.h"
#include "archive/big_writer.h"
#include "archive/entry_map.h"
#include "cli/tarn.h"
#include "fuzz/fuzz_support.h"
#include "rules/rules_parser.h"
#include "storage/data_buffer.h"

namespace {

uint32_t LE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint32_t BE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

struct Expected {
  CStatus::Kind failure = CStatus::Kind::Ok;
  std::map<std::string, std::pair<uint32_t, uint32_t>> index;  // last record wins
};

Expected Decode(const uint8_t* data, size_t size) {
  Expected out;
  if (size < 16) return {CStatus::Kind::TooShort, {}};
  if (std::memcmp(data, "BIGF", 4) != 0) return {CStatus::Kind::BadMagic, {}};
  if (LE32(data + 4) != size) return {CStatus::Kind::SizeMismatch, {}};
  const uint32_t count = BE32(data + 8);
  const uint32_t headerSize = BE32(data + 12);
  if (count >= 0x80000000u) return {CStatus::Kind::BadCount, {}};
  if (headerSize < 16) return {CStatus::Kind::BadHeaderSize, {}};
  if (headerSize > size) return {CStatus::Kind::IndexPastEnd, {}};
  size_t at = 16;
  for (uint32_t i = 0; i < count; ++i) {
    // Eight bytes of numbers and a zero byte, all inside the index region.
    if (headerSize - at < 9) return {CStatus::Kind::RecordsOverrun, {}};
    size_t zero = at + 8;
    while (zero < headerSize && data[zero] != 0) ++zero;
    if (zero == headerSize) return {CStatus::Kind::RecordsOverrun, {}};
    std::string name(reinterpret_cast<const char*>(data + at + 8), zero - at - 8);
    out.index[name] = {BE32(data + at), BE32(data + at + 4)};
    at = zero + 1;
  }
  return out;
}

// The input lives in a file of this process's own, on a memory file system
// when there is one.
const std::string& ScratchPath() {
  static const std::string path = [] {
    const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    std::string made = std::string(folder != nullptr ? folder : "/tmp") + "/tarn-fuzz-" +
                       std::to_string(::getpid()) + ".big";
    std::atexit([] { ::unlink(ScratchPath().c_str()); });
    return made;
  }();
  return path;
}

void WriteScratch(const uint8_t* data, size_t size) {
  const int fd = ::open(ScratchPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_REQUIRE(fd >= 0, "scratch file opens");
  size_t done = 0;
  while (done < size) {
    const ssize_t wrote = ::write(fd, data + done, size - done);
    FUZZ_REQUIRE(wrote > 0, "scratch file written");
    done += static_cast<size_t>(wrote);
  }
  ::close(fd);
}

// The archive's whole buffer that an entry was sliced from.
const CDataBuffer& SourceOf(const CDataBuffer& entry) {
  const auto* owner = dynamic_cast<const CSliceOwner*>(entry.GetBlock()->owner);
  FUZZ_REQUIRE(owner != nullptr, "an entry is a slice");
  return owner->GetSource();
}

void CheckSliceInside(const CDataBuffer& slice, const CDataBuffer& source) {
  if (!slice.HasData()) return;
  const uint8_t* begin = source.GetData();
  FUZZ_REQUIRE(slice.GetData() >= begin, "slice starts inside its source");
  FUZZ_REQUIRE(slice.GetSize() <= source.GetSize(), "slice no larger than its source");
  FUZZ_REQUIRE(static_cast<size_t>(slice.GetData() - begin) <= source.GetSize() - slice.GetSize(),
               "slice ends inside its source");
}

// Whatever the reader accepts, packing its entries and reading the result
// gives the same names and the same bytes.
void CheckRoundTrip(const CEntryMap& entries) {
  CBigWriter writer;
  for (const auto& [name, bytes] : entries) writer.AddBytes(std::string(name), bytes);
  const std::string packed = ScratchPath() + ".packed";
  FUZZ_REQUIRE(writer.Write(packed, nullptr).IsOk(), "the writer packs what the reader accepted");
  CEntryMap again;
  FUZZ_REQUIRE(OpenArchiveEntries(packed, again).IsOk(), "the reader opens what the writer wrote");
  ::unlink(packed.c_str());
  FUZZ_REQUIRE(again.size() == entries.size(), "as many entries after the round trip");
  auto before = entries.begin();
  for (const auto& [name, bytes] : again) {
    FUZZ_REQUIRE(name == before->first, "the same names after the round trip");
    FUZZ_REQUIRE(bytes.GetSize() == before->second.GetSize(),
                 "the same sizes after the round trip");
    FUZZ_REQUIRE(bytes.GetSize() == 0 ||
                     std::memcmp(bytes.GetData(), before->second.GetData(), bytes.GetSize()) == 0,
                 "the same bytes after the round trip");
    ++before;
  }
}

// A map already holding one entry, "left from before", from an archive
// written once.
void FillWithOneEntry(CEntryMap& entries) {
  static const std::string path = [] {
    const std::string before = ScratchPath() + ".before";
    CBigWriter writer;
    writer.AddBytes("left from before", CDataBuffer("x", 1));
    FUZZ_REQUIRE(writer.Write(before, nullptr).IsOk(), "the writer packs one entry");
    std::atexit([] { ::unlink((ScratchPath() + ".before").c_str()); });
    return before;
  }();
  FUZZ_REQUIRE(OpenArchiveEntries(path, entries).IsOk(), "the reader opens one entry");
}

std::FILE* Sink() {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

// Every entry of an opened archive against the plain decoding: its name,
// and exactly the input's bytes its record names, cut at the end of the
// file; then parsed to rows. True when a record reaches past the end.
bool CheckEntries(const CEntryMap& entries, const Expected& expected, const uint8_t* data,
                  size_t size) {
  FUZZ_REQUIRE(entries.size() == expected.index.size(), "one entry per distinct name");
  auto want = expected.index.begin();
  bool damaged = false;
  for (const auto& [name, bytes] : entries) {
    FUZZ_REQUIRE(name == want->first, "entries in byte-wise name order");
    const auto [offset, length] = want->second;
    const size_t begin = std::min<size_t>(offset, size);
    const size_t cut = std::min<size_t>(length, size - begin);
    damaged |= uint64_t{offset} + length > size;
    FUZZ_REQUIRE(bytes.GetSize() == cut, "entry cut at the end of the archive");
    if (bytes.HasData()) {
      const CDataBuffer& whole = SourceOf(bytes);
      FUZZ_REQUIRE(whole.GetSize() == size, "entries are slices of the whole archive");
      CheckSliceInside(bytes, whole);
      FUZZ_REQUIRE(cut == 0 || std::memcmp(bytes.GetData(), data + begin, cut) == 0,
                   "entry bytes are the archive's bytes");
    }
    ++want;

    CRulesParser parser;
    parser.SetSource(bytes);
    parser.Parse();
    fuzz::CheckRowShape(fuzz::RowsOf(parser.GetBlocks()));
  }
  return damaged;
}

// Slicing is clamped whatever the range: use the input's first bytes as a
// hostile offset and size on the first entry and on the whole file.
void CheckHostileSlices(const CEntryMap& entries, const uint8_t* data, size_t size) {
  if (entries.empty() || size < 16) return;
  const auto offset = static_cast<int32_t>(BE32(data + 8) ^ LE32(data + 4));
  const auto length = static_cast<int32_t>(BE32(data + 12));
  const CDataBuffer& first = entries.begin()->second;
  CheckSliceInside(first.Slice(offset, length), first);
  if (first.HasData()) {
    const CDataBuffer& whole = SourceOf(first);
    const CDataBuffer piece = whole.Slice(offset, length);
    CheckSliceInside(piece, whole);
    CheckSliceInside(piece.Slice(length, offset), piece);
  }
}

void CheckArchive(const uint8_t* data, size_t size) {
  WriteScratch(data, size);
  const std::string& path = ScratchPath();
  const Expected expected = Decode(data, size);

  CEntryMap entries;
  FillWithOneEntry(entries);
  const CStatus error = OpenArchiveEntries(path, entries);
  const bool opened = error.IsOk();
  FUZZ_REQUIRE(opened == (expected.failure == CStatus::Kind::Ok), "opens exactly when valid");
  if (!opened) {
    FUZZ_REQUIRE(error.GetKind() == expected.failure, "refused for the right reason");
    FUZZ_REQUIRE(entries.size() == 1 && entries.count("left from before") == 1,
                 "a refused open leaves the map alone");
  } else {
    const bool damaged = CheckEntries(entries, expected, data, size);
    CheckHostileSlices(entries, data, size);
    CheckRoundTrip(entries);
    const int checked = RunTarn({"check", path}, Sink(), Sink());
    FUZZ_REQUIRE(checked == (damaged ? 1 : 0), "check reports exactly the damaged archives");
  }
  const int listed = RunTarn({"list", path}, Sink(), Sink());
  FUZZ_REQUIRE(listed == (opened ? 0 : 1), "list agrees with the open");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckArchive(data, size);
  // Almost every mutation changes the length and so breaks the size field;
  // run the same bytes again with the field mended, so the index walk gets
  // fuzzed too and not only the header tests.
  if (size >= 16 && std::memcmp(data, "BIGF", 4) == 0 && LE32(data + 4) != size) {
    std::string mended(reinterpret_cast<const char*>(data), size);
    for (int i = 0; i < 4; ++i) mended[4 + i] = static_cast<char>(size >> (8 * i));
    CheckArchive(reinterpret_cast<const uint8_t*>(mended.data()), size);
  }
  return 0;
}
