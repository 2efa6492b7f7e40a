// File identifiers and the process-wide registry of file names.
//
// A type code picks how a name's 32-bit identifier is computed (rotate-and-
// add, padded CRC-32 or plain CRC-32) and which of five maps the name is
// registered in. The maps only grow; they live until the process ends.
//
// Threading: none; the maps have no lock and belong to the UI thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// The CRC-32 used by zip and PNG (reflected polynomial 0xEDB88320).
class CCrc32 {
 public:
  // Updates chain: two calls over consecutive pieces equal one over both.
  void Update(const void* bytes, uint32_t count);
  uint32_t GetValue() const { return m_value; }

 private:
  uint32_t m_value = 0;
};

struct CNameEntry {
  std::string name;
  std::string description;
};

class CNameRegistry {
 public:
  using Map = std::map<int32_t, CNameEntry>;

  static int32_t GetId(int32_t type, std::string name);
  // Stores name and description under the name's identifier; the last
  // registration under an identifier wins.
  static void AddName(int32_t type, const std::string& name, const std::string& description);
  static Map& MapForType(int32_t type);
};
