#include "archive/entry_path.h"

#include "archive/windows_names.h"

#include <algorithm>
#include <utility>

CStatus CheckEntryName(std::string_view name) {
  if (name.empty()) return CStatus::Of(CStatus::Kind::EmptyName);
  if (IsNameSeparator(name.front())) return CStatus::Of(CStatus::Kind::AbsoluteName);
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    // A colon names a drive or a stream on some systems; control bytes
    // make names that cannot be typed or shown.
    if (byte == ':' || (byte >= 0x01 && byte <= 0x1F) || byte == 0x7F)
      return CStatus::Of(CStatus::Kind::ForbiddenByte);
  }
  for (const std::string_view segment : SplitEntryName(name)) {
    if (segment.empty()) return CStatus::Of(CStatus::Kind::EmptySegment);
    if (segment == "." || segment == "..") return CStatus::Of(CStatus::Kind::DotSegment);
  }
  return {};
}

std::string EntryKey(std::string_view name, bool foldCase) {
  if (foldCase) return WindowsCaseKey(name);
  std::string key(name);
  std::replace(key.begin(), key.end(), '/', '\\');
  return key;
}

bool IsSameEntry(std::string_view a, std::string_view b, bool foldCase) {
  return a.size() == b.size() && EntryKey(a, foldCase) == EntryKey(b, foldCase);
}

std::string SameEntryWords(std::string_view other, std::string_view name) {
  const bool separators = EntryKey(other, false) == EntryKey(name, false);
  return (separators ? "names the same file as '" : "differs only in letter case from '") +
         std::string(other) + "'";
}

namespace {

// For each fold and byte: its key byte, and the bytes of the same key,
// itself first.
struct CKeyBytes {
  char key[2][256];
  std::string peers[2][256];
  CKeyBytes() {
    for (int fold = 0; fold < 2; ++fold) {
      for (int b = 0; b < 256; ++b)
        key[fold][b] = EntryKey(std::string(1, static_cast<char>(b)), fold != 0)[0];
      for (int b = 0; b < 256; ++b) {
        peers[fold][b] += static_cast<char>(b);
        for (int other = 0; other < 256; ++other)
          if (other != b && key[fold][other] == key[fold][b])
            peers[fold][b] += static_cast<char>(other);
      }
    }
  }
};

const CKeyBytes& KeyBytes() {
  static const CKeyBytes kKeyBytes;
  return kKeyBytes;
}

}  // namespace

std::string_view EntryKeyPeers(char byte, bool foldCase) {
  return KeyBytes().peers[foldCase ? 1 : 0][static_cast<unsigned char>(byte)];
}

char EntryKeyByte(char byte, bool foldCase) {
  return KeyBytes().key[foldCase ? 1 : 0][static_cast<unsigned char>(byte)];
}

std::vector<std::string_view> SplitEntryName(std::string_view name) {
  std::vector<std::string_view> segments;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !IsNameSeparator(name[i])) continue;
    segments.push_back(name.substr(start, i - start));
    start = i + 1;
  }
  return segments;
}

CResult<platform::Handle> CFolderWalk::Enter(std::span<const std::string_view> segments,
                                             bool create) {
  // Keep the folders this path shares with the last one.
  size_t shared = 0;
  while (shared < segments.size() && shared < m_names.size() && m_names[shared] == segments[shared])
    ++shared;
  Truncate(shared);
  for (size_t depth = shared; depth < segments.size(); ++depth) {
    const platform::Handle above = depth == 0 ? m_root : m_handles.back().Get();
    const std::string name(segments[depth]);
    const platform::Result<platform::Handle> opened = platform::OpenFolderAt(above, name, create);
    if (!opened) return CStatus::FromSystem({}, opened.GetError());
    CHandleOwner folder(*opened);
    m_names.push_back(name);
    m_handles.push_back(std::move(folder));
  }
  return m_handles.empty() ? m_root : m_handles.back().Get();
}

void CFolderWalk::Truncate(size_t depth) {
  while (m_handles.size() > depth) {
    m_handles.pop_back();  // the deepest first
    m_names.pop_back();
  }
}
