// Changing one value in an entry's rules text, byte for byte.
//
// The list shows each key/value line's value; a change replaces exactly the
// bytes of that value in the entry. The key, the spacing, a comment after
// the value, the line end and every other byte stay as they were, so the
// entry differs from the old one in that one line only.
#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The entry `text` with the value at [offset, offset + size) replaced by
// `value` (Windows-1252). Nothing, with `reason` set, when the value cannot
// stand in one line of rules text as typed: a line end, a ';' (which would
// start a comment), or a character Windows-1252 has no byte for. Blanks
// around the value are dropped, as reading it back would drop them.
// REQUIRES: offset + size <= text.size().
std::optional<std::string> ReplaceValue(std::string_view text, size_t offset, size_t size,
                                        const QString& value, QString& reason);
