// Entry names as paths under a folder: the one test of whether a name is
// safe to write, and the walk that opens folders without following links.
//
// An archive's names come from strangers. A name becomes a path only when
// CheckEntryName passes it; CFolderWalk then opens each folder on the way
// relative to the one above it, never through a symbolic link. Neither knows
// who calls it: extraction and packing both use them.
//
// Threading: none.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/handle_owner.h"
#include "storage/platform.h"
#include "storage/status.h"

// Whether `name` can become a path under a folder without reaching outside
// it, naming a device or stream, or carrying control bytes: Ok, or the kind
// of name it is (EmptyName, AbsoluteName, EmptySegment, DotSegment,
// ForbiddenByte), with the words for it and no path.
CStatus CheckEntryName(std::string_view name);

inline bool IsNameSeparator(char c) { return c == '\\' || c == '/'; }

// Whether names are folded for letter case where archives are extracted
// and packed: on Windows, whose file system takes "A.ini" and "a.ini" for
// one file.
#ifdef _WIN32
inline constexpr bool kEntryNamesFoldCase = true;
#else
inline constexpr bool kEntryNamesFoldCase = false;
#endif

// The one test of whether two entry names are one entry: one file once
// extracted, one entry to pack, rm and the editor. They are when their keys
// are equal. A key spells '/' as '\'; with `foldCase` (Windows' rule, the
// default there) letters are folded too, as Windows folds them in
// Windows-1252. Extraction, pack, rm and the editor's names all judge by it.
std::string EntryKey(std::string_view name, bool foldCase = kEntryNamesFoldCase);
bool IsSameEntry(std::string_view a, std::string_view b, bool foldCase = kEntryNamesFoldCase);
// Why `name` cannot stand beside `other`, which is one entry with it
// (IsSameEntry): "names the same file as 'OTHER'", or, when only letter
// case tells the two apart, "differs only in letter case from 'OTHER'".
std::string SameEntryWords(std::string_view other, std::string_view name);
// Every byte that stands where `byte` does in a key (itself first): the
// other separator for a separator, the other case of a letter with
// `foldCase`. Valid for the program's life.
std::string_view EntryKeyPeers(char byte, bool foldCase = kEntryNamesFoldCase);
// The byte that stands for `byte` in a key: EntryKey of one byte.
char EntryKeyByte(char byte, bool foldCase = kEntryNamesFoldCase);
// The segments of `name`, split at every '\' and '/'. The views point into
// `name`.
std::vector<std::string_view> SplitEntryName(std::string_view name);

// The folders on the way from a root folder down to one below it, kept open
// between calls so that entries of one folder, which come one after another
// in name order, open their folders once.
class CFolderWalk {
 public:
  // `root` stays the caller's and must outlive the walk.
  explicit CFolderWalk(platform::Handle root) : m_root(root) {}
  CFolderWalk(const CFolderWalk&) = delete;
  CFolderWalk& operator=(const CFolderWalk&) = delete;
  ~CFolderWalk() { Truncate(0); }

  // The folder reached through `segments` from the root (the root itself for
  // none), each opened relative to the one above it without following a
  // link, and made when missing if `create` is set; or why a folder cannot
  // be opened, in the system's words (no path). The handle stays the
  // walk's, valid until the next call.
  CResult<platform::Handle> Enter(std::span<const std::string_view> segments, bool create);

 private:
  void Truncate(size_t depth);

  platform::Handle m_root;
  std::vector<std::string> m_names;
  std::vector<CHandleOwner> m_handles;
};
