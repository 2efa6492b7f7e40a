// Load orders: the file a user writes by hand, tarn's @FILE arguments, and
// which archive each name resolves to.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/entry_map.h"
#include "archive/load_order.h"
#include "archive/shown_order.h"
#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"

namespace fs = std::filesystem;

namespace {

// What a window shows of an order: each name, its winner, mark and shadowed
// copies, and each archive's counts.
std::vector<std::string> NamesShown(const CShownOrder& order) {
  std::vector<std::string> names;
  for (size_t i = 0; i < order.Composed()->size(); ++i)
    names.emplace_back(order.Composed()->NameAt(i));
  return names;
}

std::string Picture(const CShownOrder& order) {
  std::string seen;
  const CEntryMap& shown = *order.Composed();
  for (size_t i = 0; i < shown.size(); ++i) {
    const CShownOrder::CShownName& name = order.Names()[i];
    seen += std::string(shown.NameAt(i)) + "<" + order.Archives()[name.archive].path + " " +
            name.mark;
    for (uint32_t c = name.first; c < name.first + name.count; ++c)
      seen += " " + order.Archives()[order.Shadowed()[c].archive].path + "@" +
              std::to_string(order.Shadowed()[c].position);
    seen += ";";
  }
  for (const CArchiveTally& tally : order.Tallies())
    seen += std::to_string(tally.wins) + "/" + std::to_string(tally.loses) + "/" +
            std::to_string(tally.only) + " ";
  return seen;
}

class LoadOrderTest : public ::testing::Test {
 protected:
  std::string Archive(const std::string& name, const CBigBuilder& builder) {
    return m_dir.Write(name, builder.Build());
  }
  CTempDir m_dir;
};

// A file saved by a Windows editor, with comments, blank lines and a name
// with spaces: each archive from the file's own folder, in file order.
TEST_F(LoadOrderTest, ReadsWhatAnEditorSavesRelativeToTheFilesFolder) {
  fs::create_directory(m_dir.Path() + "/mods");
  const std::string base = Archive("base.big", CBigBuilder().Add("a.ini", "1"));
  Archive("mods/ my mod .big ", CBigBuilder().Add("a.ini", "2"));
  const std::string order = m_dir.Write("mods/game.order",
                                        "\xEF\xBB\xBF# the game first\r\n../base.big\r\n\r\n   \r\n"
                                        "#  my mod .big\r\n my mod .big \r\n" +
                                            base);
  const CResult<std::vector<std::string>> paths = ReadLoadOrderFile(order);
  ASSERT_TRUE(paths) << paths.GetStatus().Describe();
  EXPECT_EQ(*paths, (std::vector<std::string>{m_dir.Path() + "/mods/../base.big",
                                              m_dir.Path() + "/mods/ my mod .big ", base}))
      << "spaces around a path are the path's; a final line needs no line end";
}

// The faults a hand-written order meets, each named with where to fix it.
TEST_F(LoadOrderTest, NamesTheFileAndLineOfWhatCannotBeLoaded) {
  Archive("base.big", CBigBuilder().Add("a.ini", "1"));
  const std::string order = m_dir.Write("bad.order", "# header\nbase.big\n\nmissing.big\n");
  CResult<std::vector<std::string>> paths = ReadLoadOrderFile(order);
  ASSERT_FALSE(paths);
  EXPECT_EQ(paths.GetStatus().GetPath(), order + ":4");
  EXPECT_EQ(paths.GetStatus().GetWords().rfind(m_dir.Path() + "/missing.big: ", 0), 0u)
      << paths.GetStatus().GetWords();

  paths = ReadLoadOrderFile(m_dir.Write("empty.order", "\xEF\xBB\xBF# nothing yet\r\n\r\n"));
  ASSERT_FALSE(paths);
  EXPECT_EQ(paths.GetStatus().Describe(), m_dir.Path() + "/empty.order: names no archive");

  paths = ParseLoadOrder(std::string_view("a.big\nb\0.big\n", 14), "x.order");
  ASSERT_FALSE(paths);
  EXPECT_EQ(paths.GetStatus().GetPath(), "x.order:2");

  // tarn says the same, as the command's trouble.
  const CTarnResult r = RunTarnCaptured({"overrides", "@" + order});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("tarn: " + order + ":4: " + m_dir.Path() + "/missing.big: ", 0), 0u)
      << r.err;
  EXPECT_EQ(RunTarnCaptured({"pack", m_dir.Path() + "/out.big", "@" + order}).status, 1);
  EXPECT_FALSE(fs::exists(m_dir.Path() + "/out.big"));
}

// @FILE stands for its archives in place, wherever archives go in load
// order, and a pattern starting with '@' stays a pattern.
TEST_F(LoadOrderTest, AtFileEqualsListingItsArchives) {
  const std::string base =
      Archive("base.big", CBigBuilder().Add("a.ini", "Weapon @Gun\nEnd\n").Add("b.ini", "x"));
  const std::string mod = Archive("mod.big", CBigBuilder().Add("a.ini", "Weapon @Gun2\nEnd\n"));
  const std::string patch = Archive("patch.big", CBigBuilder().Add("b.ini", "x"));
  const std::string order = m_dir.Write("game.order", "base.big\nmod.big\n");
  const std::vector<std::vector<std::string>> pairs[] = {
      {{"overrides", "@" + order, patch}, {"overrides", base, mod, patch}},
      {{"grep", "-i", "@gun", "@" + order}, {"grep", "-i", "@gun", base, mod}},
      {{"grep", "@Gun", patch, "@" + order}, {"grep", "@Gun", patch, base, mod}},
  };
  for (const auto& pair : pairs) {
    const CTarnResult ordered = RunTarnCaptured(pair[0]);
    const CTarnResult listed = RunTarnCaptured(pair[1]);
    EXPECT_EQ(ordered.out, listed.out) << pair[0][0];
    EXPECT_EQ(ordered.status, listed.status) << pair[0][0];
    EXPECT_EQ(ordered.err, listed.err) << pair[0][0];
    EXPECT_NE(listed.out, "") << "the test's own premise";
  }
}

// Who wins, loses and stands alone in a small order, names matched as the
// game matches them: letter case and '/' against '\' do not count.
TEST_F(LoadOrderTest, CountsWhatEachArchiveWinsLosesAndHoldsAlone) {
  const std::string paths[] = {
      Archive("base.big",
              CBigBuilder().Add("Data\\a.ini", "1").Add("b.ini", "1").Add("c.ini", "1")),
      Archive("mod.big", CBigBuilder().Add("data/A.INI", "2").Add("b.ini", "1").Add("m.ini", "")),
      Archive("patch.big", CBigBuilder().Add("B.ini", "1").Add("p.ini", "")),
  };
  CEntryMap maps[3];
  for (int a = 0; a < 3; ++a) ASSERT_TRUE(OpenArchiveEntries(paths[a], maps[a]).IsOk());
  const CEntryMap* order[] = {&maps[0], &maps[1], &maps[2]};
  const CResolvedOrder resolved = ResolveLoadOrder(order);
  ASSERT_EQ(resolved.names.size(), 5u);  // a, b, c, m, p
  std::string seen;
  for (const CResolvedName& name : resolved.names) {
    seen += std::string(maps[name.winner.archive].NameAt(name.winner.position)) + " " + name.mark +
            std::to_string(name.count) + ";";
  }
  EXPECT_EQ(seen, "B.ini =2;c.ini  0;data/A.INI !1;m.ini  0;p.ini  0;");
  const size_t expected[3][3] = {{1, 2, 1}, {2, 1, 1}, {2, 0, 1}};  // wins, loses, only
  for (int a = 0; a < 3; ++a) {
    const CArchiveTally& tally = resolved.tallies[a];
    EXPECT_EQ((std::vector<size_t>{tally.wins, tally.loses, tally.only}),
              (std::vector<size_t>(expected[a], expected[a] + 3)))
        << paths[a];
  }
  EXPECT_TRUE(resolved.problems.empty());
}

// A window's order, reordered and with an archive left out, resolves each
// name as the same order opened afresh does: winners, shadowed copies, marks
// and counts. A name held twice by one archive and a name spelled two ways
// are among them.
TEST_F(LoadOrderTest, ReorderingResolvesAsOpeningInThatOrder) {
  const std::string base = Archive(
      "base.big", CBigBuilder().Add("a.ini", "1").Add("b.ini", "1").Add("b.ini", "0").Add("c", "1"));
  const std::string mod = Archive("mod.big", CBigBuilder().Add("a.ini", "2").Add("b.ini", "1"));
  const std::string patch = Archive("patch.big", CBigBuilder().Add("Z", "").Add("c", "1").Add("p", ""));
  const std::string spelt = Archive("spelt.big", CBigBuilder().Add("A.INI", "2").Add("p", "2"));
  for (const bool withSpellings : {false, true}) {
    std::vector<std::string> paths = {base, mod, patch};
    if (withSpellings) paths.push_back(spelt);
    CShownOrder window;
    ASSERT_TRUE(window.Open(paths).IsOk());
    if (withSpellings) {
      // spelt first: "a.ini" wins over "A.INI", and stands elsewhere in
      // byte order.
      window.Move(3, 0);
      std::rotate(paths.begin(), paths.begin() + 3, paths.end());
    } else {
      window.Move(0, 2);  // base last: mod, patch, base
      std::rotate(paths.begin(), paths.begin() + 1, paths.begin() + 3);
    }
    CShownOrder fresh;
    ASSERT_TRUE(fresh.Open(paths).IsOk());
    EXPECT_EQ(Picture(window), Picture(fresh)) << withSpellings;

    const size_t out = window.Target() == 0 ? 1 : 0;  // the target stays in
    ASSERT_TRUE(window.Take(out, false).IsOk());
    paths.erase(paths.begin() + static_cast<std::ptrdiff_t>(out));
    CShownOrder without;
    ASSERT_TRUE(without.Open(paths).IsOk());
    // The target of `without` is its last archive; the window's stays.
    std::string expected = Picture(without);
    size_t at = expected.rfind(';') + 1;
    for (size_t k = 0; k < out; ++k) at = expected.find(' ', at) + 1;
    EXPECT_EQ(Picture(window), expected.insert(at, "0/0/0 "))
        << withSpellings << ": an archive left out wins and loses nothing";
  }
}

// The target written and read back, as a save leaves it: copies changed to
// other archives' bytes or to new ones, a copy dropped, a name of another
// archive taken in, a copy dropped while another comes to hold another
// archive's bytes, and then a name no archive held. Each resolves as the
// order opened afresh with the saved target.
TEST_F(LoadOrderTest, ReadingBackTheTargetResolvesAsOpeningItAfresh) {
  const std::string base =
      Archive("base.big", CBigBuilder().Add("a.ini", "1").Add("b.ini", "1").Add("c", "1"));
  const std::string mod =
      Archive("mod.big", CBigBuilder().Add("a.ini", "2").Add("c", "2").Add("d", "4"));
  const CBigBuilder saves[] = {
      CBigBuilder().Add("a.ini", "1").Add("b.ini", "1").Add("d", "5"),
      CBigBuilder().Add("a.ini", "1").Add("b.ini", "9").Add("c", "2").Add("d", "5"),
      CBigBuilder().Add("a.ini", "2").Add("b.ini", "1").Add("c", "1").Add("d", "5"),  // same names
      CBigBuilder().Add("b.ini", "1").Add("c", "1").Add("d", "4"),
      CBigBuilder().Add("b.ini", "9").Add("c", "1"),
      // Two names taken in, around the ones kept, none dropped.
      CBigBuilder().Add("a.ini", "1").Add("b.ini", "9").Add("c", "7").Add("d", "4"),
      CBigBuilder().Add("b.ini", "9").Add("new", "").Add("C", "3"),
  };
  const std::string first =
      Archive("target.big", CBigBuilder().Add("a.ini", "3").Add("c", "2").Add("d", "5"));
  // The target last, and the target first, with copies loaded after it.
  for (const bool last : {true, false}) {
    CShownOrder window;
    ASSERT_TRUE(
        window.Open(last ? std::vector{base, mod, first} : std::vector{first, base, mod}).IsOk());
    if (last) window.Move(1, 0);  // mod first: the kept copies are not in load order
    else window.SetTarget(0);
    int serial = 0;
    for (const CBigBuilder& saved : saves) {
      // A save puts a new file in the old one's place; the old one's bytes stay.
      const std::string target =
          Archive("target" + std::to_string(++serial) + (last ? "l" : "f") + ".big", saved);
      const std::vector<std::string> shown = NamesShown(window);
      ASSERT_TRUE(window.ReopenTarget(target).IsOk());
      // Where every name shown stays, the tree keeps its rows.
      EXPECT_EQ(window.SameNames(), NamesShown(window) == shown) << serial;
      CShownOrder fresh;
      ASSERT_TRUE(fresh.Open(last ? std::vector{mod, base, target} : std::vector{target, base, mod})
                      .IsOk());
      if (!last) fresh.SetTarget(0);
      EXPECT_EQ(Picture(window), Picture(fresh)) << serial << (last ? " last" : " first");
    }
  }
}

}  // namespace
