// How an archive's bytes become the editor's text and back. Names and
// rules are bytes in the Windows-1252 code page, which gives every byte a
// character of its own (the five it leaves undefined stand for the code
// point of the same value), so no two bytes look alike and text typed over
// them turns back into the same bytes.
#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// A byte string as text, one character per byte.
QString BytesToText(std::string_view bytes);
// The same, after `spaces` leading spaces.
QString IndentedBytesToText(size_t spaces, std::string_view bytes);
// The bytes `text` stands for, one per character, the inverse of
// BytesToText; nothing when a character stands for no byte.
std::optional<std::string> TextToBytes(const QString& text);

// A local file's path as the system's calls take it (the locale's bytes
// on POSIX, UTF-8 for the Windows layer).
std::string NativePath(const QString& path);

// `text` with every control character (below U+0020, U+007F to U+009F)
// written as \xHH, as `tarn` writes bytes in its messages: a file name that
// reaches a terminal cannot move its cursor or change its colours. The text
// is characters, not bytes: of 0x80-0x9F read as Windows-1252, only the five
// bytes the page leaves undefined come out as controls to escape.
QString EscapeControls(const QString& text);

// "1 row", "N rows": `count` and the word `one` or `many` fits.
QString Plural(size_t count, const char* one, const char* many);
// "1 entry", "N entries".
QString EntryCountText(size_t entries);
// What the status bar says of a selected entry: "N bytes, M rows", with
// "binary data" between them when it is not rules text.
QString EntryStatusText(size_t bytes, size_t rows, bool binary);
