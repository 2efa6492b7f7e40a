#include "tests/support/big_builder.h"

#if defined(_WIN32)
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

CBigBuilder& CBigBuilder::Add(std::string_view name, std::string_view bytes) {
  m_records.push_back(
      {std::string(name), std::string(bytes), std::nullopt, static_cast<uint32_t>(bytes.size())});
  return *this;
}

CBigBuilder& CBigBuilder::AddRecord(std::string_view name, uint32_t offset, uint32_t size) {
  m_records.push_back({std::string(name), {}, offset, size});
  return *this;
}

void PutLE32(std::string& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(value >> (8 * i));
}

void PutBE32(std::string& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

std::string CBigBuilder::Build() const {
  size_t indexBytes = 0;
  for (const Record& r : m_records) indexBytes += 8 + r.name.size() + 1;
  if (m_unterminated && !m_records.empty()) --indexBytes;
  indexBytes += m_indexPadding;
  const size_t dataStart = 16 + indexBytes;

  std::string out(dataStart, '\0');
  // Exactly four bytes, whatever was asked for: a short magic must not shift
  // the rest of the header.
  std::string magic = m_magic.substr(0, 4);
  magic.resize(4, '\0');
  out.replace(0, 4, magic);
  size_t at = 16;
  size_t dataAt = dataStart;
  for (size_t i = 0; i < m_records.size(); ++i) {
    const Record& r = m_records[i];
    PutBE32(out, at, r.offset.value_or(static_cast<uint32_t>(dataAt)));
    PutBE32(out, at + 4, r.size);
    out.replace(at + 8, r.name.size(), r.name);
    at += 8 + r.name.size() + 1;
    if (!r.offset) dataAt += r.bytes.size();
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(dataStart - m_indexPadding),
            out.begin() + static_cast<std::ptrdiff_t>(dataStart), m_paddingFill);
  for (const Record& r : m_records)
    if (!r.offset) out += r.bytes;
  out += m_trailer;

  PutBE32(out, 8, m_count.value_or(static_cast<uint32_t>(m_records.size())));
  PutBE32(out, 12, m_headerSize.value_or(static_cast<uint32_t>(dataStart)));
  const uint32_t size = m_archiveSize.value_or(static_cast<uint32_t>(out.size()));
  if (m_sizeBigEndian) PutBE32(out, 4, size);
  else PutLE32(out, 4, size);
  return out;
}

#if defined(_WIN32)
CTempDir::CTempDir() {
  // No mkdtemp here: try random names until one is new.
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path = base / ("tarn-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) {
      // Forward slashes, as Qt writes paths on every system.
      m_path = path.generic_string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

void WriteSparseFile(const std::string& path, std::string_view head, int64_t size) {
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot make " + path);
  // Sparse where the file system has holes; elsewhere the size is only
  // reserved, which costs space but no writing.
  DWORD returned = 0;
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  DWORD written = 0;
  LARGE_INTEGER end;
  end.QuadPart = size;
  const bool made =
      ::WriteFile(file, head.data(), static_cast<DWORD>(head.size()), &written, nullptr) &&
      written == head.size() && ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) &&
      ::SetEndOfFile(file);
  ::CloseHandle(file);
  if (!made) throw std::runtime_error("cannot make " + path + " sparse");
}
#else
CTempDir::CTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarn-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

void WriteSparseFile(const std::string& path, std::string_view head, int64_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot make " + path);
  const bool made = ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size()) &&
                    ::ftruncate(fd, size) == 0;
  ::close(fd);
  if (!made) throw std::runtime_error("cannot make " + path + " sparse");
}
#endif

CTempDir::~CTempDir() {
  std::error_code ignored;
  // Make folders writable again first; a test may have taken the bits away.
  for (auto& entry : std::filesystem::recursive_directory_iterator(m_path, ignored))
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(m_path, ignored);
}

std::string CTempDir::Write(std::string_view name, std::string_view bytes) const {
  const std::string path = m_path + "/" + std::string(name);
  WriteWholeFile(path, bytes);
  return path;
}

void WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
