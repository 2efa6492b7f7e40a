// What a feature may ask of a document window: to show one place in its
// archive. The features (search, compare, ...) reach the tree and the list
// through this alone.
#pragma once

#include <cstddef>
#include <string_view>

class CEntrySelection {
 public:
  // Selects the entry named `name` in the tree (an opened or an added one)
  // and row `row` of its rows in the list, both scrolled into view. False
  // when the window has no such entry or row.
  virtual bool SelectEntryRow(std::string_view name, size_t row) = 0;
  // The same for the copy of `name` in the load order's archive at path
  // `archive`, one the game does not load: the tree lists that archive's
  // entries to show it, read only.
  virtual bool SelectCopyRow(std::string_view archive, std::string_view name, size_t row) = 0;

 protected:
  ~CEntrySelection() = default;
};
