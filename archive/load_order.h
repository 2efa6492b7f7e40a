// Archives loaded one after another, as the game loads them: the file that
// lists them, and which archive's entry each name resolves to.
//
// A load-order file (".order") is UTF-8 text, one archive path a line, the
// first loaded first and the last winning. A relative path is taken from
// the file's folder; an absolute one (on Windows also one with a drive
// letter or a leading '\') as it is. A line whose first byte is '#' is a
// comment; a line of nothing but spaces and tabs is blank and skipped. Only
// the line end (LF or CRLF) and a UTF-8 byte-order mark at the start of the
// file are taken off: spaces are part of a path, at either end too. The file
// is only ever read; nothing in it names a place to write.
//
// Names are matched as the game matches them (EntryKey with letters folded,
// wherever this runs): "Data/INI/a.ini" in one archive and
// "data\ini\A.INI" in a later one are one name, the later one winning.
//
// Threading: none; the archives are read on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/status.h"

class CCompareSide;
class CEntryMap;

inline constexpr char kLoadOrderSuffix[] = ".order";

// The archive paths of the load-order text `text`, read from the file
// `file` (which relative paths are taken from). Checks nothing on disk.
// A failure says "FILE:LINE: why" (or "FILE: why" for the whole file).
CResult<std::vector<std::string>> ParseLoadOrder(std::string_view text, const std::string& file);

// Reads the load-order file `file` and parses it; then checks that every
// archive it names can be opened for reading (or is a folder, which pack
// and overrides take as archives), failing on the first that cannot, as
// "FILE:LINE: PATH: why". An order naming no archive fails.
CResult<std::vector<std::string>> ReadLoadOrderFile(const std::string& file);

// One entry of one archive of the order.
struct CLoadOrderEntry {
  uint32_t archive;   // in load order
  uint32_t position;  // in the archive's name order
};

// A name as the order resolves it.
struct CResolvedName {
  CLoadOrderEntry winner;  // the last copy in load order
  // The copies it shadows, in load order: CResolvedOrder::shadowed[first,
  // first + count).
  uint32_t first;
  uint32_t count;
  // '=' every copy has the winner's bytes, '!' some differ (or could not be
  // read), ' ' no copy is shadowed.
  char mark;
};

// What each archive of the order holds, counted in names.
struct CArchiveTally {
  size_t wins = 0;   // names whose winning copy is its own
  size_t loses = 0;  // names it holds that a later archive wins
  size_t only = 0;   // names no other archive holds (counted in wins too)
};

// Counts a name won by `winner` over its `shadowed` copies (in load order)
// once for each archive that holds it; `tallies` is indexed by archive.
void TallyName(CLoadOrderEntry winner, std::span<const CLoadOrderEntry> shadowed,
               std::span<CArchiveTally> tallies);

// A copy whose bytes could not be had; it counts as differing.
struct CLoadOrderProblem {
  CLoadOrderEntry entry;
  std::string words;
};

struct CResolvedOrder {
  // Every name, in byte order of the winning copy's name.
  std::vector<CResolvedName> names;
  std::vector<CLoadOrderEntry> shadowed;
  std::vector<CArchiveTally> tallies;  // one for each archive, in load order
  std::vector<CLoadOrderProblem> problems;
  // Whether some name is spelled two ways (letter case, '/' against '\\')
  // among its copies: which spelling is shown then depends on the order.
  bool spellingsJoined = false;
};

// Whether resolving reads the copies of a shadowed name to mark it.
enum class CopyCheck {
  CompareBytes,  // the winner's bytes against each copy's: '=' or '!'
  NamesOnly,     // no entry is read, and every mark is left ' '
};

// Resolves opened archives, given in load order. A copy is compared with
// the winner only when its name is shadowed, and by bytes.
CResolvedOrder ResolveLoadOrder(std::span<const CEntryMap* const> archives,
                                CopyCheck check = CopyCheck::CompareBytes);
// The same over compare sides: archives, folders read as pack reads them,
// or archives as a window shows them.
CResolvedOrder ResolveLoadOrder(std::span<CCompareSide* const> sides);

// A name as resolved, with the copies it shadows (`name.first` indexes the
// resolver's own array, gone once the visit returns).
using CNameVisitor =
    std::function<void(const CResolvedName& name, std::span<const CLoadOrderEntry> shadowed)>;
// The same again, handing each name to `visit` in turn, in the same order,
// instead of keeping them all: the tallies and problems come back, the
// names and shadowed copies stay empty. What `tarn overrides` needs, with
// less memory to fill.
CResolvedOrder VisitLoadOrder(std::span<CCompareSide* const> sides, const CNameVisitor& visit);
// The same over opened archives, as ResolveLoadOrder resolves them.
CResolvedOrder VisitLoadOrder(std::span<const CEntryMap* const> archives, CopyCheck check,
                              const CNameVisitor& visit);
