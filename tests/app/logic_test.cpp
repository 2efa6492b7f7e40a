// The editor's logic without any window: byte-to-text mapping, the tree
// fill, the selection hand-off, picking cells to measure, the archive copy
// behind Save As, the recent-file list and the command line.
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

#include "app/document/archive_copy.h"
#include "app/edit/entry_editor.h"
#include "app/save/archive_saver.h"
#include "app/tree/entry_folders.h"
#include "app/document/entry_text.h"
#include "app/document/text_width.h"
#include "app/tree/entry_names.h"
#include "app/rows/tarn_editor_view.h"
#include "app/document/status_text.h"
#include "app/framework/win_app.h"
#include "app/tree/left_view.h"
#include "app/shell/tarn_editor_app.h"
#include "rules/rules_search.h"
#include "storage/code_page.h"
#include "tests/support/big_builder.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

// A map of entries named `names`, each holding its own name, from an
// archive written to `dir`.
CEntryMap EntriesNamed(const QTemporaryDir& dir, const std::vector<std::string>& names) {
  CBigBuilder builder;
  for (const std::string& name : names) builder.Add(name, name);
  const QString path = dir.filePath(QStringLiteral("entries.big"));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  const std::string bytes = builder.Build();
  file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  file.close();
  CEntryMap entries;
  OpenArchiveEntries(QFile::encodeName(path).toStdString(), entries).IsOk();
  return entries;
}

}  // namespace

class LogicTest : public QObject {
  Q_OBJECT

 private slots:
  // --- text

  void everyByteHasItsOwnCharacter() {
    QSet<char16_t> seen;
    for (int byte = 0; byte < 256; ++byte)
      seen.insert(Windows1252ToUnicode(static_cast<uint8_t>(byte)));
    QCOMPARE(seen.size(), 256);
  }

  void bytesMapThroughTheCodePage() {
    // ASCII and the Latin-1 upper half are themselves.
    for (int byte : {0x00, 0x09, 0x41, 0x7F, 0xA0, 0xC9, 0xE9, 0xFF}) {
      QCOMPARE(int(Windows1252ToUnicode(uint8_t(byte))), byte);
    }
    // The page's own characters in 0x80..0x9F.
    QCOMPARE(int(Windows1252ToUnicode(0x80)), 0x20AC);
    QCOMPARE(int(Windows1252ToUnicode(0x85)), 0x2026);
    QCOMPARE(int(Windows1252ToUnicode(0x8A)), 0x0160);
    QCOMPARE(int(Windows1252ToUnicode(0x92)), 0x2019);
    QCOMPARE(int(Windows1252ToUnicode(0x99)), 0x2122);
    QCOMPARE(int(Windows1252ToUnicode(0x9F)), 0x0178);
    // The five the page leaves undefined keep their value.
    for (int byte : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
      QCOMPARE(int(Windows1252ToUnicode(uint8_t(byte))), byte);
  }

  void textKeepsEveryByte() {
    const std::string name = Bytes({'a', 0x00, 0x80, 0x81, 0xFF, 'z'});
    const QString text = BytesToText(name);
    QCOMPARE(text.size(), qsizetype(6));
    QCOMPARE(text.at(1).unicode(), char16_t{0});
    QCOMPARE(text.at(2).unicode(), char16_t{0x20AC});
    QCOMPARE(text.at(3).unicode(), char16_t{0x81});
    QCOMPARE(text.at(4).unicode(), char16_t{0xFF});
    // Names differing in one high byte stay different as text.
    QVERIFY(BytesToText(Bytes({0x8D})) != BytesToText(Bytes({0x8F})));
    QCOMPARE(IndentedBytesToText(8, "Scale"), QStringLiteral("        Scale"));
    QCOMPARE(IndentedBytesToText(4, ""), QStringLiteral("    "));
  }

  // --- tree fill

  void treeListsEveryEntryInByteOrder() {
    QTemporaryDir dir;
    const std::string high = Bytes({0xE9, 't'});
    const CEntryMap entries = EntriesNamed(dir, {"b", "B", "ab", "a", "a\\b", high, "Z"});
    CEntryTreeModel model;
    QCOMPARE(model.rowCount(), 0);
    model.SetEntries(&entries);
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row) names << model.index(row).data().toString();
    // Upper case before lower case, a name before its extensions, high
    // bytes after every ASCII byte, a backslash just another byte.
    QCOMPARE(names,
             QStringList({"B", "Z", "a", "a\\b", "ab", "b", QString::fromLatin1(high.data(), 2)}));
    // Each item's data is the address of the map's own buffer, which holds
    // that entry's bytes.
    for (int row = 0; row < model.rowCount(); ++row) {
      const std::string name = TextToBytes(names[row]).value();
      const auto data = model.index(row).data(CEntryTreeModel::kEntryDataRole).value<quintptr>();
      const CDataBuffer& bytes = (*entries.find(name)).second;
      QCOMPARE(data, reinterpret_cast<quintptr>(&bytes));
      QCOMPARE(std::string(reinterpret_cast<const char*>(bytes.GetData()), bytes.GetSize()), name);
    }
  }

  // --- selection hand-off

  void selectionHandsOffOnlyANewlySelectedItem() {
    const CDataBuffer entry("x", 1);
    QCOMPARE(EntryToShow(false, true, &entry), &entry);
    QCOMPARE(EntryToShow(true, true, &entry), nullptr);    // old one still selected
    QCOMPARE(EntryToShow(false, false, &entry), nullptr);  // new one not selected
    QCOMPARE(EntryToShow(true, false, &entry), nullptr);
  }

  // --- widest cells

  void candidatesAreTheWidestFirst() {
    const std::vector<int> widths = {5, 9, 1, 9, 7, 3};
    QCOMPARE(WidestCandidates(widths, 3), std::vector<size_t>({1, 3, 4}));
    QCOMPARE(WidestCandidates(widths, 100).size(), size_t{6});
    QCOMPARE(WidestCandidates(widths, 0), std::vector<size_t>());
    QCOMPARE(WidestCandidates({}, 4), std::vector<size_t>());
    // Ties at the cut keep the earlier rows, whatever order they come in.
    QCOMPARE(WidestCandidates({7, 9, 7, 7, 8}, 3), std::vector<size_t>({1, 4, 0}));
  }

  // The names chosen without reading every one, on two threads for a large
  // map, are the ones every name's estimate would choose.
  void widestNamesAreTheWidestEstimates() {
    QTemporaryDir dir;
    std::mt19937 random(3);
    std::vector<std::string> names;
    for (int i = 0; i < 70000; ++i) {
      std::string name = "n" + std::to_string(i);
      const int extra = static_cast<int>(random() % 24);
      for (int k = 0; k < extra; ++k) name.push_back("il.WM\x97_"[random() % 7]);
      names.push_back(name);
    }
    const CEntryMap entries = EntriesNamed(dir, names);
    QCOMPARE(entries.size(), names.size());
    // Fonts need an application; this one test makes its own.
    int argc = 1;
    char name[] = "logic_test";
    char* argv[] = {name, nullptr};
    const QGuiApplication application(argc, argv);
    const QFont font;
    const CTextWidthEstimate estimate{QFontMetrics(font)};
    std::vector<int> widths;
    for (size_t i = 0; i < entries.size(); ++i)
      widths.push_back(estimate.Estimate(0, entries.NameAt(i)));
    for (const size_t limit : {size_t{0}, size_t{1}, size_t{32}, size_t{500}}) {
      QCOMPARE(WidestNames(entries, estimate, limit), WidestCandidates(widths, limit));
    }

    // One line of a hostile entry wider than an int counts is the widest of
    // all, not a negative width that no column is fitted to.
    QVERIFY(estimate.MaxAdvance() > 0);
    int widest = 0;
    while (estimate.Estimate(0, std::string(1, char(widest))) != estimate.MaxAdvance()) ++widest;
    const std::string line(size_t{INT_MAX} / size_t(estimate.MaxAdvance()) + 1, char(widest));
    QCOMPARE(estimate.Estimate(0, line), INT_MAX);
    QCOMPARE(estimate.Estimate(size_t{1} << 32, "a"), INT_MAX);
  }

  void columnsStayWithinThePane() {
    const CColumnWidths heading{40, 45};
    // Both fit: as fitted.
    QCOMPARE(CapColumnWidths({100, 200}, heading, 500).name, 100);
    QCOMPARE(CapColumnWidths({100, 200}, heading, 500).value, 200);
    // A huge Name leaves Value all it needs when that is little...
    QCOMPARE(CapColumnWidths({9000, 100}, heading, 500).name, 400);
    // ...and half the pane when Value is huge too; Value never passes the pane.
    const CColumnWidths both = CapColumnWidths({9000, 9000}, heading, 500);
    QCOMPARE(both.name, 250);
    QCOMPARE(both.value, 500);
    // Headings win over a pane too narrow for them.
    QCOMPARE(CapColumnWidths({9000, 9000}, heading, 20).name, 40);
    QCOMPARE(CapColumnWidths({9000, 9000}, heading, 20).value, 45);
  }

  // --- status texts

  void statusTexts() {
    QCOMPARE(EntryCountText(0), QStringLiteral("0 entries"));
    QCOMPARE(EntryCountText(1), QStringLiteral("1 entry"));
    QCOMPARE(EntryCountText(200000), QStringLiteral("200000 entries"));
    QCOMPARE(EntryStatusText(1, 1, false), QStringLiteral("1 byte, 1 row"));
    QCOMPARE(EntryStatusText(4096, 12, true), QStringLiteral("4096 bytes, binary data, 12 rows"));
    QCOMPARE(SaveAsProposal("/home/me/maps/a.big"), QStringLiteral("/home/me/maps/a copy.big"));
    QCOMPARE(SaveAsProposal("/home/me/x.y.big"), QStringLiteral("/home/me/x.y copy.big"));
    QCOMPARE(SaveAsProposal("/home/me/archive"), QStringLiteral("/home/me/archive copy"));
  }

  void binaryMeansAZeroByteInTheFirst8K() {
    QVERIFY(IsRulesText(""));
    QVERIFY(IsRulesText("Object A\n  B = \xff\x01\nEnd\n"));
    QVERIFY(!IsRulesText(std::string("TGA\0", 4)));
    std::string late(8192, 'a');
    QVERIFY(IsRulesText(late + '\0'));
    late[8191] = '\0';
    QVERIFY(!IsRulesText(late));
  }

  // --- find

  void findWrapsAndIgnoresAsciiCase() {
    QTemporaryDir dir;
    const CEntryMap entries =
        EntriesNamed(dir, {"Art\\Tank.tga", "Data\\INI\\Object\\Tank.ini", "Data\\ini\\weapon.ini",
                           "readme", "\xC9t\xE9.ini"});
    QCOMPARE(entries.size(), size_t{5});  // in that order
    const auto find = [&entries](std::string_view needle, size_t from, FindDirection d) {
      return FindEntry(entries, needle, from, d);
    };
    const auto fw = FindDirection::Forward;
    const auto back = FindDirection::Backward;
    QCOMPARE(find("tank", entries.size(), fw), std::optional<size_t>(0));
    QCOMPARE(find("TANK", 0, fw), std::optional<size_t>(1));
    QCOMPARE(find("tank", 1, fw), std::optional<size_t>(0));  // wraps
    QCOMPARE(find("tank", 0, back), std::optional<size_t>(1));
    QCOMPARE(find(".INI", 2, fw), std::optional<size_t>(4));
    QCOMPARE(find("readme", 3, fw), std::optional<size_t>(3));  // ends on itself
    QCOMPARE(find("ini\\o", entries.size(), back), std::optional<size_t>(1));
    // Only ASCII letters fold: \xC9 is not \xE9.
    QCOMPARE(find("\xE9t", 0, fw), std::nullopt);
    QCOMPARE(find("\xC9T\xE9", 0, fw), std::optional<size_t>(4));
    QCOMPARE(find("tanks", 0, fw), std::nullopt);
    QCOMPARE(find("", 0, fw), std::nullopt);
    QCOMPARE(FindEntry(CEntryMap(), "a", 0, fw), std::nullopt);
    // Typed text turns back into the bytes it shows.
    QCOMPARE(TextToBytes(BytesToText("\x80\x9F\xE9"
                                     "a")),
             std::optional<std::string>("\x80\x9F\xE9"
                                        "a"));
    QCOMPARE(TextToBytes(QStringLiteral("\u4E2D")), std::nullopt);
  }

  void foldersComeFromBothSeparators() {
    // In byte order, as the tree's rows are.
    const std::vector<std::string> names = {"Data/INI/b.ini",   "Data\\INI\\Sub\\c.ini",
                                            "Data\\INI\\a.ini", "Data\\Maps\\m.ini",
                                            "a\\\\x",           "top.ini"};
    CEntryFolders folders;
    folders.Build(names.size(), [&names](size_t row) { return std::string_view(names[row]); });
    const CEntryFolders::CFolder& root = folders.Folder(CEntryFolders::kRoot);
    QCOMPARE(root.entries, std::vector<uint32_t>({5}));
    QCOMPARE(root.folders.size(), size_t{2});  // "Data", "a", in byte order
    const uint32_t data = root.folders[0];
    QCOMPARE(folders.Folder(data).name, std::string("Data"));
    // "Data/INI" and "Data\INI" are one folder: both names are under it.
    const uint32_t ini = folders.FindFolder("Data/INI");
    QCOMPARE(ini, folders.FindFolder("Data\\INI"));
    QCOMPARE(folders.Folder(ini).entries, std::vector<uint32_t>({0, 2}));
    QCOMPARE(folders.RowsUnder(ini), std::vector<uint32_t>({0, 1, 2}));
    QCOMPARE(folders.RowsUnder(data), std::vector<uint32_t>({0, 1, 2, 3}));
    QCOMPARE(folders.PathOf(folders.FolderOfRow(1)), std::string("Data\\INI\\Sub"));
    // An entry's place among its folder's children: after the folders.
    QCOMPARE(folders.ChildOfRow(2), size_t{2});
    QCOMPARE(folders.FindFolder("Data\\Nothing"), CEntryFolders::kRoot);
    // An empty part (a name no pack writes, but an archive may hold) is a
    // folder with an empty name, not a crash.
    QCOMPARE(folders.Folder(folders.FolderOfRow(4)).name, std::string());
    QCOMPARE(folders.ShownName(0, names[0]), std::string_view("b.ini"));

    // Renaming a folder changes its part of each name and nothing else.
    QCOMPARE(ReplaceNamePart("Data/INI/b.ini", 1, "Rules"), std::string("Data/Rules/b.ini"));
    QCOMPARE(ReplaceNamePart("Data\\INI\\Sub\\c.ini", 0, "Art"),
             std::string("Art\\INI\\Sub\\c.ini"));
    QCOMPARE(ReplaceNamePart("top.ini", 1, "x"), std::string("top.ini"));

    // A name of very many parts nests no deeper than a tree view can draw;
    // the parts below stay in the entry's shown name.
    const std::string deep = std::string(200000, '\\') + "x";
    folders.Build(1, [&deep](size_t) { return std::string_view(deep); });
    QCOMPARE(folders.FolderCount(), CEntryFolders::kMaxDepth + 1);
    QCOMPARE(folders.ShownName(0, deep), std::string_view(deep).substr(CEntryFolders::kMaxDepth));
    QCOMPARE(folders.RowsUnder(CEntryFolders::kRoot), std::vector<uint32_t>({0}));
  }

  // --- archive copy

  void copyIsByteIdentical() {
    CTempDir dir;
    const std::string bytes =
        CBigBuilder().Add("a.ini", "Object A\nEnd\n").Add("b", Bytes({0, 1, 0xFF})).Build();
    const QString archive = ToQ(dir.Write("x.big", bytes));
    const auto stamp = StampArchive(archive);
    QVERIFY(stamp.has_value());
    const QString copy = ToQ(dir.Path() + "/copy.big");
    QCOMPARE(CopyArchive(*stamp, copy).GetKind(), CStatus::Kind::Ok);
    QCOMPARE(ReadWholeFile(copy.toStdString()), bytes);
    QCOMPARE(ReadWholeFile(archive.toStdString()), bytes);
    // Over an existing file the user chose: replaced whole.
    dir.Write("old.big", std::string(100000, 'x'));
    QCOMPARE(CopyArchive(*stamp, ToQ(dir.Path() + "/old.big")).GetKind(), CStatus::Kind::Ok);
    QCOMPARE(ReadWholeFile(dir.Path() + "/old.big"), bytes);
  }

  void copyRefusesTheArchiveUnderAnyName() {
    CTempDir dir;
    const std::string bytes = CBigBuilder().Add("a", "1").Build();
    const std::string archive = dir.Write("x.big", bytes);
    std::filesystem::create_directory(dir.Path() + "/sub");
    // Windows asks a privilege to make a symbolic link, and Wine makes none.
    std::error_code noLink;
    std::filesystem::create_symlink(archive, dir.Path() + "/link.big", noLink);
#ifndef _WIN32
    QVERIFY(!noLink);
#endif
    std::filesystem::create_hard_link(archive, dir.Path() + "/hard.big");
    const auto stamp = StampArchive(ToQ(archive));
    QVERIFY(stamp.has_value());
    std::vector<std::string> names = {archive, dir.Path() + "/sub/../x.big",
                                      dir.Path() + "/./x.big", dir.Path() + "/hard.big"};
    if (!noLink) names.push_back(dir.Path() + "/link.big");
    for (const std::string& name : names) {
      QCOMPARE(CopyArchive(*stamp, ToQ(name)).GetKind(), CStatus::Kind::SameFile);
    }
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(ToQ(dir.Path() + "/sub"));
    QCOMPARE(CopyArchive(*stamp, QStringLiteral("../x.big")).GetKind(), CStatus::Kind::SameFile);
    QDir::setCurrent(cwd);
    QCOMPARE(ReadWholeFile(archive), bytes);
#ifndef _WIN32
    // (Wine counts every file's links as one.)
    QCOMPARE(std::filesystem::hard_link_count(archive), uintmax_t{2});
#endif
    QVERIFY(noLink || std::filesystem::is_symlink(dir.Path() + "/link.big"));
  }

  void copyRefusesAnArchiveChangedSinceItOpened() {
    CTempDir dir;
    const std::string archive = dir.Write("x.big", CBigBuilder().Add("a", "1").Build());
    const auto stamp = StampArchive(ToQ(archive));
    QVERIFY(stamp.has_value());
    const std::string other = CBigBuilder().Add("a", "1").Add("b", "22").Build();
    dir.Write("x.big", other);
    const std::string target = dir.Write("keep.big", "untouched");
    QCOMPARE(CopyArchive(*stamp, ToQ(target)).GetKind(), CStatus::Kind::SourceChanged);
    QCOMPARE(ReadWholeFile(target), std::string("untouched"));
    std::filesystem::remove(archive);
    QCOMPARE(CopyArchive(*stamp, ToQ(target)).GetKind(), CStatus::Kind::SourceChanged);
    QCOMPARE(ReadWholeFile(target), std::string("untouched"));
    QVERIFY(!StampArchive(ToQ(archive)).has_value());
    QVERIFY(!StampArchive(ToQ(dir.Path())).has_value());
  }

  // Save As replaces a file the way tarn does: the old file's mode stays,
  // and a write that fails gives the system's words and leaves it whole.
  void copyKeepsTheReplacedFilesModeAndSaysWhyAWriteFailed() {
#ifdef _WIN32
    QSKIP("not on Windows: POSIX modes, fork and a file-size limit");
#else
    CTempDir dir;
    const std::string bytes = CBigBuilder().Add("a", std::string(200000, 'a')).Build();
    const auto stamp = StampArchive(ToQ(dir.Write("x.big", bytes)));
    QVERIFY(stamp.has_value());
    const std::string target = dir.Write("private.big", "old");
    QCOMPARE(::chmod(target.c_str(), 0600), 0);
    QCOMPARE(CopyArchive(*stamp, ToQ(target)).GetKind(), CStatus::Kind::Ok);
    struct stat info {};
    QCOMPARE(::stat(target.c_str(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t{0600});

    const std::string keep = dir.Write("keep.big", "untouched");
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
      // Past the limit a write fails as on a full disk, without ending the process.
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit cap{64 * 1024, 64 * 1024};
      if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) ::_exit(90);
      const CStatus result = CopyArchive(*stamp, ToQ(keep));
      ::_exit(result.GetKind() == CStatus::Kind::System &&
                      StatusText(result) == ToQ(keep) + QStringLiteral(": ") +
                                                QString::fromLocal8Bit(std::strerror(EFBIG))
                  ? 0
                  : 91);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(ReadWholeFile(keep), std::string("untouched"));
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), std::ptrdiff_t{3});
#endif
  }

  void copyIntoAMissingFolderFails() {
    CTempDir dir;
    const std::string archive = dir.Write("x.big", CBigBuilder().Add("a", "1").Build());
    const auto stamp = StampArchive(ToQ(archive));
    QCOMPARE(CopyArchive(*stamp, ToQ(dir.Path() + "/no/such/folder/y.big")).GetKind(),
             CStatus::Kind::System);
    QVERIFY(!std::filesystem::exists(dir.Path() + "/no"));
  }

  // --- recent files

  void recentFilesNameAFileOnceAsTheSystemSpellsIt() {
    CRecentFileList list(16);
    list.Add(QStringLiteral("C:/Games/Mods/Tanks.big"));
    list.Add(QStringLiteral("c:/games/mods/TANKS.BIG"));
    list.Add(QStringLiteral("C:\\Games\\Mods\\Tanks.big"));
#ifdef _WIN32
    // One file on Windows, however it was typed; shown as typed last, the
    // Windows way.
    QCOMPARE(list.GetCount(), 1);
    QCOMPARE(list.GetDisplayName(0), QStringLiteral("&1 C:\\Games\\Mods\\Tanks.big"));
#else
    QCOMPARE(list.GetCount(), 3);
#endif
  }

  void recentFilesKeepTheLatestSixteen() {
    CRecentFileList list(16);
    for (int i = 1; i <= 18; ++i) list.Add(QStringLiteral("/f/%1.big").arg(i));
    QCOMPARE(list.GetCount(), 16);
    QCOMPARE(list[0], QStringLiteral("/f/18.big"));
    QCOMPARE(list[15], QStringLiteral("/f/3.big"));
    // Opening one again moves it up instead of listing it twice.
    list.Add(QStringLiteral("/f/10.big"));
    QCOMPARE(list.GetCount(), 16);
    QCOMPARE(list[0], QStringLiteral("/f/10.big"));
    QCOMPARE(list[1], QStringLiteral("/f/18.big"));
    list.Remove(0);
    QCOMPARE(list[0], QStringLiteral("/f/18.big"));
    list.Remove(99);
    QCOMPARE(list.GetCount(), 15);
  }

  void recentFilesRoundTripThroughSettings() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("settings.ini"));
    CRecentFileList list(4);
    list.Add(QStringLiteral("/a b/one.big"));
    list.Add(QStringLiteral("/x=y/two;big"));
    {
      QSettings settings(file, QSettings::IniFormat);
      list.WriteList(settings);
    }
    CRecentFileList back(4);
    QSettings settings(file, QSettings::IniFormat);
    back.ReadList(settings);
    QCOMPARE(back.GetCount(), 2);
    QCOMPARE(back[0], QStringLiteral("/x=y/two;big"));
    QCOMPARE(back[1], QStringLiteral("/a b/one.big"));
    QCOMPARE(settings.value(QStringLiteral("Recent File List/File1")).toString(), back[0]);
  }

  void recentFileMenuTexts() {
    // Shown with the system's separator ('\\' on Windows).
    const auto native = [](const char* text) { return QDir::toNativeSeparators(text); };
    CRecentFileList list(16);
    for (int i = 11; i >= 1; --i) list.Add(QStringLiteral("/d/R&D %1.big").arg(i));
    QCOMPARE(list.GetDisplayName(0), native("&1 /d/R&&D 1.big"));
    QCOMPARE(list.GetDisplayName(9), native("1&0 /d/R&&D 10.big"));
    QCOMPARE(list.GetDisplayName(10), native("11 /d/R&&D 11.big"));
    CRecentFileList deep(1);
    deep.Add(QStringLiteral("/home/someone/very/long/folder/names/that/go/on/and/on/archive.big"));
    const QString shown = deep.GetDisplayName(0);
    QVERIFY2(shown.size() <= 3 + 60, qPrintable(shown));
    QVERIFY(shown.startsWith(native("&1 /home/...")));
    QVERIFY(shown.endsWith(native("/archive.big")));
  }

  // --- command line

  void commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("file");
    QTest::newRow("none") << QStringList() << int(CCommandLineInfo::FileNothing) << QString();
    QTest::newRow("path") << QStringList({"a.big"}) << int(CCommandLineInfo::FileOpen) << "a.big";
    QTest::newRow("switch first") << QStringList({"-x", "a.big"}) << int(CCommandLineInfo::FileOpen)
                                  << "a.big";
    QTest::newRow("switch only") << QStringList({"-x"}) << int(CCommandLineInfo::FileNothing)
                                 << QString();
    QTest::newRow("first path wins")
        << QStringList({"a.big", "b.big"}) << int(CCommandLineInfo::FileOpen) << "a.big";
    QTest::newRow("dash name") << QStringList({"--", "-a.big"}) << int(CCommandLineInfo::FileOpen)
                               << "-a.big";
  }

  void commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(int, command);
    QFETCH(QString, file);
    CTarnEditorApp app;
    app.SetArguments(arguments);
    CCommandLineInfo info;
    info.m_nShellCommand = CCommandLineInfo::FileNothing;
    app.ParseCommandLine(info);
    QCOMPARE(int(info.m_nShellCommand), command);
    QCOMPARE(info.m_strFileName, file);
  }

 private:
  static QString ToQ(const std::string& s) { return QString::fromStdString(s); }
};

QTEST_APPLESS_MAIN(LogicTest)
#include "logic_test.moc"
