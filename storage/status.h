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
#include <variant>

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
    // Work given up on before its end.
    Cancelled,  // the caller's progress function asked to stop
    NotFound,   // no entry of that name
  };

  // Stops the program for a fault of the caller's, saying `what`.
  [[noreturn]] static void Misused(const char* what);

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
  // The words, moved out of a status about to go.
  std::string TakeWords() && { return std::move(m_words); }
  // Whether every later write to the same place would fail the same way
  // (no space left, quota used up, a read-only file system).
  bool IsLasting() const { return m_lasting; }
  // "PATH: WORDS".
  std::string Describe() const { return m_path + ": " + m_words; }
  // The same failure about `path`, for a caller that knows what the callee
  // did not.
  CStatus WithPath(std::string path) const {
    return {m_kind, std::move(path), m_words, m_lasting};
  }

 private:
  CStatus(Kind kind, std::string path, std::string words, bool lasting)
      : m_kind(kind), m_path(std::move(path)), m_words(std::move(words)), m_lasting(lasting) {}

  Kind m_kind = Kind::Ok;
  std::string m_path;
  std::string m_words;
  bool m_lasting = false;
};

// Words for an archive cut short or changed on disk since it was opened.
inline constexpr char kArchiveChangedWords[] = "has changed on disk since it was opened";

// A value, or the failure that left none: what a function that can fail
// gives back when it has something to give. Ask IsOk() (or test it as a
// bool) before taking the value; taking the value of a failure, or making
// a failure from an ok status, is a fault of the caller's: it stops the
// program with words saying which, in every build, rather than read a value
// that is not there.
template <typename T>
class CResult {
 public:
  CResult(T value) : m_held(std::move(value)) {}  // NOLINT: a value is a success
  CResult(CStatus status) : m_held(std::move(status)) {  // NOLINT: a status is a failure
    if (std::get_if<CStatus>(&m_held)->IsOk()) CStatus::Misused("a result made from an ok status");
  }

  bool IsOk() const { return m_held.index() == 0; }
  explicit operator bool() const { return IsOk(); }

  // REQUIRES: IsOk()
  T& operator*() & { return Value(); }
  const T& operator*() const& { return Value(); }
  T&& operator*() && { return std::move(Value()); }
  T* operator->() { return &Value(); }
  const T* operator->() const { return &Value(); }

  // Ok for a success.
  CStatus GetStatus() const { return IsOk() ? CStatus() : *std::get_if<CStatus>(&m_held); }

 private:
  T& Value() {
    if (!IsOk()) CStatus::Misused("the value of a failed result was taken");
    return *std::get_if<T>(&m_held);
  }
  const T& Value() const {
    if (!IsOk()) CStatus::Misused("the value of a failed result was taken");
    return *std::get_if<T>(&m_held);
  }

  std::variant<T, CStatus> m_held;
};
