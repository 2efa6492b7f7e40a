// Where an entry of a load-order window comes from: the archive that wins
// its name, and the mark `tarn overrides` prints for the copies it shadows.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "archive/shown_order.h"

struct CEntryOrigin {
  // The From column: the mark ('=' the copies it shadows are the same
  // bytes, '!' they differ) and the archive, e.g. "! patch.big".
  QString from;
  // The same in words, with the shadowed archives, for the tooltip and
  // whoever reads the tree out.
  QString description;
};

// The entry at `position` in the order's shown names (nothing for one
// added since the open), `changed` when a change is pending on it: a
// changed or added entry is written to the target, and comes from it.
CEntryOrigin OriginOf(const CShownOrder& order, std::optional<size_t> position, bool changed);

// The same for an entry of one archive listed on its own (Show Its
// Entries): won, unique, lost (to which archive) or left out, first, so a
// modder reads at a glance what of an archive counts; `changed` as above.
CEntryOrigin StandOf(const CShownOrder& order, uint32_t archive,
                     const CShownOrder::CArchiveEntry& entry, bool changed);
