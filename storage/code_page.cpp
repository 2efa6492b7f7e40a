#include "storage/code_page.h"

std::u16string Windows1252ToUtf16(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (const char c : bytes) text += Windows1252ToUnicode(static_cast<uint8_t>(c));
  return text;
}

bool Utf16ToWindows1252(std::u16string_view text, std::string& bytes) {
  bytes.clear();
  bytes.reserve(text.size());
  for (const char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      bytes += static_cast<char>(c);
      continue;
    }
    size_t i = 0;
    while (i < kWindows1252High.size() && kWindows1252High[i] != c) ++i;
    if (i == kWindows1252High.size()) return false;
    bytes += static_cast<char>(0x80 + i);
  }
  return true;
}
