// Buffered output for tarn, with the one escaping rule that every command
// uses for names and values: bytes 0x00-0x1F and 0x7F are written as \xHH
// (upper-case hex); every other byte, backslash and 0x80-0xFF included, is
// written as it is.
#pragma once

#ifndef TARN_INSIDE_CLI
#error "cli/output.h is internal to the cli library"
#endif

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "archive/padded_name.h"

class CEntryMap;

class COutput {
 public:
  explicit COutput(std::FILE* stream) : m_stream(stream), m_buffer(new char[kSize]) {}
  // Output kept in memory: what would be written is appended to `sink`.
  explicit COutput(std::string& sink)
      : m_stream(nullptr), m_sink(&sink), m_buffer(new char[kSize]) {}
  COutput(const COutput&) = delete;
  COutput& operator=(const COutput&) = delete;
  // Writes out what is buffered to a stream, which never throws. Output
  // kept in memory is its owner's to take (Buffered) before it goes: a
  // destructor that appended to the sink could run out of memory while an
  // exception unwinds, and end the process.
  ~COutput() {
    if (m_sink == nullptr) Flush();
  }

  // The most bytes the buffer holds: Raw of that many or fewer, right after
  // Drain, writes nothing out.
  static constexpr size_t kBufferSize = size_t{1} << 20;

  void Raw(std::string_view bytes) {
    if (bytes.size() > kSize - m_used) return RawSlow(bytes);
    std::memcpy(m_buffer.get() + m_used, bytes.data(), bytes.size());
    m_used += bytes.size();
  }
  // Words of a table made when compiling, padded so that each is copied
  // in one step: a line made for every entry of an archive is mostly such
  // words, and copying a few bytes of unknown length costs a call each.
  struct CWords {
    char text[32] = {};
    uint8_t size = 0;
    // A constant that grows past 32 bytes does not compile.
    constexpr CWords& operator+=(std::string_view more) {
      for (const char c : more) text[size++] = c;
      return *this;
    }
  };
  void Raw(const CWords& words) {
    if (kSize - m_used < sizeof words.text) return RawSlow({words.text, words.size});
    std::memcpy(m_buffer.get() + m_used, words.text, sizeof words.text);
    m_used += words.size;
  }
  void Raw(char c) {
    if (m_used == kSize) Drain();
    m_buffer[m_used++] = c;
  }
  void Escaped(std::string_view bytes) {
    if (!CopyUnescaped(bytes)) EscapedSlow(bytes);
  }
  // The same for a name of the reader's index, copied in whole steps of 16.
  void Escaped(CPaddedName name) {
    if (kSize - m_used >= name.size() + CPaddedName::kPadding &&
        CopyCleanPadded(m_buffer.get() + m_used, name)) {
      m_used += name.size();
      return;
    }
    EscapedSlow(name);
  }
  // Four spaces for each level of `depth`: a row's indentation, written
  // without ever being held whole.
  void Indent(uint64_t depth);
  void Number(uint64_t value) {
    if (kSize - m_used < kMaxDigits) Drain();
    assert(kSize - m_used >= kMaxDigits);
    char* const out = m_buffer.get() + m_used;
    // Sizes of small entries are the common case: one or two digits cost
    // less than making eight.
    if (value < 10) {
      *out = static_cast<char>('0' + value);
      m_used += 1;
    } else if (value < 100) {
      std::memcpy(out, kDigitPairs + 2 * value, 2);
      m_used += 2;
    } else {
      m_used += value < kEightDigitsEnd ? WriteEightDigits(out, static_cast<uint32_t>(value))
                                        : WriteDigits(out, value);
    }
  }
  // OFFSET<TAB>SIZE<TAB>NAME<LF>, the name escaped: a line of `tarn list`,
  // written in one go. The name's padding lets it be copied in whole steps
  // of 16.
  void EntryLine(uint32_t offset, uint32_t size, CPaddedName name) {
    // Two numbers, separators, a step's overrun.
    constexpr size_t kMostFixed = 2 * 10 + 3 + CPaddedName::kPadding;
    if (kSize - m_used < kMostFixed + name.size()) Drain();
    char* const start = m_buffer.get() + m_used;
    if (kSize - m_used >= kMostFixed + name.size()) {
      char* out = PutNumber(start, offset);
      *out++ = '\t';
      out = PutNumber(out, size);
      *out++ = '\t';
      if (CopyCleanPadded(out, name)) {
        out += name.size();
        *out++ = '\n';
        m_used = static_cast<size_t>(out - m_buffer.get());
        return;
      }
    }
    // A name to escape, or one as long as the buffer.
    EntryLineSlow(offset, size, name);
  }
  // False when any write failed (a closed pipe, a full disk).
  bool Flush();

  // Writes out what is buffered, then `bytes` as they are: for blocks of
  // lines made by another COutput, which need no second copy.
  void Write(std::string_view bytes);
  // What is buffered and not yet written out, and its removal.
  std::string_view Buffered() const { return {m_buffer.get(), m_used}; }
  void Discard() { m_used = 0; }
  // Writes out what is buffered, without flushing the stream.
  void Drain();

 private:
  // Lines collect here and go out in blocks of this size: a listing of
  // 200,000 names is then a handful of writes.
  static constexpr size_t kSize = kBufferSize;
  static constexpr size_t kMaxDigits = 20;
  static constexpr uint64_t kEightDigitsEnd = 100000000;
  static constexpr char kDigitPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";

  static size_t WriteDigits(char* out, uint64_t value);
  // The digits of `value` at `out`; the position after them.
  // REQUIRES: room for 10 bytes, and 8 bytes past the last digit.
  static char* PutNumber(char* out, uint32_t value) {
    if (value < 10) {
      *out = static_cast<char>('0' + value);
      return out + 1;
    }
    if (value < 100) {
      std::memcpy(out, kDigitPairs + 2 * value, 2);
      return out + 2;
    }
    return PutLongNumber(out, value);
  }
  static char* PutLongNumber(char* out, uint32_t value);
  // All eight digits of a number below 10^8, leading zeros included.
  static char* PutEightDigits(char* out, uint32_t value);
  void EntryLineSlow(uint32_t offset, uint32_t size, std::string_view name);
  // CopyClean for a padded name: no step overlaps.
  static bool CopyCleanPadded(char* out, CPaddedName bytes);
  // The digits of a number below 10^8, all made at once in one word.
  // REQUIRES: value < 10^8; 8 bytes of room at `out`, whatever the length.
  static size_t WriteEightDigits(char* out, uint32_t value);
  // Copies `bytes` when none needs escaping and they fit; false (nothing
  // written) otherwise.
  bool CopyUnescaped(std::string_view bytes);
  // Copies `bytes` to `out` when none needs escaping; false otherwise,
  // having written some. REQUIRES: 16 bytes or more.
  static bool CopyClean(char* out, std::string_view bytes);
  void EscapedSlow(std::string_view bytes);
  void RawSlow(std::string_view bytes);

  std::FILE* m_stream;
  std::string* m_sink = nullptr;
  std::unique_ptr<char[]> m_buffer;
  size_t m_used = 0;
  bool m_failed = false;
};

std::string EscapeBytes(std::string_view bytes);
// The same, appended to `out`.
void AppendEscaped(std::string& out, std::string_view bytes);
// `bytes` written to `stream` for messages on standard error, which reach a
// terminal: the rule above, and 0x80-0x9F as well, which terminals that
// read bytes as one character each take for control codes (0x9B starts a
// command as ESC [ does). The one escaping of everything tarn says on the
// terminal; output meant as data keeps EscapeBytes. Takes no memory, so it
// still works when memory has run out.
void WriteForTerminal(std::FILE* stream, std::string_view bytes);
// "tarn: CULPRIT: REASON" and a line end on `err`, both escaped by
// WriteForTerminal: how every command of tarn reports a problem.
void Report(std::FILE* err, std::string_view culprit, std::string_view reason);
// The same without a culprit: "tarn: REASON".
void Report(std::FILE* err, std::string_view reason);
// Why an entry's bytes as read are not the entry's: "entry 'NAME': the
// archive has changed on disk since it was opened", for a report whose
// culprit is the archive. Every command that reads entries says it so.
std::string EntryCutWords(std::string_view entry);
// Why an entry's bytes are fewer than the archive's index gives it: "entry
// 'NAME': cut short by the end of the archive (READ of CLAIMED bytes)". What
// is there is still read, and the command ends in trouble.
std::string PastEndWords(const CEntryMap& entries, size_t position);
// Each entry of `entries` cut short so, in name order, on `err` about
// `culprit` (after what `out` holds); false when there was one.
bool ReportPastEnd(const CEntryMap& entries, std::string_view culprit, COutput& out,
                   std::FILE* err);

// After reading `entries`: false, with "CULPRIT: has changed on disk since
// it was opened" on `err` (after what `out` holds), when another program
// wrote to the archive meanwhile, so what was read may be the new file's.
bool ReportChanged(const CEntryMap& entries, std::string_view culprit, COutput& out,
                   std::FILE* err);

// The lines of `count` items written to `out` in item order, made in blocks
// of `block` items on two threads: `make(first, last, into)` writes the
// lines of items [first, last) to `into`. Fewer than four blocks are made
// on this thread alone, where a second would cost more than it saves.
void WriteLinesInOrder(COutput& out, size_t count, size_t block,
                       const std::function<void(size_t first, size_t last, COutput& into)>& make);
