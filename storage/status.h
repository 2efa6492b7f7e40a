// The one way the core says why something failed: a CStatus, which is "ok"
// or a kind of failure with the words a person reads and the name of the
// file it was about. It is a plain value, returned with the result or kept
// by the object that failed, so nothing later can overwrite it.
//
// Functions whose result is a plain 0/1 or bool keep it; the object that
// failed then keeps a CStatus saying why (CDiskFile::GetLastError,
// CBigArchive::GetFailure). The editor and `tarn` each turn a CStatus into
// their own words in one place.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "storage/platform.h"

class CStatus {
 public:
  enum class Kind : uint8_t {
    Ok,
    System,  // the system refused; the words are its own
    Failed,  // anything else; the words say what
  };

  CStatus() = default;
  // The system's reason for a failed call about `path`.
  static CStatus FromSystem(std::string path, const platform::Error& error) {
    return {Kind::System, std::move(path), error.Text(), error.IsLasting()};
  }
  // A failure about `path` in words of our own.
  static CStatus Failure(std::string path, std::string words) {
    return {Kind::Failed, std::move(path), std::move(words), false};
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
