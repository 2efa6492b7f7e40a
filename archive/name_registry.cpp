#include "archive/name_registry.h"

#include <array>

#include "storage/path_name.h"

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t Crc(std::string_view bytes) {
  CCrc32 crc;
  crc.Update(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return crc.GetValue();
}

uint32_t RotateAndAdd(std::string_view bytes) {
  uint32_t id = 0;
  for (size_t i = 0; i < bytes.size(); i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4 && i + k < bytes.size(); ++k)
      word |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + k])) << (8 * k);
    id = ((id << 1) | (id >> 31)) + word;
  }
  return id;
}

}  // namespace

void CCrc32::Update(const void* bytes, uint32_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  uint32_t value = ~m_value;
  for (uint32_t i = 0; i < count; ++i) value = (value >> 8) ^ kCrcTable[(value ^ p[i]) & 0xFF];
  m_value = ~value;
}

int32_t CNameRegistry::GetId(int32_t type, std::string name) {
  name = ToUpper(name);
  uint32_t id;
  if (type == 2 || type == 5) {
    // Pad a short last group to four bytes: its length mod 4, then copies of
    // the group's first byte.
    const size_t n = name.size();
    if (n % 4 != 0) {
      const char first = name[n - n % 4];
      name.push_back(static_cast<char>(n % 4));
      name.append(3 - n % 4, first);
    }
    id = Crc(name);
  } else if (type == 7 || type == 8) {
    id = Crc(name);
  } else {
    id = RotateAndAdd(name);
  }
  return static_cast<int32_t>(id);
}

void CNameRegistry::AddName(int32_t type, const std::string& name, const std::string& description) {
  CNameEntry& entry = MapForType(type)[GetId(type, name)];
  entry.name = name;
  entry.description = description;
}

CNameRegistry::Map& CNameRegistry::MapForType(int32_t type) {
  static Map maps[5];
  switch (type) {
    case 1: return maps[0];
    case 2: return maps[1];
    case 3: return maps[2];
    case 5: return maps[3];
    default: return maps[4];
  }
}
