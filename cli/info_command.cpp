#include "cli/info_command.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "archive/entry_map.h"
#include "cli/output.h"
#include "cli/tarn.h"
#include "media/entry_kind.h"
#include "storage/platform.h"

namespace {

// Entries in name order lie anywhere in the archive: waiting for each
// one's first bytes to come from memory took most of the time. Asking for
// them this many entries ahead lets the waits overlap (on 200,000 shuffled
// entries, 150 ms of processor time became 100 ms, and 90 ms with the
// records asked for too).
constexpr size_t kAhead = 16;
// Text is looked through for a zero byte, and other bytes for a header:
// an entry's first cache lines are asked for, not only its first. Four
// took tarn info of those entries from 40.8 ms to 35.9 ms (medians of 40
// runs); two gave 38.9 ms, eight no more than four.
constexpr size_t kLinesAhead = 4;

// Finding where an entry lies reads its record in the index, which lies
// anywhere too: that is asked for twice as far ahead.
void PrefetchRecord(const CEntryMap& entries, size_t at) {
#if defined(__GNUC__)
  // The offset and size are the 8 bytes before the name, and a record of a
  // few dozen bytes often spans two cache lines: the end of the name, where
  // its extension is looked for first, was waited for in a sixth of the
  // time of tarn info.
  const std::string_view name = entries.NameAt(at);
  __builtin_prefetch(name.data() - 8);
  __builtin_prefetch(name.data() + name.size());
#else
  (void)entries;
  (void)at;
#endif
}

void Prefetch(const CEntryMap& entries, size_t at) {
#if defined(__GNUC__)
  if (!entries.IsMapped()) return;
  const std::string_view bytes = entries.BytesAt(at);
  if (!bytes.empty()) __builtin_prefetch(bytes.data());
#else
  (void)entries;
  (void)at;
#endif
}

void Complain(std::FILE* err, const std::string& path, const std::string& words) {
  Report(err, path, words);
}

// The entry's bytes: a view of the mapped archive, or read from its file.
// False, with the reason on `err`, when they cannot be read.
bool EntryBytes(const CEntryMap& entries, size_t at, const std::string& path, std::FILE* err,
                std::string_view& bytes) {
  if (entries.IsMapped()) {
    bytes = entries.BytesAt(at);
    return true;
  }
  CStatus problem;
  const CDataBuffer& buffer = entries.BufferAt(at, &problem);
  if (!buffer.HasData() && buffer.GetSize() > 0) {
    Complain(err, path,
             "cannot read entry '" + std::string(entries.NameAt(at)) + "': " + problem.GetWords());
    return false;
  }
  bytes = buffer.View();
  return true;
}

// A damaged entry's details, "damaged dds: WHY"; false for any other.
bool WriteDamage(COutput& out, const CEntryFacts& facts) {
  if (facts.damagedFormat == nullptr) return false;
  if (const std::string_view named = NamedDamageDetails(facts); !named.empty()) {
    out.Raw(named);
    return true;
  }
  static constexpr COutput::CWords kDamaged = COutput::CWords() += "damaged ";
  out.Raw(kDamaged);
  out.Raw(facts.damagedFormat);
  out.Raw(": ");
  out.Escaped(DamagedWords(facts));
  return true;
}

// The facts in DetailsText's words, written in place: a line is made for
// every entry of an archive, and strings made for each cost a fifth of
// the time. False, having written nothing, when the details are the
// entry's kind and size ("binary 5120 bytes"), which the line's words
// hold ready.
bool WriteDetails(COutput& out, const CEntryFacts& facts) {
  if (WriteDamage(out, facts)) return true;
  const CImageFacts& image = facts.image;
  const CSoundFacts& sound = facts.sound;
  // Formats and encodings are the readers' own words, with nothing to
  // escape: escaping looked at them a byte at a time.
  switch (facts.kind) {
    case EntryKind::Image:
      out.Raw(std::string_view(image.format));
      out.Raw(' ');
      out.Number(image.width);
      out.Raw('x');
      out.Number(image.height);
      out.Raw(' ');
      if (std::string_view(image.format) == "dds") {
        out.Raw(image.encoding);
        out.Raw(" mips=");
        out.Number(image.mipmaps);
      } else {
        out.Number(image.bitsPerPixel);
        out.Raw("bpp");
      }
      return true;
    case EntryKind::Sound: {
      out.Raw("wav ");
      out.Raw(sound.encoding);
      out.Raw(' ');
      out.Number(sound.rate);
      out.Raw("Hz ");
      out.Number(sound.channels);
      out.Raw("ch ");
      out.Number(sound.bits);
      out.Raw("bit ");
      CSecondsText seconds;
      out.Raw(SecondsText(sound.seconds, seconds));
      return true;
    }
    case EntryKind::Rules:
      if (facts.counted) {
        out.Raw("rules ");
        out.Number(facts.blocks);
        out.Raw(" blocks ");
        out.Number(facts.rows);
        out.Raw(" rows");
        return true;
      }
      break;
    case EntryKind::Text:
    case EntryKind::Binary: break;
  }
  return false;
}

// The words from a line's name to its details, for each kind: "\tKIND\t",
// and the start of details that are the size, "KIND ".
struct CLineWords {
  COutput::CWords middle, sized;
};
constexpr auto kLineWords = [] {
  std::array<CLineWords, 5> words;
  for (const EntryKind kind :
       {EntryKind::Rules, EntryKind::Text, EntryKind::Image, EntryKind::Sound, EntryKind::Binary}) {
    CLineWords& line = words[static_cast<size_t>(kind)];
    ((line.middle += "\t") += KindWord(kind)) += "\t";
    (line.sized += KindWord(kind)) += " ";
  }
  return words;
}();

template <class Name>
void WriteLine(COutput& out, Name name, const CEntryFacts& facts) {
  static constexpr COutput::CWords kBytesLine = COutput::CWords() += " bytes\n";
  out.Escaped(name);
  const CLineWords& words = kLineWords[static_cast<size_t>(facts.kind)];
  out.Raw(words.middle);
  if (WriteDetails(out, facts)) {
    out.Raw('\n');
    return;
  }
  out.Raw(words.sized);
  out.Number(facts.size);
  out.Raw(kBytesLine);
}

// The lines of the entries [first, last) of a mapped archive, in name order.
void WriteMappedLines(const CEntryMap& entries, size_t first, size_t last, COutput& out) {
  // Where each entry's bytes lie is worked out once, when they are asked
  // for, and kept until they are read: working it out twice cost 3 % of
  // tarn info's instructions (243 million against 235 on
  // bench/info_bench.sh's archive).
  static_assert((kAhead & (kAhead - 1)) == 0, "a power of two, so the ring wraps with a mask");
  std::string_view ahead[kAhead];
  const auto askFor = [&](size_t at) {
    const std::string_view bytes = entries.BytesAt(at);
#if defined(__GNUC__)
    const size_t lines = std::min<size_t>((bytes.size() + 63) / 64, kLinesAhead);
    for (size_t line = 0; line < lines; ++line) __builtin_prefetch(bytes.data() + 64 * line);
#endif
    ahead[at & (kAhead - 1)] = bytes;
  };
  for (size_t at = first; at < last && at < first + kAhead; ++at) askFor(at);
  for (size_t at = first; at < last; ++at) {
    if (at + 2 * kAhead < last) PrefetchRecord(entries, at + 2 * kAhead);
    const std::string_view bytes = ahead[at & (kAhead - 1)];
    if (at + kAhead < last) askFor(at + kAhead);
    const CPaddedName name = entries.PaddedNameAt(at);
    WriteLine(out, name, DescribeEntry(name, bytes));
  }
}

// Every entry's line of a mapped archive, blocks of them made on two
// threads and handed over in order, as tarn list does: deciding the kinds
// is most of the work, and each entry's is decided alone.
void WriteAllMappedLines(const CEntryMap& entries, COutput& out) {
  // The archive's pages are not mapped all at once first: that spared a
  // fault every few pages, but on one thread while the other waited. Left
  // to the two threads that read them, tarn info of bench/info_bench.sh's
  // 200,000 entries took 25.5 ms against 28.9 ms (medians of 50 runs).
  constexpr size_t kBlock = 4096;  // lines
  WriteLinesInOrder(out, entries.size(), kBlock, [&](size_t first, size_t last, COutput& into) {
    WriteMappedLines(entries, first, last, into);
  });
}

// The positions of the named entries in name order, each once; false, with
// each missing name on `err`, when one is missing.
bool NamedPositions(const CEntryMap& entries, const std::vector<std::string>& names,
                    const std::string& path, std::FILE* err, std::vector<size_t>& positions) {
  bool all = true;
  for (const std::string& name : names) {
    const auto found = entries.find(name);
    if (found == entries.end()) {
      Complain(err, path, "no entry named '" + name + "'");
      all = false;
    } else {
      positions.push_back(found.Position());
    }
  }
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return all;
}

}  // namespace

int CommandInfo(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  if (args.size() < 2) {
    std::fprintf(err, "tarn: info: expected ARCHIVE [ENTRY...]\n");
    return kExitUsage;
  }
  const std::string& path = args[1];
  CEntryMap entries;
  const CStatus error = OpenArchiveEntries(path, entries);
  if (!error.IsOk()) {
    Complain(err, error.GetPath(), error.GetWords());
    return kExitFailure;
  }
  const bool named = args.size() > 2;
  COutput lines(out);
  if (!named && entries.IsMapped()) {
    WriteAllMappedLines(entries, lines);
    const bool whole =
        ReportChanged(entries, path, lines, err) && ReportPastEnd(entries, path, lines, err);
    if (!lines.Flush()) {
      std::fprintf(err, "tarn: cannot write to standard output\n");
      return kExitFailure;
    }
    return whole ? kExitOk : kExitFailure;
  }
  std::vector<size_t> positions;
  bool ok = true;
  if (named) {
    ok = NamedPositions(entries, {args.begin() + 2, args.end()}, path, err, positions);
  } else {
    positions.resize(entries.size());
    for (size_t i = 0; i < positions.size(); ++i) positions[i] = i;
  }
  for (size_t k = 0; k < positions.size(); ++k) {
    const size_t at = positions[k];
    if (k + 2 * kAhead < positions.size()) PrefetchRecord(entries, positions[k + 2 * kAhead]);
    if (k + kAhead < positions.size()) Prefetch(entries, positions[k + kAhead]);
    std::string_view bytes;
    if (!EntryBytes(entries, at, path, err, bytes)) {
      ok = false;
      continue;
    }
    const std::string_view name = entries.NameAt(at);
    CEntryFacts facts = DescribeEntry(name, bytes);
    if (named) CountRules(bytes, facts);
    WriteLine(lines, name, facts);
    if (named && entries.ReachesPastEndAt(at)) {
      lines.Flush();
      Complain(err, path, PastEndWords(entries, at));
      ok = false;
    }
  }
  ok = ReportChanged(entries, path, lines, err) && ok;
  if (!named) ok = ReportPastEnd(entries, path, lines, err) && ok;
  if (!lines.Flush()) {
    std::fprintf(err, "tarn: cannot write to standard output\n");
    return kExitFailure;
  }
  return ok ? kExitOk : kExitFailure;
}
