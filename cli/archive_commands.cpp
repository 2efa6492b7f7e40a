#include "cli/archive_commands.h"

#include <chrono>
#include <optional>
#include <set>
#include <string_view>

#include "archive/big_archive.h"
#include "archive/big_writer.h"
#include "archive/change_set.h"
#include "archive/entry_map.h"
#include "archive/extract.h"
#include "cli/output.h"
#include "cli/tarn.h"
#include "storage/replacing_file.h"
#include "storage/terminal.h"

namespace {

// One line on a terminal that tells how far the work has got, rewritten in
// place and erased at the end. Shown only once the work has taken about a
// second, and never when the stream is not a terminal.
class CProgressLine {
 public:
  explicit CProgressLine(std::FILE* stream)
      : m_stream(stream), m_enabled(platform::IsTerminal(stream)), m_start(Clock::now()) {}
  ~CProgressLine() { Erase(); }
  CProgressLine(const CProgressLine&) = delete;
  CProgressLine& operator=(const CProgressLine&) = delete;

  bool Update(const CProgress& progress) {
    if (!m_enabled) return true;
    const Clock::time_point now = Clock::now();
    if (now - m_start < std::chrono::seconds(1) || now - m_last < std::chrono::milliseconds(100))
      return true;
    m_last = now;
    char line[160];
    const int length =
        std::snprintf(line, sizeof line, "\rtarn: %llu of %llu entries, %.1f of %.1f MB",
                      static_cast<unsigned long long>(progress.entriesDone),
                      static_cast<unsigned long long>(progress.entriesTotal),
                      static_cast<double>(progress.bytesDone) / 1e6,
                      static_cast<double>(progress.bytesTotal) / 1e6);
    if (length <= 0) return true;
    // Pad over the rest of a longer line written before.
    const int shown = length - 1;
    std::fprintf(m_stream, "%s%*s", line, m_width > shown ? m_width - shown : 0, "");
    std::fflush(m_stream);
    m_width = std::max(m_width, shown);
    return true;
  }

  void Erase() {
    if (m_width == 0) return;
    std::fprintf(m_stream, "\r%*s\r", m_width, "");
    std::fflush(m_stream);
    m_width = 0;
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* m_stream;
  bool m_enabled;
  Clock::time_point m_start;
  Clock::time_point m_last;
  int m_width = 0;
};

}  // namespace

int CommandExtract(const std::vector<std::string>& args, std::FILE* err) {
  const std::string& path = args[1];
  const std::string& folder = args[2];
  CBigArchive reader;
  if (reader.Open(path) != 0) {
    Report(err, path, reader.GetStatus().GetWords());
    return kExitFailure;
  }
  std::vector<CExtractEntry> entries = EntriesToExtract(reader);
  bool missing = false;
  if (args.size() > 3) {
    // Only the named entries, matched exactly, still in index order.
    const std::set<std::string_view, std::less<>> wanted(args.begin() + 3, args.end());
    std::erase_if(entries,
                  [&](const CExtractEntry& entry) { return wanted.count(entry.name) == 0; });
    for (const std::string_view name : wanted) {
      if (reader.GetIndex().find(name) != reader.GetIndex().end()) continue;
      Report(err, name, "no such entry");
      missing = true;
    }
  }
  CProgressLine line(err);
  CExtractOptions options;
  options.protect = IdentityOfFile(path);
  options.progress = [&line](const CProgress& progress) { return line.Update(progress); };
  options.archiveChanged = [&reader] { return reader.ChangedSinceOpened(); };
  CExtractReport report;
  ExtractEntries(folder, entries, options, report);
  line.Erase();
  if (!report.folderError.IsOk()) {
    Report(err, folder, report.folderError.GetWords());
    return kExitFailure;
  }
  for (const CEntryProblem& problem : report.problems) Report(err, problem.name, problem.reason);
  if (report.left > 0)
    Report(err, report.archiveChanged ? path : folder,
           "stopped; " + std::to_string(report.left) +
               (report.left == 1 ? " more entry" : " more entries") + " not extracted");
  return missing || !report.problems.empty() ? kExitFailure : kExitOk;
}

namespace {

// The end of pack and rm: nothing is written while there are problems;
// else the archive is written, with the progress line on a terminal.
int WriteGathered(const std::string& archive, CBigWriter& writer,
                  const std::vector<CEntryProblem>& problems, std::FILE* err) {
  if (!problems.empty()) {
    for (const CEntryProblem& problem : problems) Report(err, problem.name, problem.reason);
    Report(err, archive, "not written");
    return kExitFailure;
  }
  CProgressLine line(err);
  const CStatus written =
      writer.Write(archive, [&line](const CProgress& progress) { return line.Update(progress); });
  line.Erase();
  if (written.IsOk()) return kExitOk;
  Report(err, archive, written.GetWords());
  return kExitFailure;
}

}  // namespace

int CommandPack(const std::vector<std::string>& args, std::FILE* err) {
  const std::string& archive = args[1];
  CBigWriter writer;
  std::vector<CEntryProblem> problems;
  GatherPackInputs(archive, std::span(args).subspan(2), writer, problems);
  return WriteGathered(archive, writer, problems, err);
}

int CommandRemove(const std::vector<std::string>& args, std::FILE* err) {
  const std::string& path = args[1];
  // Every other entry as it is, written the way pack writes, with the same
  // atomic replacement; but not gathered as pack's input, whose rules would
  // refuse (or merge) entries that rm is asked to keep as they are.
  CBigWriter writer;
  std::vector<CEntryProblem> problems;
  GatherRemoval(path, std::span(args).subspan(2), writer, problems);
  return WriteGathered(path, writer, problems, err);
}
