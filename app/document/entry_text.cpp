#include "app/document/entry_text.h"

#include <QFile>

#include "storage/code_page.h"

QString IndentedBytesToText(size_t spaces, std::string_view bytes) {
  QString text(static_cast<qsizetype>(spaces + bytes.size()), QLatin1Char(' '));
  QChar* out = text.data() + spaces;
  for (const char c : bytes) *out++ = QChar(Windows1252ToUnicode(static_cast<uint8_t>(c)));
  return text;
}

QString BytesToText(std::string_view bytes) { return IndentedBytesToText(0, bytes); }

std::optional<std::string> TextToBytes(const QString& text) {
  std::string bytes;
  if (!Utf16ToWindows1252(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                              static_cast<size_t>(text.size())),
                          bytes)) {
    return std::nullopt;
  }
  return bytes;
}

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString EscapeControls(const QString& text) {
  QString escaped;
  escaped.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      escaped += QLatin1String("\\x");
      escaped += QLatin1Char(kHex[u >> 4]);
      escaped += QLatin1Char(kHex[u & 0xF]);
    } else {
      escaped += c;
    }
  }
  return escaped;
}

QString Plural(size_t count, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

QString EntryCountText(size_t entries) { return Plural(entries, "entry", "entries"); }

QString EntryStatusText(size_t bytes, size_t rows, bool binary) {
  QString text = Plural(bytes, "byte", "bytes");
  if (binary) text += QStringLiteral(", binary data");
  return text + QStringLiteral(", ") + Plural(rows, "row", "rows");
}
