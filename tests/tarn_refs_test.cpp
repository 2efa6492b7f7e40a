// References between rules blocks: the terms, the index the editor asks,
// and `tarn refs` / `tarn lint` on small archives, load orders and hostile
// archives, exit statuses included.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "rules/rules_refs.h"
#include "tests/support/big_builder.h"
#include "tools/demo/demo_archive.h"
#include "tests/support/run_tarn.h"

namespace {

// Twenty objects whose "Armor" names an armour block, one of them misspelt,
// and keys around them that must not be taken for references.
std::string ObjectsText(std::string_view misspelt = "Plaet") {
  std::string text;
  for (int i = 0; i < 20; ++i) {
    text += "Object Unit" + std::to_string(i) + "\n";
    text += i == 7 ? "  Armor = " + std::string(misspelt) + "\n" : "  Armor = Plate\n";
    text += "  Title = A plain title\n";
    text += "End\n";
  }
  return text;
}

TEST(RulesTermsTest, TokensNumbersModifiersAndReferenceKeys) {
  // Split at spaces and tabs only, compared byte for byte.
  EXPECT_TRUE(ValueHoldsToken("PRIMARY  Gun\tPlate", "Plate"));
  EXPECT_TRUE(ValueHoldsToken("Gun", "Gun"));
  for (const char* value : {"Guns", "gun", "Gun=1", "Gun,Cannon", "", "A Gun2"})
    EXPECT_FALSE(ValueHoldsToken(value, "Gun")) << value;

  for (const char* number : {"0", "-12", "+3.5", ".5", "7.", "25%", "-0.25%"})
    EXPECT_TRUE(IsNumberToken(number)) << number;
  for (const char* other : {"", "-", "%", "1.2.3", "1e5", "5%%", "12a", "--1"})
    EXPECT_FALSE(IsNumberToken(other)) << other;
  for (const char* modifier : {"NONE", "PRIMARY", "SLOT_2", "9"})
    EXPECT_TRUE(IsModifierToken(modifier)) << modifier;
  for (const char* name : {"", "None", "Plate", "FX-1", "\xC4"})
    EXPECT_FALSE(IsModifierToken(name)) << name;

  const auto unresolved = [](std::string_view value) {
    return IsUnresolvedValue(value, [](std::string_view t) { return t == "Plate"; });
  };
  EXPECT_TRUE(unresolved("Plaet"));
  EXPECT_TRUE(unresolved("PRIMARY Plaet 5"));
  for (const char* value : {"Plate", "Plaet Plate", "NONE", "-5%", ""})
    EXPECT_FALSE(unresolved(value)) << value;

  const CReferenceKeyRule rule;  // 20 rows, 90 %
  EXPECT_TRUE(IsReferenceKey({20, 18}, rule));
  EXPECT_FALSE(IsReferenceKey({20, 17}, rule));
  EXPECT_FALSE(IsReferenceKey({19, 19}, rule));
  EXPECT_TRUE(IsReferenceKey({3, 0}, {3, 0}));
  EXPECT_FALSE(IsReferenceKey({0, 0}, {0, 0}));
}

// What the editor asks of the index: where a token leads, what uses a
// name, the names of a keyword and the values of a key.
TEST(RulesIndexTest, AnswersWhereANameLeadsAndWhatNamesIt) {
  const std::string armor = "Armor Plate\n  Value 5\nEnd\nArmor Cloth\nEnd\nArmor Plate\nEnd\n";
  const std::string objects = ObjectsText();
  const std::string binary = std::string("Armor Skin\n", 11) + '\0';
  CRulesIndex index;
  index.Build({{"armor.ini", armor}, {"junk.bin", binary}, {"objects.ini", objects}});
  ASSERT_EQ(index.Sources().size(), 2u);  // the binary entry is no rules text

  const std::vector<const CRulesDefinition*> plate = index.DefinitionsOf("Plate");
  ASSERT_EQ(plate.size(), 2u);
  EXPECT_EQ(plate[0]->entry, 0u);
  EXPECT_EQ(armor.substr(plate[0]->offset, 5), "Plate");
  EXPECT_LT(plate[0]->offset, plate[1]->offset);
  EXPECT_TRUE(index.DefinitionsOf("Skin").empty());
  EXPECT_TRUE(index.DefinitionsOf("plate").empty());
  EXPECT_EQ(index.FirstDefinitionOf("Plate"), plate[0]);
  EXPECT_EQ(index.FirstDefinitionOf("Cloth"), index.DefinitionsOf("Cloth")[0]);
  EXPECT_EQ(index.FirstDefinitionOf("plate"), nullptr);

  // Rows as `tarn show` numbers them: each object's block row, then its two
  // lines; Unit7 is misspelt.
  const std::vector<CRulesUse> uses = index.UsesOf("Plate");
  ASSERT_EQ(uses.size(), 19u);
  EXPECT_EQ(uses[0].entry, 1u);
  EXPECT_EQ(uses[0].row, 1u);  // Unit0's Armor row
  EXPECT_TRUE(index.UsesOf("Plaet").empty());
  // A search finds the same rows, and the uses of a name nothing defines.
  const std::vector<CRulesUse> searched = index.SearchUses("Plate");
  ASSERT_EQ(searched.size(), uses.size());
  for (size_t i = 0; i < uses.size(); ++i)
    EXPECT_TRUE(searched[i].entry == uses[i].entry && searched[i].row == uses[i].row) << i;
  const std::vector<CRulesUse> misspelt = index.SearchUses("Plaet");
  ASSERT_EQ(misspelt.size(), 1u);
  EXPECT_EQ(misspelt[0].row, 17u * 3 + 1);  // Unit7 is the 18th block in byte order

  EXPECT_EQ(index.NamesOfKeywords(std::vector<std::string_view>{"Armor"}),
            (std::vector<std::string_view>{"Cloth", "Plate"}));
  EXPECT_TRUE(index.IsReferenceKey("Armor"));
  EXPECT_FALSE(index.IsReferenceKey("Title"));
  ASSERT_EQ(index.Unresolved().size(), 1u);
  EXPECT_EQ(index.Unresolved()[0].entry, 1u);
  EXPECT_EQ(index.Unresolved()[0].row, 17u * 3 + 1);
  const auto values = index.ValuesUsedWith("Armor");
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0], (std::pair<std::string_view, uint64_t>{"Plate", 19}));
  EXPECT_EQ(values[1], (std::pair<std::string_view, uint64_t>{"Plaet", 1}));
}

// Numbers name no block in most archives, and are then never looked up;
// in one where a block is named by a number, they are.
TEST(RulesIndexTest, ABlockNamedByANumberIsReferencedByIt) {
  std::string objects = ObjectsText();
  for (size_t at = objects.find("Plate"); at != std::string::npos; at = objects.find("Plate", at))
    objects.replace(at, 5, "-450");
  CRulesIndex index;
  index.Build({{"armor.ini", "Armor -450\nEnd\n"}, {"objects.ini", objects}});
  EXPECT_EQ(index.UsesOf("-450").size(), 19u);
  ASSERT_EQ(index.Unresolved().size(), 1u);
  EXPECT_EQ(index.Unresolved()[0].row, 17u * 3 + 1);
}

// Completion offers these names: each once though defined under both
// keywords, in byte order where the first eight bytes tie, where one is
// the start of another, and where a byte is past 0x7F.
TEST(RulesIndexTest, NamesOfKeywordsAreEachOnceInByteOrder) {
  CRulesIndex index;
  index.Build({{"a.ini",
                "Weapon LongName_B\nEnd\nArmor Zed\nEnd\nWeapon \xE9t\xE9\nEnd\nArmor LongName_A\n"
                "End\nWeapon Long\nEnd\nObject Other\nEnd\n"},
               {"b.ini", "Armor LongName_B\nEnd\nWeapon Zed\nEnd\n"}});
  EXPECT_EQ(
      index.NamesOfKeywords(std::vector<std::string_view>{"Weapon", "Armor"}),
      (std::vector<std::string_view>{"Long", "LongName_A", "LongName_B", "Zed", "\xE9t\xE9"}));
}

// The names are numbered as the entries are read, in a table sized from
// the first entries: one that defines few names before many others must
// still find every one, and tell repeated names apart from new ones. A
// name repeated under two keywords is two duplicates, each in entry order.
TEST(RulesIndexTest, EveryNameIsFoundWhenMostComeAfterTheFirstEntries) {
  std::vector<std::string> texts = {"Armor Plate\nEnd\n"};
  for (int e = 0; e < 40; ++e) {
    std::string text = e % 2 == 0 ? "Object Plate\nEnd\nArmor Plate\nEnd\n" : "Armor Plate\nEnd\n";
    for (int n = 0; n < 100; ++n) text += "Object U" + std::to_string(e * 100 + n) + "\nEnd\n";
    texts.push_back(text);
  }
  std::vector<std::string> names;
  for (size_t e = 0; e < texts.size(); ++e) names.push_back("e" + std::to_string(100 + e));
  std::vector<CRulesSource> sources;
  for (size_t e = 0; e < texts.size(); ++e) sources.push_back({names[e], texts[e]});
  CRulesIndex index;
  index.Build(std::move(sources));
  EXPECT_EQ(index.DefinitionsOf("Plate").size(), 61u);
  for (int u = 0; u < 4000; ++u)
    ASSERT_EQ(index.DefinitionsOf("U" + std::to_string(u)).size(), 1u) << u;
  EXPECT_FALSE(index.IsDefined("U4000"));
  const std::vector<CRulesDuplicate> duplicates = index.Duplicates();
  ASSERT_EQ(duplicates.size(), 2u);
  EXPECT_EQ(duplicates[0].keyword, "Armor");
  EXPECT_EQ(duplicates[1].keyword, "Object");
  EXPECT_EQ(duplicates[0].definitions.size(), 41u);
  EXPECT_EQ(duplicates[1].definitions.size(), 20u);
  for (const CRulesDuplicate& duplicate : duplicates) {
    for (size_t i = 1; i < duplicate.definitions.size(); ++i)
      EXPECT_LT(index.Definitions()[duplicate.definitions[i - 1]].entry,
                index.Definitions()[duplicate.definitions[i]].entry);
  }
}

// The first entries' names guess how many all will hold: one entry full of
// blocks before thousands without any must not size the table for
// millions, where lint keeps the room it was given.
TEST(RulesIndexTest, AFirstEntryFullOfBlocksDoesNotSizeTheTableForEveryEntry) {
  std::string blocks;
  for (int n = 0; n < 500; ++n) blocks += "Object N" + std::to_string(n) + "\nEnd\n";
  std::vector<std::string> names = {"a.ini"};
  for (int e = 0; e < 5000; ++e) names.push_back("b" + std::to_string(10000 + e) + ".ini");
  std::vector<CRulesSource> sources = {{names[0], blocks}};
  for (size_t e = 1; e < names.size(); ++e) sources.push_back({names[e], "; none\n"});
  CRulesIndex index;
  index.Build(std::move(sources), {}, CRulesIndexScope::kProblems);
  EXPECT_TRUE(index.IsDefined("N499"));
  EXPECT_LT(index.MemoryBytes(), size_t{1} << 20);
}

// Thousands of entries are read in chunks on two threads, each numbering
// the keys and keywords it meets: every chunk meets new ones, and the
// counts of a key met on both threads must add up.
TEST(RulesIndexTest, KeysAndKeywordsMetInEveryChunkOnEitherThreadAddUp) {
  constexpr int kEntries = 3 * 4096 + 10;
  std::vector<std::string> names = {"a00000.ini"}, texts = {"Armor Plate\nEnd\n"};
  for (int e = 1; e <= kEntries; ++e) {
    names.push_back("a" + std::to_string(100000 + e) + ".ini");
    texts.push_back("Object O" + std::to_string(e) + "\n  Armor = " +
                    (e == kEntries ? "Plaet" : "Plate") + "\n  Note" + std::to_string(e) +
                    " = y\nEnd\n" + (e == kEntries - 1 ? "Weapon W1\nEnd\n" : ""));
  }
  std::vector<CRulesSource> sources;
  for (size_t e = 0; e < names.size(); ++e) sources.push_back({names[e], texts[e]});
  CRulesIndex index;
  index.Build(std::move(sources));
  EXPECT_TRUE(index.IsReferenceKey("Armor"));
  EXPECT_EQ(index.Keys().at("Armor").rows, uint64_t{kEntries});
  EXPECT_EQ(index.Keys().count("Note7"), 0u);  // too few rows to be a reference key
  ASSERT_EQ(index.Unresolved().size(), 1u);
  EXPECT_EQ(index.Sources()[index.Unresolved()[0].entry].Name(), names.back());
  ASSERT_EQ(index.DefinitionsOf("W1").size(), 1u);
  EXPECT_EQ(index.KeywordOf(*index.DefinitionsOf("W1")[0]), "Weapon");
  EXPECT_EQ(index.UsesOf("Plate").size(), size_t{kEntries - 1});
}

// An archive whose every row (or block) has a name of its own is refused
// past the bound, on whichever thread meets the name past it, rather than
// read into gigabytes; one within it is read.
TEST(RulesIndexTest, MoreRowNamesOrKeywordsThanTheBoundAreRefused) {
  std::vector<std::string> names, keys, keywords;
  for (int e = 0; e < 2000; ++e) {
    const std::string n = std::to_string(10000 + e);
    names.push_back("a" + n + ".ini");
    keys.push_back("Object O" + n + "\n  K" + n + " = 1\nEnd\n");
    keywords.push_back("Kind" + n + " B" + n + "\nEnd\n");
  }
  for (const std::vector<std::string>* texts : {&keys, &keywords}) {
    std::vector<CRulesSource> sources;
    for (size_t e = 0; e < names.size(); ++e) sources.push_back({names[e], (*texts)[e]});
    CRulesIndex index;
    EXPECT_THROW(index.Build(sources, {}, CRulesIndexScope::kEverything, 1024), CTooManyNames);
    index.Build(sources, {}, CRulesIndexScope::kEverything, 4096);
    EXPECT_EQ(index.Definitions().size(), 2000u);
  }
}

// A row that names a block twice is one use of it, in a row of few names
// and in one of hundreds.
TEST(RulesIndexTest, ARowThatNamesABlockTwiceIsOneUseOfIt) {
  std::string text, many = "  Armor =";
  for (int n = 0; n < 300; ++n) {
    text += "Object N" + std::to_string(n) + "\nEnd\n";
    many += " N" + std::to_string(n);
  }
  text += "Object Few\n  Armor = N7 N8 N7\nEnd\nObject Many\n" + many + " N5 N299 N20\nEnd\n";
  CRulesIndex index;
  index.Build({{"a.ini", text}});
  EXPECT_EQ(index.UsesOf("N7").size(), 2u);  // Few and Many
  for (const char* name : {"N5", "N20", "N299", "N150"}) EXPECT_EQ(index.UsesOf(name).size(), 1u);
}

class TarnRefsTest : public ::testing::Test {
 protected:
  std::string Write(const CBigBuilder& builder, const std::string& name = "a.big") {
    return m_dir.Write(name, builder.Build());
  }
  CTempDir m_dir;
};

TEST_F(TarnRefsTest, RefsListsDefinitionsAndEveryUseInEntryThenRowOrder) {
  const std::string uses =
      "Object Tank\n"
      "  Weapon = PRIMARY Gun\t Gun\n"  // twice in one row: listed once
      "  Guns = Gun2 ; Gun in a comment\n"
      "  Gun = Other\n"  // a key, not a use
      "  Draw = Model\n"
      "    Muzzle Gun\n"
      "  End\n"
      "  Note = Gun\x01\n"
      "End\n"
      "Gun Gun\n"  // a block named after its own keyword
      "End\n";
  const std::string path = Write(CBigBuilder()
                                     .Add("b.ini", uses)
                                     .Add("a.ini", "Weapon Gun\n  Damage 5\nEnd\n")
                                     .Add("c.bin", std::string("Weapon Gun\n\0", 12)));
  CTarnResult r = RunTarnCaptured({"refs", "Gun", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "def\ta.ini\tGun\tGun\tWeapon\n"
            "def\tb.ini\tGun\tGun\tGun\n"
            "use\tb.ini\tTank\t    Weapon\tPRIMARY Gun\\x09 Gun\n"
            "use\tb.ini\tTank\t        Muzzle\tGun\n");
  EXPECT_EQ(r.err, "");

  // A misspelt name is defined nowhere; its uses are found all the same.
  r = RunTarnCaptured({"refs", "Gun2", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "use\tb.ini\tTank\t    Guns\tGun2\n");
  // Escaped as tarn show escapes.
  EXPECT_EQ(RunTarnCaptured({"refs", "Gun\x01", path}).out,
            "use\tb.ini\tTank\t    Note\tGun\\x01\n");

  r = RunTarnCaptured({"refs", "Cannon", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"refs"}, {"refs", "Gun"}, {"refs", "", path}}) {
    r = RunTarnCaptured(bad);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: tarn refs NAME ARCHIVE..."), std::string::npos) << r.err;
  }
}

TEST_F(TarnRefsTest, LintFindsUnresolvedRowsOfReferenceKeysAndDuplicates) {
  const std::string armor =
      "Armor Plate\nEnd\n"
      "Armor Cloth\nEnd\n"
      "Armor Plate\nEnd\n"      // twice in one entry: merged in its rows
      "Locomotor Plate\nEnd\n"  // another keyword: no duplicate
      "armor Zed\nEnd\n";
  const std::string path = Write(CBigBuilder()
                                     .Add("objects.ini", ObjectsText())
                                     .Add("armor.ini", armor)
                                     .Add("more.ini",
                                          // keywords taken in turn: the places still go by
                                          // keyword, each keyword's in entry order
                                          "armor Zed\nEnd\nLocomotor Cloth\nEnd\n"
                                          "Armor Cloth\nEnd\n"));
  CTarnResult r = RunTarnCaptured({"lint", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "unresolved\tobjects.ini\tUnit7\t    Armor\tPlaet\n"
            "duplicate\tArmor\tCloth\tarmor.ini\tmore.ini\n"
            "duplicate\tArmor\tPlate\tarmor.ini\tarmor.ini\n"
            "duplicate\tarmor\tZed\tarmor.ini\tmore.ini\n");
  EXPECT_EQ(r.err, "");

  // Numbers and capitals are modifiers, not misspelt names.
  for (const char* value : {"NONE", "0", "-25%", "PRIMARY Plate"}) {
    const std::string clean = Write(
        CBigBuilder().Add("objects.ini", ObjectsText(value)).Add("armor.ini", "Armor Plate\nEnd\n"),
        "clean.big");
    r = RunTarnCaptured({"lint", clean});
    EXPECT_EQ(r.status, 0) << value;
    EXPECT_EQ(r.out, "") << value;
  }

  // 19 of 20 rows name a block: 95 %. The thresholds move the line.
  const std::string unresolved = "unresolved\tobjects.ini\tUnit7\t    Armor\tPlaet\n";
  const auto lints = [&](std::vector<std::string> options) {
    options.insert(options.begin(), "lint");
    options.push_back(path);
    return RunTarnCaptured(options).out.find(unresolved) != std::string::npos;
  };
  EXPECT_FALSE(lints({"--min-uses", "21"}));
  EXPECT_TRUE(lints({"--min-uses", "20", "--share", "95"}));
  EXPECT_FALSE(lints({"--share", "96"}));
  EXPECT_TRUE(lints({"--share", "0", "--"}));

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"lint"},
                                             {"lint", "--share", "101", path},
                                             {"lint", "--share", "9.5", path},
                                             {"lint", "--min-uses", "0", path},
                                             {"lint", "--min-uses", path},
                                             {"lint", "--fast", path}}) {
    r = RunTarnCaptured(bad);
    EXPECT_EQ(r.status, 2) << bad[1];
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage: tarn lint [--min-uses N] [--share P] ARCHIVE..."),
              std::string::npos)
        << r.err;
  }
}

// Archives in load order: only each name's winning entry counts, and a
// winner that is not rules text hides the rules copies below it.
TEST_F(TarnRefsTest, LoadOrdersCountOnlyTheWinningEntryOfEachName) {
  const std::string base = Write(CBigBuilder()
                                     .Add("objects.ini", ObjectsText())
                                     .Add("armor.ini", "Armor Plate\nEnd\n")
                                     .Add("old.ini", "Armor Plate\nEnd\nArmor Wood\nEnd\n")
                                     .Add("skin.ini", "Armor Wood\nEnd\n"),
                                 "base.big");
  const std::string mod = Write(CBigBuilder()
                                    .Add("old.ini", "Armor Plaet\nEnd\n")
                                    .Add("skin.ini", std::string("\0binary", 7)),
                                "mod.big");
  // mod.big defines the misspelt name, and replaces base.big's second Plate.
  CTarnResult r = RunTarnCaptured({"lint", base, mod});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = RunTarnCaptured({"refs", "Plaet", base, mod});
  EXPECT_EQ(r.out, "use\t" + base + "\tobjects.ini\tUnit7\t    Armor\tPlaet\n" + "def\t" + mod +
                       "\told.ini\tPlaet\tPlaet\tArmor\n");
  // Wood: old.ini's copy lost to mod.big's, skin.ini's is hidden by a
  // binary winner.
  EXPECT_EQ(RunTarnCaptured({"refs", "Wood", base, mod}).status, 1);

  // Alone, base.big defines Plate twice and misses Plaet.
  r = RunTarnCaptured({"lint", base});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "unresolved\tobjects.ini\tUnit7\t    Armor\tPlaet\n"
            "duplicate\tArmor\tPlate\tarmor.ini\told.ini\n"
            "duplicate\tArmor\tWood\told.ini\tskin.ini\n");

  // An archive that does not open is trouble; the others are still read.
  const std::string missing = m_dir.Path() + "/missing.big";
  for (const char* command : {"refs", "lint"}) {
    std::vector<std::string> args{command};
    if (args[0] == "refs") args.push_back("Plate");
    args.insert(args.end(), {missing, base});
    r = RunTarnCaptured(args);
    EXPECT_EQ(r.status, 2) << command;
    EXPECT_NE(r.out.find("\t" + base + "\tobjects.ini\tUnit"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "tarn: " + missing + ": " + MissingFileReason() + "\n");
  }
}

TEST_F(TarnRefsTest, DamagedAndHostileArchivesGiveAnErrorOrTheirRowsNeverACrash) {
  const std::string notBig = m_dir.Write("text.big", "Armor Plate\nEnd\n");
  const std::string overrun = Write(CBigBuilder().Add("a", "x").Count(1000), "overrun.big");
  for (const std::string& path : {notBig, overrun, m_dir.Path()}) {
    for (const char* command : {"refs", "lint"}) {
      std::vector<std::string> args{command};
      if (args[0] == "refs") args.push_back("Plate");
      args.push_back(path);
      const CTarnResult r = RunTarnCaptured(args);
      EXPECT_EQ(r.status, 2) << command << " " << path;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err.rfind("tarn: " + path + ": ", 0), 0u) << r.err;
    }
  }

  // 200,000 nested blocks, entries reaching past the end or starting past
  // it (named as trouble), a control byte in a name, and binary bytes: read
  // as far as they go.
  std::string deep = "Armor Deep\n";
  for (int i = 0; i < 200000; ++i) deep += "Draw\n";
  deep += "Weapon = Deep\n";
  const std::string hostile = Write(CBigBuilder()
                                        .Add("deep.ini", deep)
                                        .Add("ctl.ini", "Armor \x1b[2J\nEnd\nArmor \x1b[2J\nEnd\n")
                                        .Add("zero.bin", std::string(64, '\0'))
                                        .AddRecord("past", 0x7FFFFFF0u, 100)
                                        .AddRecord("short", 16, 0xFFFFFFFFu),
                                    "hostile.big");
  const std::string cut = "tarn: " + hostile + ": entry '";
  const std::string cutWords =
      cut + "past': cut short by the end of the archive (0 of 100 bytes)\n" + cut +
      "short': cut short by the end of the archive (" +
      std::to_string(std::filesystem::file_size(hostile) - 16) + " of 4294967295 bytes)\n";
  CTarnResult r = RunTarnCaptured({"refs", "Deep", hostile});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "def\tdeep.ini\tDeep\tDeep\tArmor\nuse\tdeep.ini\tDeep\t" +
                       std::string(4u * 200001, ' ') + "Weapon\tDeep\n");
  EXPECT_EQ(r.err, cutWords);
  r = RunTarnCaptured({"lint", hostile});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "duplicate\tArmor\t\\x1B[2J\tctl.ini\tctl.ini\n");
  EXPECT_EQ(r.err, cutWords);
}

// The demo archive shows the feature: a misspelt faction and a weapon
// defined in two entries.
TEST_F(TarnRefsTest, TheDemoArchiveHasAMisspeltReferenceAndADuplicate) {
  const std::string demo = m_dir.Path() + "/demo.big";
  ASSERT_TRUE(WriteDemoArchive(TARN_DEMO_TEXT_DIR, demo).IsOk());
  CTarnResult r = RunTarnCaptured({"lint", demo});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(
      r.out.find("unresolved\tData\\INI\\Research.ini\tSM_NightLenses\t    Faction\tSunmarsh\n"),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("duplicate\tWeapon\tIV_TwinRepeater\tData\\INI\\Object\\Infantry.ini\t"
                       "Data\\INI\\Weapon.ini\n"),
            std::string::npos)
      << r.out;
  r = RunTarnCaptured({"refs", "IV_TwinRepeater", demo});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("use\tData\\INI\\Object\\Vehicles.ini\tIV_MartenScout\t"), std::string::npos)
      << r.out;
}

}  // namespace
