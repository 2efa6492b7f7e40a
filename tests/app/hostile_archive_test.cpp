// Archives that fight back, in the editor's own windows: an entry of 50 MB
// of random bytes, an archive cut short by another process while its window
// is open, an archive deleted, renamed or replaced while open, and paths that
// are no archive at all, which the open refuses quietly and at once.
#include <QMessageBox>
#include <QScopeGuard>
#include <QWidget>

#include <fcntl.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/document/entry_text.h"
#include "archive/extract.h"
#include "editor_fixture.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
#include "storage/replacing_file.h"
#include "tests/support/big_builder.h"
#include "tests/support/process_probe.h"

namespace {

// A row the list shows, owning its text, so it can be kept after the
// parser that made it parses again.
struct COwnedRow {
  uint32_t depth;
  std::string name;
  std::string value;
  bool operator==(const COwnedRow&) const = default;
};

template <typename Rows>
std::vector<COwnedRow> Own(const Rows& rows) {
  std::vector<COwnedRow> owned;
  owned.reserve(rows.size());
  for (const CRulesRow& row : rows)
    owned.push_back({row.depth, std::string(row.name), std::string(row.value)});
  return owned;
}

// The rows a rules text gives, parsed on its own, away from any window.
std::vector<COwnedRow> RowsOf(const std::string& text) {
  CRulesParser parser;
  parser.SetSource(CDataBuffer(text.data(), static_cast<uint32_t>(text.size())));
  parser.Parse();
  return Own(BuildRulesRows(parser.GetBlocks()));
}

std::vector<COwnedRow> ShownRows(CTarnEditorView* list) { return Own(list->GetModel()->GetRows()); }

std::string RandomBytes(size_t size, uint64_t seed) {
  std::mt19937_64 random(seed);
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i += 8) {
    const uint64_t word = random();
    std::memcpy(&bytes[i], &word, std::min<size_t>(8, size - i));
  }
  return bytes;
}

// Rules text of about `size` bytes, different for every `tag`, without a
// zero byte: zeros read back can only come from a vanished page.
std::string RulesText(int tag, size_t size) {
  std::string text;
  for (int block = 0; text.size() < size; ++block) {
    text += "Object Unit" + std::to_string(tag) + "_" + std::to_string(block) + "\n";
    text += "  Speed = " + std::to_string(tag * 1000 + block) + "\n";
    text += "  Draw = Model\n    Scale " + std::to_string(block % 7) + "\n  End\n";
    text += "  Armor = Heavy ; plated\nEnd\n";
  }
  return text;
}

QString Describe(const std::vector<COwnedRow>& shown, const std::vector<COwnedRow>& expected) {
  size_t first = 0;
  while (first < shown.size() && first < expected.size() && shown[first] == expected[first])
    ++first;
  return QStringLiteral("%1 rows shown, %2 expected, first difference at row %3")
      .arg(shown.size())
      .arg(expected.size())
      .arg(first);
}

bool AnyMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMessageBox*>(widget) != nullptr) return true;
  }
  return false;
}

}  // namespace

class HostileArchiveTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CTestSettings> m_settings;
  std::unique_ptr<CTempDir> m_dir;

 private slots:
  void init() {
    m_settings = std::make_unique<CTestSettings>();
    m_dir = std::make_unique<CTempDir>();
  }
  void cleanup() {
    m_dir.reset();
    m_settings.reset();
  }

  // --- size

  void fiftyMegabytesOfRandomBytesFillTheList() {
    const CHangGuard guard(100, "50 MB of random bytes");
    const std::string noise = RandomBytes(size_t{50} << 20, 5);
    const std::string small = "Weapon Gun\n  Range = 200\nEnd\n";
    const std::string path = m_dir->Write("noise.big", CBigBuilder()
                                                           .Add("Data\\INI\\Noise.ini", noise)
                                                           .Add("Data\\INI\\Small.ini", small)
                                                           .Build());
    const std::vector<COwnedRow> expected = RowsOf(noise);
    // Random bytes hold a newline every 256 bytes or so: many rows, some long.
    QVERIFY(expected.size() > 100000);

    CEditorRun run;
    run.Answer(ToQ(path));
    QVERIFY(run.Command(ID_FILE_OPEN));
    CChildFrame* frame = run.Active();
    QVERIFY(frame != nullptr);
    CLeftView* tree = TreeOf(frame);
    CTarnEditorView* list = ListOf(frame);
    ClickTreeRow(tree, 0);
    // Bytes like these are shown in hex unless asked for as rules.
    QVERIFY(run.Command(ID_VIEW_AS_RULES));
    QCOMPARE(list->model()->rowCount(), static_cast<int>(expected.size()));
    const std::vector<COwnedRow> shown = ShownRows(list);
    QVERIFY2(shown == expected, qPrintable(Describe(shown, expected)));

    // The cells read as their bytes, at both ends and at the longest.
    size_t longestName = 0;
    size_t longestValue = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
      if (4 * shown[i].depth + shown[i].name.size() >
          4 * shown[longestName].depth + shown[longestName].name.size()) {
        longestName = i;
      }
      if (shown[i].value.size() > shown[longestValue].value.size()) longestValue = i;
    }
    for (size_t i : {size_t{0}, shown.size() - 1, longestName, longestValue}) {
      const int row = static_cast<int>(i);
      QCOMPARE(list->model()->index(row, 0).data().toString(),
               IndentedBytesToText(4 * shown[i].depth, shown[i].name));
      QCOMPARE(list->model()->index(row, 1).data().toString(), BytesToText(shown[i].value));
    }
    // Both columns were fitted: never narrower than the heading, wide enough
    // for the cell with the most characters or else for half the pane at
    // least, and never wider than the pane, so Value stays in view.
    const int widths[] = {list->GetColumnWidth(0), list->GetColumnWidth(1)};
    const int longest[] = {static_cast<int>(longestName), static_cast<int>(longestValue)};
    const int visible = list->viewport()->width();
    for (int column = 0; column < 2; ++column) {
      QVERIFY(widths[column] >= list->header()->sectionSizeHint(column));
      const QModelIndex cell = list->model()->index(longest[column], column);
      QVERIFY2(widths[column] >= std::min(list->sizeHintForIndex(cell).width(), visible / 2),
               qPrintable(QStringLiteral("column %1 is %2 wide, its longest cell %3")
                              .arg(column)
                              .arg(widths[column])
                              .arg(list->sizeHintForIndex(cell).width())));
      QVERIFY(widths[column] <= std::max(visible, list->header()->sectionSizeHint(column)));
    }
    QVERIFY(list->header()->sectionViewportPosition(1) < visible);
    // Drawn at the top, at the longest cells and at the bottom.
    for (int row : {0, longest[0], longest[1], static_cast<int>(shown.size()) - 1}) {
      list->scrollTo(list->model()->index(row, 0));
      QVERIFY(!list->viewport()->grab().isNull());
    }

    // Away to the small entry and back: the same rows again.
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Down);
    QCOMPARE(ShownRows(list), RowsOf(small));
    QTest::keyClick(tree, Qt::Key_Up);
    QCOMPARE(list->model()->rowCount(), static_cast<int>(expected.size()));
  }

  // --- the archive changes under an open window

  void archiveCutShortByAnotherProcessWhileItsWindowIsOpen() {
#ifdef _WIN32
    QSKIP(
        "not on Windows: the cutting process is forked, and no other program can write an archive "
        "held open there");
#else
    const CHangGuard guard(100, "archive cut short while open");
    constexpr int kEntries = 12;
    std::vector<std::string> texts;
    CBigBuilder builder;
    for (int e = 0; e < kEntries; ++e) {
      texts.push_back(RulesText(e, 40000));
      builder.Add("Data\\INI\\Part" + std::to_string(10 + e) + ".ini", texts.back());
    }
    const std::string image = builder.Build();
    const std::string path = m_dir->Write("shrinking.big", image);
    std::vector<size_t> starts;
    for (const std::string& text : texts) starts.push_back(image.find(text));

    CEditorRun run;
    run.Answer(ToQ(path));
    QVERIFY(run.Command(ID_FILE_OPEN));
    CChildFrame* first = run.Active();
    QVERIFY(run.Command(ID_WINDOW_NEW));
    CChildFrame* second = run.Active();
    const std::optional<CMappedRange> mapped = FindMapping(path);
    QVERIFY(mapped);
    // Every page read once before the cut, so the vanished ones were mapped.
    for (int e = 0; e < kEntries; ++e) {
      ClickTreeRow(TreeOf(second), e);
      QCOMPARE(ShownRows(ListOf(second)), RowsOf(texts[e]));
    }

    // Another process cuts the file shorter and shorter, never at a page
    // boundary, while entries are selected in both windows.
    const size_t finalSize = starts[4] + 12345;
    int go[2];
    QCOMPARE(::pipe(go), 0);
    const pid_t cutter = ::fork();
    if (cutter == 0) {
      char byte;
      if (::read(go[0], &byte, 1) != 1) ::_exit(2);
      const int fd = ::open(path.c_str(), O_WRONLY);
      if (fd < 0) ::_exit(3);
      for (size_t size = image.size() - 777; size > finalSize; size -= 8191) {
        if (::ftruncate(fd, static_cast<off_t>(size)) != 0) ::_exit(4);
        ::usleep(20000);
      }
      ::_exit(::ftruncate(fd, static_cast<off_t>(finalSize)) == 0 ? 0 : 5);
    }
    QVERIFY(cutter > 0);
    QCOMPARE(::write(go[1], "g", 1), ssize_t{1});
    int status = 0;
    int selections = 0;
    for (bool done = false; !done; ++selections) {
      done = ::waitpid(cutter, &status, WNOHANG) == cutter;
      CChildFrame* frame = selections % 2 == 0 ? first : second;
      run.Main()->GetMdiArea()->setActiveSubWindow(frame);
      ClickTreeRow(TreeOf(frame), (selections * 5) % kEntries);
    }
    ::close(go[0]);
    ::close(go[1]);
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the cutting process failed");
    QVERIFY(selections > 1);

    // Now every entry shows its bytes before the cut, and zeros after it.
    for (CChildFrame* frame : {first, second}) {
      run.Main()->GetMdiArea()->setActiveSubWindow(frame);
      for (int e = 0; e < kEntries; ++e) {
        std::string left = texts[e];
        const size_t kept =
            finalSize > starts[e] ? std::min(left.size(), finalSize - starts[e]) : 0;
        std::fill(left.begin() + static_cast<std::ptrdiff_t>(kept), left.end(), '\0');
        ClickTreeRow(TreeOf(frame), e);
        // Zeros make an entry binary, shown in hex unless asked for as rules.
        QVERIFY(run.Command(ID_VIEW_AS_RULES));
        const std::vector<COwnedRow> shown = ShownRows(ListOf(frame));
        const std::vector<COwnedRow> expected = RowsOf(left);
        QVERIFY2(shown == expected,
                 qPrintable(QStringLiteral("entry %1: ").arg(e) + Describe(shown, expected)));
        QVERIFY(!ListOf(frame)->viewport()->grab().isNull());
      }
    }
    QCOMPARE(TreeNames(TreeOf(first)).size(), kEntries);
    // The faults were real and answered: the file's pages past the cut are
    // no longer mapped; zero pages stand in for them.
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::optional<CMappedRange> after = FindMapping(path);
    QVERIFY(after);
    QCOMPARE(after->begin, mapped->begin);
    QCOMPARE(after->end - after->begin, (finalSize + page - 1) / page * page);

    QVERIFY(run.Command(ID_FILE_CLOSE));
    CEditorRun::Settle();
    QVERIFY(run.Documents().empty());
    QVERIFY(!HoldsArchive(path));
#endif
  }

  void archiveGoneFromItsFolderKeepsItsEntries_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("deleted") << "deleted";
    QTest::newRow("renamed") << "renamed";
    QTest::newRow("replaced") << "replaced";
  }

  void archiveGoneFromItsFolderKeepsItsEntries() {
    QFETCH(QString, how);
    const CHangGuard guard(60, "archive gone from its folder");
    const std::vector<std::string> texts = {RulesText(1, 3000), RulesText(2, 9000),
                                            RulesText(3, 500)};
    const std::string path = m_dir->Write(
        "going.big",
        CBigBuilder().Add("a.ini", texts[0]).Add("b.ini", texts[1]).Add("c.ini", texts[2]).Build());
    const std::string moved = m_dir->Path() + "/moved.big";
    CEditorRun run;
    run.Answer(ToQ(path));
    QVERIFY(run.Command(ID_FILE_OPEN));
    CChildFrame* first = run.Active();
    ClickTreeRow(TreeOf(first), 0);

    // The way another program would, on Windows too: the window holds the
    // archive with leave to rename and remove it.
    if (how == "deleted") {
      QVERIFY(std::filesystem::remove(path));
    } else if (how == "renamed") {
      std::filesystem::rename(path, moved);
    } else {
      // Another program saves a new archive under the same name. (A plain
      // rename on Windows refuses to replace a file that is open: there it
      // is done the way tarn and the editor save.)
      const std::string fresh = CBigBuilder().Add("other.ini", "Object X\nEnd\n").Build();
#ifdef _WIN32
      const CDataBuffer bytes(fresh.data(), static_cast<uint32_t>(fresh.size()));
      QVERIFY(WriteFileReplacing(path, bytes, std::nullopt).IsOk());
#else
      std::filesystem::rename(m_dir->Write("fresh.big", fresh), path);
#endif
    }
    const std::string held = how == "renamed" ? moved : path;

    QCOMPARE(ShownRows(ListOf(first)), RowsOf(texts[0]));
    for (int e : {1, 2, 0}) {
      ClickTreeRow(TreeOf(first), e);
      QCOMPARE(ShownRows(ListOf(first)), RowsOf(texts[e]));
    }
    // A new window on the document lists and shows the same.
    QVERIFY(run.Command(ID_WINDOW_NEW));
    CChildFrame* second = run.Active();
    QCOMPARE(TreeNames(TreeOf(second)), QStringList({"a.ini", "b.ini", "c.ini"}));
    ClickTreeRow(TreeOf(second), 1);
    QCOMPARE(ShownRows(ListOf(second)), RowsOf(texts[1]));
#ifdef _WIN32
    // Wine names a view by the name its file had when it was mapped.
    QVERIFY(IsMapped(held) || IsMapped(path));
#else
    QVERIFY(IsMapped(held));
#endif

    QVERIFY(run.Command(ID_FILE_CLOSE));
    CEditorRun::Settle();
    QVERIFY(run.Documents().empty());
    QVERIFY(!HoldsArchive(held));
  }

  // --- paths that are no archive

  void pathsThatAreNoArchiveAreRefusedQuietly_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind :
         {"folder", "fifo", "link to fifo", "/dev/zero", "socket", "dangling link", "link loop"}) {
      QTest::newRow(kind) << kind;
    }
  }

  void pathsThatAreNoArchiveAreRefusedQuietly() {
#ifdef _WIN32
    QSKIP(
        "not on Windows: FIFOs, sockets, /dev/zero and POSIX links; windows_test covers devices "
        "and folders");
#else
    QFETCH(QString, kind);
    // A FIFO without a writer would block a plain open for good.
    const CHangGuard guard(20, qPrintable(QStringLiteral("refusing a ") + kind));
    const std::string base = m_dir->Path();
    std::string path;
    int listening = -1;  // the socket's own descriptor, while it stands
    const auto closeSocket = qScopeGuard([&] {
      if (listening >= 0) ::close(listening);
    });
    if (kind == "folder") {
      path = base + "/Data.big";
      QCOMPARE(::mkdir(path.c_str(), 0755), 0);
    } else if (kind == "fifo" || kind == "link to fifo") {
      path = base + "/pipe.big";
      QCOMPARE(::mkfifo(path.c_str(), 0644), 0);
      if (kind == "link to fifo") {
        QCOMPARE(::symlink(path.c_str(), (base + "/to-pipe.big").c_str()), 0);
        path = base + "/to-pipe.big";
      }
    } else if (kind == "/dev/zero") {
      path = "/dev/zero";
    } else if (kind == "socket") {
      path = base + "/socket.big";
      listening = ListenAtPath(path);
      QVERIFY(listening >= 0);
    } else if (kind == "dangling link") {
      path = base + "/gone.big";
      QCOMPARE(::symlink((base + "/never-there.big").c_str(), path.c_str()), 0);
    } else {
      path = base + "/loop.big";
      QCOMPARE(::symlink(path.c_str(), path.c_str()), 0);
    }
    const QString refused = ToQ(path);
    const std::string valid =
        m_dir->Write("valid.big", CBigBuilder().Add("a.ini", "Object A\n  B = 1\nEnd\n").Build());

    {
      CEditorRun run({ToQ(valid)});
      QVERIFY(run.Started());
      CChildFrame* frame = run.Active();
      ClickTreeRow(TreeOf(frame), 0);
      const QStringList rows = ListRows(ListOf(frame));
      const qsizetype topLevels = QApplication::topLevelWidgets().size();
      const int descriptors = CountSettledDescriptors();

      // File Open, then the open it goes through, for its answer.
      run.Answer(refused);
      QVERIFY(run.Command(ID_FILE_OPEN));
      QVERIFY(run.App().OpenDocumentFile(refused) == nullptr);
      CEditorRun::Settle();
      QCOMPARE(run.Documents().size(), size_t{1});
      QCOMPARE(run.Frames().size(), size_t{1});
      QCOMPARE(run.Active(), frame);
      QCOMPARE(ListRows(ListOf(frame)), rows);
      QCOMPARE(QApplication::topLevelWidgets().size(), topLevels);
      QVERIFY(!AnyMessageBox());
      QCOMPARE(run.App().GetRecentFileList()->GetCount(), 1);
      QCOMPARE(CountDescriptorsOn(path), 0);
      QCOMPARE(CountSettledDescriptors(), descriptors);

      // A recent file that has become one of these leaves the list.
      run.App().AddToRecentFileList(refused);
      QVERIFY(run.Command(ID_FILE_MRU_FILE1));
      QCOMPARE(run.App().GetRecentFileList()->GetCount(), 1);
      QCOMPARE((*run.App().GetRecentFileList())[0], ToQ(valid));
      QCOMPARE(run.Documents().size(), size_t{1});
      QVERIFY(!AnyMessageBox());
    }
    // Named on the command line from a terminal, it ends start-up without
    // a window.
    {
      CPseudoTerminal terminal;
      QVERIFY(terminal.IsOpen());
      const CStderrTo toTerminal(terminal.Name());
      CEditorRun run({refused});
      QVERIFY(!run.Started());
      QVERIFY(!run.Main()->isVisible());
      QVERIFY(run.Documents().empty());
      QVERIFY(!AnyMessageBox());
    }
    // From the desktop, the window comes up empty and says why.
    const CStderrTo toNowhere(kNullDevice);
    CEditorRun run({refused});
    QVERIFY(run.Started());
    QVERIFY(run.Documents().empty());
    QVERIFY(run.Main()->GetMessageText().startsWith("Cannot open "));
    QVERIFY(!AnyMessageBox());
#endif
  }
};

QTEST_MAIN(HostileArchiveTest)
#include "hostile_archive_test.moc"
