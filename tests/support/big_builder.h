// Makes BIG archives for tests: valid ones, and every kind of damage a
// hostile or broken file can carry. Test-only; not part of the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CBigBuilder {
 public:
  // An entry whose bytes are laid out after the index.
  CBigBuilder& Add(std::string_view name, std::string_view bytes);
  // A record with its offset and size given as they are, pointing anywhere;
  // no bytes are laid out for it.
  CBigBuilder& AddRecord(std::string_view name, uint32_t offset, uint32_t size);

  // Damage and layout knobs. Unset ones get the values a valid archive needs.
  CBigBuilder& Magic(std::string_view four) {
    m_magic = std::string(four);
    return *this;
  }
  CBigBuilder& ArchiveSize(uint32_t value) {
    m_archiveSize = value;
    return *this;
  }
  CBigBuilder& ArchiveSizeBigEndian() {
    m_sizeBigEndian = true;
    return *this;
  }
  CBigBuilder& Count(uint32_t value) {
    m_count = value;
    return *this;
  }
  CBigBuilder& HeaderSize(uint32_t value) {
    m_headerSize = value;
    return *this;
  }
  // Bytes added to the index region after the last record, all `fill`.
  CBigBuilder& IndexPadding(uint32_t bytes, char fill = '\0') {
    m_indexPadding = bytes;
    m_paddingFill = fill;
    return *this;
  }
  // Drops the zero byte that ends the last record's name.
  CBigBuilder& UnterminatedLastName() {
    m_unterminated = true;
    return *this;
  }
  // Bytes appended after the last entry (counted in the archive size).
  CBigBuilder& Trailer(std::string_view bytes) {
    m_trailer = std::string(bytes);
    return *this;
  }

  std::string Build() const;

 private:
  struct Record {
    std::string name;
    std::string bytes;
    std::optional<uint32_t> offset;
    uint32_t size;
  };
  std::vector<Record> m_records;
  std::string m_magic = "BIGF";
  std::optional<uint32_t> m_archiveSize;
  bool m_sizeBigEndian = false;
  std::optional<uint32_t> m_count;
  std::optional<uint32_t> m_headerSize;
  uint32_t m_indexPadding = 0;
  char m_paddingFill = '\0';
  bool m_unterminated = false;
  std::string m_trailer;
};

void PutLE32(std::string& out, size_t at, uint32_t value);
void PutBE32(std::string& out, size_t at, uint32_t value);

// A folder under the system's temporary folder, removed with everything in it.
class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;
  const std::string& Path() const { return m_path; }
  // Writes `bytes` to a file in the folder and returns its full path.
  std::string Write(std::string_view name, std::string_view bytes) const;

 private:
  std::string m_path;
};

std::string ReadWholeFile(const std::string& path);
// Makes a file of `size` bytes that starts with `head` and is a hole after
// it, so gigabytes cost nothing on disk; throws when it cannot.
void WriteSparseFile(const std::string& path, std::string_view head, int64_t size);
// Writes `bytes` to `path`, replacing the file; throws when it cannot.
void WriteWholeFile(const std::string& path, std::string_view bytes);
