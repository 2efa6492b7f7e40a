// Windows-1252, the code page the bytes of entry names and rules text are
// read in, here and on every system.
//
// Threading: none; no state.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The characters of bytes 0x80-0x9F; the rest of the page is Latin-1, whose
// bytes are their own code points. The five bytes the page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control characters of the same
// value, as Windows itself converts them, so every byte has a character of
// its own and the text gives the bytes back.
inline constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

// The character `byte` stands for.
constexpr char16_t Windows1252ToUnicode(uint8_t byte) {
  return byte >= 0x80 && byte <= 0x9F ? kWindows1252High[byte - 0x80] : char16_t{byte};
}

// The UTF-16 text of `bytes` read as Windows-1252. The five bytes that code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control
// characters of the same value, as Windows itself converts them, so every
// byte string has a text and the text gives the bytes back.
std::u16string Windows1252ToUtf16(std::string_view bytes);
// The Windows-1252 bytes of `text`; false when a character has none.
bool Utf16ToWindows1252(std::u16string_view text, std::string& bytes);
