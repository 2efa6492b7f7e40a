// Identifiers, the name registry, path splitting and the case copies.
//
// Input: the first four bytes pick a type code (little-endian), the rest is
// the name. Identifiers are compared with a second computation written
// straight from the format's rules (bitwise CRC, byte-by-byte words), and
// paths with the properties a split must have.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/name_registry.h"
#include "fuzz/fuzz_support.h"
#include "storage/path_name.h"

namespace {

uint32_t BitwiseCrc(std::string_view bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) {
    crc ^= static_cast<uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string Upper(std::string_view text) {
  std::string out;
  for (const char c : text) out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
  return out;
}

int32_t ExpectedId(int32_t type, std::string_view name) {
  std::string bytes = Upper(name);
  if (type == 2 || type == 5) {
    const size_t n = bytes.size();
    if (n % 4 != 0) {
      const char first = bytes[n / 4 * 4];
      bytes.push_back(static_cast<char>(n % 4));
      while (bytes.size() % 4 != 0) bytes.push_back(first);
    }
    return static_cast<int32_t>(BitwiseCrc(bytes));
  }
  if (type == 7 || type == 8) return static_cast<int32_t>(BitwiseCrc(bytes));
  uint32_t id = 0;
  for (size_t i = 0; i < bytes.size(); i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4 && i + k < bytes.size(); ++k)
      word |= uint32_t{static_cast<uint8_t>(bytes[i + k])} << (8 * k);
    id = ((id << 1) | (id >> 31)) + word;
  }
  return static_cast<int32_t>(id);
}

void CheckCase(const std::string& name) {
  const std::string lower = ToLower(name);
  const std::string upper = ToUpper(name);
  FUZZ_REQUIRE(lower.size() == name.size() && upper.size() == name.size(), "same length");
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter) {
      FUZZ_REQUIRE(lower[i] == c && upper[i] == c, "only ASCII letters change");
      continue;
    }
    FUZZ_REQUIRE(lower[i] >= 'a' && lower[i] <= 'z' && (lower[i] & ~0x20) == (c & ~0x20),
                 "lower-cased letter");
    FUZZ_REQUIRE(upper[i] >= 'A' && upper[i] <= 'Z' && (upper[i] | 0x20) == (c | 0x20),
                 "upper-cased letter");
  }
}

void CheckPath(const std::string& path) {
  CPathName split(path);
  const std::string folder = split.GetFolder();
  const std::string title = split.GetTitle();
  const std::string extension = split.GetExtension();
  FUZZ_REQUIRE(split.GetFullPath() == path, "joining the parts gives the path back");
  FUZZ_REQUIRE(split.GetName() == title + extension, "name is title and extension");
  FUZZ_REQUIRE(folder.empty() || folder.back() == '\\', "folder ends in a backslash");
  FUZZ_REQUIRE((title + extension).find('\\') == std::string::npos,
               "no backslash after the folder");
  FUZZ_REQUIRE(
      extension.empty() || (extension[0] == '.' && extension.find('.', 1) == std::string::npos),
      "extension runs from the last dot");
  FUZZ_REQUIRE(!extension.empty() || title.find('.') == std::string::npos,
               "a dot in the name makes an extension");
  CPathName renamed = split;
  renamed.SetExtension(".map");
  FUZZ_REQUIRE(renamed.GetFullPath() == folder + title + ".map", "extension replaced");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t picked = 0;
  if (size >= 4) {
    picked = static_cast<int32_t>(uint32_t{data[0]} | uint32_t{data[1]} << 8 |
                                  uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24);
    data += 4;
    size -= 4;
  }
  const std::string name(reinterpret_cast<const char*>(data), size);

  for (const int32_t type : {picked, 0, 1, 2, 3, 4, 5, 6, 7, 8, -1}) {
    const int32_t id = CNameRegistry::GetId(type, name);
    FUZZ_REQUIRE(id == ExpectedId(type, name), "identifier follows the format's rule");
    FUZZ_REQUIRE(id == CNameRegistry::GetId(type, ToLower(name)), "identifiers ignore ASCII case");
  }

  // Updates chain: any split of the bytes gives the one-piece value.
  const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  CCrc32 pieces;
  pieces.Update(name.data(), static_cast<uint32_t>(cut));
  pieces.Update(name.data() + cut, static_cast<uint32_t>(size - cut));
  FUZZ_REQUIRE(pieces.GetValue() == BitwiseCrc(name), "CRC updates chain");

  // The registry keeps the last registration under an identifier. Remove it
  // again so the maps do not grow over millions of runs.
  CNameRegistry::AddName(picked, name, "first");
  CNameRegistry::AddName(picked, name, "second");
  CNameRegistry::Map& map = CNameRegistry::MapForType(picked);
  const auto found = map.find(CNameRegistry::GetId(picked, name));
  FUZZ_REQUIRE(
      found != map.end() && found->second.name == name && found->second.description == "second",
      "the last registration wins");
  map.erase(found);

  CheckCase(name);
  CheckPath(name);
  return 0;
}
