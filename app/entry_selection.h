// What a feature may ask of a document window: to show one place in its
// archive. The features (search, compare, ...) reach the tree and the list
// through this alone.
#pragma once

#include <cstddef>

class CEntrySelection {
 public:
  // Selects entry `entry` (its position in the document's map) in the tree
  // and row `row` of its rows in the list, both scrolled into view. False
  // when the window has no such entry or row.
  virtual bool SelectEntryRow(size_t entry, size_t row) = 0;

 protected:
  ~CEntrySelection() = default;
};
