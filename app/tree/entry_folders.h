// The tree's rows seen as folders: the parts of each name between '\' and
// '/' are folders, the last part is the entry. Free of any window, so the
// folder view's logic can be checked on its own.
//
// Built in one pass over the names in byte order: the entries of one
// folder mostly come one after another, so a folder is looked up only when
// the folder part changes, and memory grows with the folders, not the
// entries (one index per entry).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CEntryFolders {
 public:
  static constexpr uint32_t kRoot = 0;
  // Folders nest this deep at most; the parts of a name below that stay in
  // the entry's shown name. A tree view draws and lays out its levels by
  // recursion: a name of 50,000 separators in a hostile archive must not
  // become 50,000 levels.
  static constexpr size_t kMaxDepth = 32;

  struct CFolder {
    std::string name;  // its part of the path; empty for the root
    size_t depth = 0;  // how many parts its path has
    uint32_t parent = kRoot;
    uint32_t rowInParent = 0;       // among the parent's folders, which come first
    std::vector<uint32_t> folders;  // in byte order of their names
    std::vector<uint32_t> entries;  // rows, ascending
  };

  // The folders of `count` rows whose names `nameOf` gives, in byte order.
  // The names must stay valid while building.
  void Build(size_t count, const std::function<std::string_view(size_t)>& nameOf);

  const CFolder& Folder(uint32_t folder) const { return m_folders[folder]; }
  size_t FolderCount() const { return m_folders.size(); }
  uint32_t FolderOfRow(size_t row) const { return m_folderOfRow[row]; }
  size_t RowCount() const { return m_folderOfRow.size(); }
  // The children of a folder: its folders, then its entries.
  size_t ChildCount(uint32_t folder) const {
    return m_folders[folder].folders.size() + m_folders[folder].entries.size();
  }
  // What the tree shows for the entry `name` at `row`: the parts of it
  // below its folder (the last part, but for a name nested too deep).
  std::string_view ShownName(size_t row, std::string_view name) const;
  // Where `row` is among its folder's children.
  size_t ChildOfRow(size_t row) const;
  // Every row at or under `folder`, ascending.
  std::vector<uint32_t> RowsUnder(uint32_t folder) const;
  // The parts of the folder's path joined with '\'.
  std::string PathOf(uint32_t folder) const;
  // The folder whose path (either separator) is `path`, or kRoot when none.
  uint32_t FindFolder(std::string_view path) const;

 private:
  std::vector<CFolder> m_folders;
  std::vector<uint32_t> m_folderOfRow;
};
