// The one way the core says why something failed: a CStatus, which is "ok"
// or a kind of failure with the words a person reads and the name of the
// file it was about. It is a plain value, returned with the result or kept
// by the object that failed, so nothing later can overwrite it.
//
// Functions whose result is a plain 0/1 or bool keep it; the object that
// failed then keeps a CStatus saying why (CDiskFile::GetLastError,
// CBigArchive::GetStatus). The editor and `tarn` each turn a CStatus into
// their own words in one place.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "storage/platform.h"

class CStatus {
 public:
  // What went wrong, for callers that act on it; each kind but System,
  // CannotOpen and Failed has fixed words (WordsFor).
  enum class Kind : uint8_t {
    Ok,
    System,  // the system refused; the words are its own
    Failed,  // anything else; the words say what
    // An archive refused by the reader.
    CannotOpen,  // its file could not be opened; the words are the system's
    TooShort,    // fewer than 16 bytes
    TooLarge,    // 2 GiB or more, or a size that cannot be read
    BadMagic,
    SizeMismatch,    // archive size field differs from the file's size
    BadCount,        // entry count with its top bit set
    BadHeaderSize,   // header size below 16
    IndexPastEnd,    // header size beyond the end of the file
    RecordsOverrun,  // records do not fit in the index region
    OutOfMemory,     // the index needs more memory than the system gives
    CannotRead,      // the bytes could be neither mapped nor read
    // An entry name that must not become a path under a folder.
    EmptyName,
    AbsoluteName,   // starts with a separator
    EmptySegment,   // two separators in a row, or one at the end
    DotSegment,     // a segment "." or ".."
    ForbiddenByte,  // a colon, or a byte 0x01-0x1F or 0x7F
    // An entry name Windows cannot hold as a path.
    ReservedName,        // CON, PRN, AUX, NUL, COM0-9, LPT0-9 (any case, any extension)
    TrailingDotOrSpace,  // a segment that ends in '.' or ' '
    ForbiddenCharacter,  // < > " | ? *
    // A copy of an opened archive refused.
    SameFile,       // the destination is the archive itself
    SourceChanged,  // the archive is gone, replaced or changed since it was opened
  };

  // The fixed words of `kind`, e.g. "not a BIG archive".
  static const char* WordsFor(Kind kind);

  CStatus() = default;
  // A failure of a kind with fixed words, about `path`.
  static CStatus Of(Kind kind, std::string path = {}) {
    return {kind, std::move(path), WordsFor(kind), false};
  }
  // The system's reason for a failed call about `path`.
  static CStatus FromSystem(std::string path, const platform::Error& error,
                            Kind kind = Kind::System) {
    return {kind, std::move(path), error.Text(), error.IsLasting()};
  }
  // A failure about `path` in words of our own.
  static CStatus Failure(std::string path, std::string words, Kind kind = Kind::Failed) {
    return {kind, std::move(path), std::move(words), false};
  }

  bool IsOk() const { return m_kind == Kind::Ok; }
  Kind GetKind() const { return m_kind; }
  const std::string& GetPath() const { return m_path; }
  // Empty when nothing failed.
  const std::string& GetWords() const { return m_words; }
  // Whether every later write to the same place would fail the same way
  // (no space left, quota used up, a read-only file system).
  bool IsLasting() const { return m_lasting; }
  // "PATH: WORDS".
  std::string Describe() const { return m_path + ": " + m_words; }

 private:
  CStatus(Kind kind, std::string path, std::string words, bool lasting)
      : m_kind(kind), m_path(std::move(path)), m_words(std::move(words)), m_lasting(lasting) {}

  Kind m_kind = Kind::Ok;
  std::string m_path;
  std::string m_words;
  bool m_lasting = false;
};
