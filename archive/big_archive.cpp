#include "archive/big_archive.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t kHeaderBytes = 16;
constexpr uint32_t kMagic = 0x46474942;  // "BIGF" read little-endian
// Smallest record: two 32-bit numbers and the zero byte of an empty name.
constexpr uint32_t kMinRecordBytes = 9;

uint32_t DecodeLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t DecodeBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

}  // namespace

const char* DescribeBigFailure(BigFailure failure) {
  switch (failure) {
    case BigFailure::None: return "no error";
    case BigFailure::CannotOpen: return "cannot open file";
    case BigFailure::TooShort: return "too short to be a BIG archive";
    case BigFailure::TooLarge: return "too large for a BIG archive (2 GiB or more)";
    case BigFailure::BadMagic: return "not a BIG archive";
    case BigFailure::SizeMismatch: return "size field does not match the file";
    case BigFailure::BadCount: return "bad entry count";
    case BigFailure::BadHeaderSize: return "bad header size";
    case BigFailure::IndexPastEnd: return "index does not fit in the file";
    case BigFailure::RecordsOverrun: return "index records do not fit in the index";
  }
  return "unknown error";
}

int32_t CBigArchive::Open(const std::string& name) {
  m_failure = BigFailure::None;
  const int32_t result = CGameFile::Open(name);
  if (result != 0 && m_failure == BigFailure::None) m_failure = BigFailure::CannotOpen;
  return result;
}

int32_t CBigArchive::Refuse(BigFailure failure) {
  m_failure = failure;
  m_index.clear();
  m_names.clear();
  return 1;
}

BigFailure CBigArchive::TestHeader() {
  // The size is taken as unsigned: a failed query (-1) reads as huge here and
  // is then refused by the size-field test, since no field can hold it.
  const auto fileSize = static_cast<uint32_t>(GetSize());
  if (fileSize < kHeaderBytes) return BigFailure::TooShort;
  uint8_t header[kHeaderBytes];
  Seek(0);
  if (Read(header, kHeaderBytes) != 0) return GetSize() < 0 ? BigFailure::TooLarge : BigFailure::TooShort;
  if (DecodeLE32(header) != kMagic) return BigFailure::BadMagic;
  if (DecodeLE32(header + 4) != fileSize) return BigFailure::SizeMismatch;
  if (header[8] & 0x80) return BigFailure::BadCount;
  if (DecodeBE32(header + 12) < kHeaderBytes) return BigFailure::BadHeaderSize;
  return BigFailure::None;
}

bool CBigArchive::IsBigHeader() { return TestHeader() == BigFailure::None; }

int32_t CBigArchive::OnOpen() {
  m_index.clear();
  m_names.clear();
  const BigFailure header = TestHeader();
  if (header != BigFailure::None) return Refuse(header);

  uint8_t fields[kHeaderBytes];
  Seek(0);
  if (Read(fields, kHeaderBytes) != 0) return Refuse(BigFailure::TooShort);
  const uint32_t count = DecodeBE32(fields + 8);
  const uint32_t headerSize = DecodeBE32(fields + 12);
  // Refuse before reserving room: a header size past the end would otherwise
  // ask for up to 4 GiB that the read then cannot fill.
  if (headerSize > static_cast<uint32_t>(GetSize())) return Refuse(BigFailure::IndexPastEnd);
  const uint32_t regionSize = headerSize - kHeaderBytes;
  if (count > regionSize / kMinRecordBytes) return Refuse(BigFailure::RecordsOverrun);

  CDataBuffer region;
  uint8_t* bytes = region.GetWritable(static_cast<int32_t>(regionSize));
  if (Read(bytes, static_cast<int32_t>(regionSize)) != 0) return Refuse(BigFailure::IndexPastEnd);

  if (m_names.capacity() < count) m_names.reserve(count);
  const uint8_t* p = bytes;
  const uint8_t* const end = bytes + regionSize;
  for (uint32_t i = 0; i < count; ++i) {
    if (end - p < static_cast<std::ptrdiff_t>(kMinRecordBytes)) return Refuse(BigFailure::RecordsOverrun);
    const CBigEntry entry{DecodeBE32(p), DecodeBE32(p + 4)};
    const uint8_t* const name = p + 8;
    const auto* zero = static_cast<const uint8_t*>(std::memchr(name, 0, static_cast<size_t>(end - name)));
    if (zero == nullptr) return Refuse(BigFailure::RecordsOverrun);
    std::string_view key(reinterpret_cast<const char*>(name), static_cast<size_t>(zero - name));
    // Archives are usually written in name order; appending at the end then
    // costs no search.
    if (m_index.empty() || m_index.rbegin()->first < key) {
      m_index.emplace_hint(m_index.end(), key, entry);
    } else {
      auto found = m_index.lower_bound(key);
      if (found != m_index.end() && found->first == key) found->second = entry;
      else m_index.emplace_hint(found, key, entry);
    }
    m_names.emplace_back(key);
    p = zero + 1;
  }
  return 0;
}
