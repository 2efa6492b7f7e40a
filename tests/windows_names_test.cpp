// Windows' name rules, the Windows-1252 reading of names and the case key:
// plain computation, tested on every system.

#define TARN_INSIDE_ARCHIVE  // reaches the name rules, internal to archive/

#include <gtest/gtest.h>

#include <string>

#include "archive/windows_names.h"
#include "storage/code_page.h"

namespace {

TEST(WindowsNames, DeviceNamesAreRefusedInAnyCaseFolderAndExtension) {
  for (const char* name : {"CON", "con", "Con.txt", "Data\\nul.ini", "aux.tar.gz", "PRN", "COM1",
                           "com0", "Art/lpt9.log", "COM\xB9", "lpt\xB3.x", "conin$", "CON .txt"}) {
    EXPECT_EQ(CheckWindowsEntryName(name).GetKind(), CStatus::Kind::ReservedName) << name;
  }
  for (const char* name : {"CONSOLE", "COM10", "LPT", "icon", "Data\\CON2", "xcon.ini", "NUL_",
                           "COMA", "COM\xB4", "Data\\INI\\Object\\Tank.ini", ".con"}) {
    EXPECT_EQ(CheckWindowsEntryName(name).GetKind(), CStatus::Kind::Ok) << name;
  }
}

TEST(WindowsNames, TrailingDotsAndSpacesAndForbiddenCharactersAreRefused) {
  for (const char* name : {"a.", "a ", "Data.\\x.ini", "Data \\x.ini", "x\\y..", "..."}) {
    EXPECT_EQ(CheckWindowsEntryName(name).GetKind(), CStatus::Kind::TrailingDotOrSpace) << name;
  }
  for (const char* name : {"a<b", "a>b", "say \"hi\"", "a|b", "what?", "*.ini", "Data\\*\\x"}) {
    EXPECT_EQ(CheckWindowsEntryName(name).GetKind(), CStatus::Kind::ForbiddenCharacter) << name;
  }
  EXPECT_EQ(CheckWindowsEntryName(".hidden\\a b.c d").GetKind(), CStatus::Kind::Ok);
}

TEST(WindowsNames, EveryByteReadsAsWindows1252AndBack) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  const std::u16string text = Windows1252ToUtf16(all);
  ASSERT_EQ(text.size(), 256u);
  EXPECT_EQ(text[0x41], u'A');
  EXPECT_EQ(text[0x80], u'\u20AC');  // the euro sign
  EXPECT_EQ(text[0x8A], u'\u0160');
  EXPECT_EQ(text[0x9F], u'\u0178');
  EXPECT_EQ(text[0x81], u'\u0081');  // undefined: the control of the same value
  EXPECT_EQ(text[0xE9], u'\u00E9');
  std::string back;
  ASSERT_TRUE(Utf16ToWindows1252(text, back));
  EXPECT_EQ(back, all);
  EXPECT_FALSE(Utf16ToWindows1252(u"a\u4E2Db", back));  // no byte for it
  EXPECT_FALSE(
      Utf16ToWindows1252(u"\u0080", back));  // the euro sign's place, not a character there
}

TEST(WindowsNames, CaseKeyMatchesWhatWindowsTakesForOneName) {
  EXPECT_EQ(WindowsCaseKey("Data\\INI\\Tank.ini"), WindowsCaseKey("data/ini/TANK.INI"));
  EXPECT_EQ(WindowsCaseKey("caf\xE9"), WindowsCaseKey("CAF\xC9"));  // é and É
  EXPECT_EQ(WindowsCaseKey("\x9A\x9C\x9E\xFF"), WindowsCaseKey("\x8A\x8C\x8E\x9F"));
  EXPECT_NE(WindowsCaseKey("stra\xDF"
                           "e"),
            WindowsCaseKey("STRASSE"));                       // no capital sharp s
  EXPECT_NE(WindowsCaseKey("\xF7"), WindowsCaseKey("\xD7"));  // division and multiplication signs
  EXPECT_NE(WindowsCaseKey("a"), WindowsCaseKey("b"));
}

}  // namespace
