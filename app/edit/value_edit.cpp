#include "app/edit/value_edit.h"

#include "app/document/entry_text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<std::string> ReplaceValue(std::string_view text, size_t offset, size_t size,
                                        const QString& value, QString& reason) {
  if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'))) {
    reason = QStringLiteral("A value is one line: line ends are not taken");
    return std::nullopt;
  }
  if (value.contains(QLatin1Char(';'))) {
    reason = QStringLiteral("A value cannot hold ';': the rest of the line would be a comment");
    return std::nullopt;
  }
  std::optional<std::string> bytes = TextToBytes(value);
  if (!bytes) {
    reason = QStringLiteral("The value holds a character that rules text cannot store");
    return std::nullopt;
  }
  std::string_view typed(*bytes);
  while (!typed.empty() && IsBlank(typed.front())) typed.remove_prefix(1);
  while (!typed.empty() && IsBlank(typed.back())) typed.remove_suffix(1);
  std::string changed;
  changed.reserve(text.size() + typed.size() + 1);
  changed.append(text.substr(0, offset));
  // A key without a value ends where its value would start: a blank keeps
  // the new value from joining the key.
  if (size == 0 && !typed.empty() && offset > 0 && !IsBlank(text[offset - 1]) &&
      text[offset - 1] != '=') {
    changed.push_back(' ');
  }
  changed.append(typed);
  changed.append(text.substr(offset + size));
  return changed;
}
