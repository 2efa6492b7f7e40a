// The process probe on Windows: handles through the system's handle table,
// mapped views through VirtualQuery and the file name of each view, files
// held open by the names the system gives their handles.
#include "tests/support/process_probe.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

namespace {

// SystemExtendedHandleInformation: every handle of every process, with
// full-width process ids. Not in the public headers, so the call is looked
// up with a plain number for its class.
constexpr ULONG kExtendedHandleInformation = 64;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

struct CHandleEntry {
  PVOID object;
  ULONG_PTR processId;
  ULONG_PTR handle;
  ULONG access;
  USHORT backTrace;
  USHORT typeIndex;
  ULONG attributes;
  ULONG reserved;
};

struct CHandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  CHandleEntry entries[1];
};

struct COwnHandle {
  ULONG_PTR handle;
  USHORT typeIndex;
};

// This process's handles.
std::vector<COwnHandle> OwnHandles() {
  std::vector<COwnHandle> handles;
  const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return handles;
  std::vector<char> buffer(1 << 20);
  LONG status;
  ULONG needed = 0;
  while ((status = query(kExtendedHandleInformation, buffer.data(),
                         static_cast<ULONG>(buffer.size()), &needed)) == kInfoLengthMismatch) {
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
  }
  if (status != 0) return handles;
  const auto* table = reinterpret_cast<const CHandleTable*>(buffer.data());
  const ULONG_PTR self = ::GetCurrentProcessId();
  for (ULONG_PTR i = 0; i < table->count; ++i) {
    const CHandleEntry& entry = table->entries[i];
    if (entry.processId != self) continue;
    handles.push_back({entry.handle, entry.typeIndex});
  }
  return handles;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The path without its drive, in lower case, with backslashes: the part a
// view's file name ends with whatever device prefix the system puts first.
std::string ViewNameTail(const std::string& path) {
  char full[MAX_PATH];
  const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return {};
  std::string tail(full, length);
  std::replace(tail.begin(), tail.end(), '/', '\\');
  if (tail.size() >= 2 && tail[1] == ':') tail.erase(0, 2);
  return Lower(tail);
}

// The type indexes of a file and of a file-mapping object on this system,
// learnt from one of each: the system opens handles of other kinds (keys,
// events, sections of its own) lazily, at first use, and those must not
// count.
std::pair<USHORT, USHORT> FileAndMappingTypes() {
  static const std::pair<USHORT, USHORT> types = [] {
    char self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, self, sizeof self);
    const HANDLE file = length > 0 && length < sizeof self
                            ? ::CreateFileA(self, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                            : INVALID_HANDLE_VALUE;
    const HANDLE mapping = file != INVALID_HANDLE_VALUE
                               ? ::CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr)
                               : nullptr;
    std::pair<USHORT, USHORT> found{0xFFFF, 0xFFFF};
    for (const COwnHandle& own : OwnHandles()) {
      if (own.handle == reinterpret_cast<ULONG_PTR>(file)) found.first = own.typeIndex;
      if (own.handle == reinterpret_cast<ULONG_PTR>(mapping)) found.second = own.typeIndex;
    }
    if (mapping != nullptr) ::CloseHandle(mapping);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return found;
  }();
  return types;
}

}  // namespace

// Handles of files and file mappings: what the program's own descriptors
// are on POSIX.
int CountOpenDescriptors() {
  const auto [file, mapping] = FileAndMappingTypes();
  int count = 0;
  for (const COwnHandle& own : OwnHandles())
    count += own.typeIndex == file || own.typeIndex == mapping;
  return count;
}

std::vector<std::string> ListOpenDescriptors() {
  const auto [file, mapping] = FileAndMappingTypes();
  std::vector<std::string> lines;
  for (const COwnHandle& own : OwnHandles()) {
    const char* kind = own.typeIndex == file      ? "file"
                       : own.typeIndex == mapping ? "file mapping"
                                                  : "other";
    lines.push_back(std::to_string(own.handle) + " -> " + kind + " (type " +
                    std::to_string(own.typeIndex) + ")");
  }
  return lines;
}

std::optional<CMappedRange> FindMapping(const std::string& path) {
  const std::string tail = ViewNameTail(path);
  if (tail.empty()) return std::nullopt;
  const char* at = nullptr;
  MEMORY_BASIC_INFORMATION region{};
  while (::VirtualQuery(at, &region, sizeof region) == sizeof region) {
    const char* base = static_cast<const char*>(region.BaseAddress);
    at = base + region.RegionSize;
    if (region.Type != MEM_MAPPED || region.BaseAddress != region.AllocationBase) continue;
    char name[1024];
    const DWORD length =
        ::GetMappedFileNameA(::GetCurrentProcess(), region.BaseAddress, name, sizeof name);
    const std::string mapped = Lower(std::string(name, length));
    if (mapped.size() < tail.size() ||
        mapped.compare(mapped.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    // A view may span regions of different protection; they share its base.
    const char* end = at;
    MEMORY_BASIC_INFORMATION next{};
    while (::VirtualQuery(end, &next, sizeof next) == sizeof next &&
           next.AllocationBase == region.AllocationBase)
      end = static_cast<const char*>(next.BaseAddress) + next.RegionSize;
    return CMappedRange{reinterpret_cast<uintptr_t>(base), reinterpret_cast<uintptr_t>(end)};
  }
  return std::nullopt;
}

bool IsMapped(const std::string& path) { return FindMapping(path).has_value(); }

int CountDescriptorsOn(const std::string& path) {
  const std::string tail = ViewNameTail(path);
  if (tail.empty()) return 0;
  const USHORT file = FileAndMappingTypes().first;
  int count = 0;
  for (const COwnHandle& own : OwnHandles()) {
    if (own.typeIndex != file) continue;
    const auto handle = reinterpret_cast<HANDLE>(own.handle);
    // Only files on a disk have a name to ask for; asking a pipe can block.
    if (::GetFileType(handle) != FILE_TYPE_DISK) continue;
    char name[1024];
    const DWORD length = ::GetFinalPathNameByHandleA(handle, name, sizeof name, 0);
    if (length == 0 || length >= sizeof name) continue;
    std::string held = Lower(std::string(name, length));
    std::replace(held.begin(), held.end(), '/', '\\');
    count += held.size() >= tail.size() &&
             held.compare(held.size() - tail.size(), tail.size(), tail) == 0;
  }
  return count;
}

// Windows has no Unix sockets to bind at a path in every version; the tests
// that want one are not run there.
int ListenAtPath(const std::string& /*path*/) { return -1; }
