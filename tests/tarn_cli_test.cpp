// The tarn commands that need no archive: rules, id, help, and the usage
// contract shared by every command.
#include <gtest/gtest.h>

#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"

namespace {

void ExpectUsageError(const std::vector<std::string>& args) {
  const CTarnResult r = RunTarnCaptured(args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("tarn: ", 0), 0u) << r.err;
}

TEST(TarnUsage, BadCommandLinesExitTwoWithNothingOnStdout) {
  ExpectUsageError({});
  ExpectUsageError({"frobnicate"});
  ExpectUsageError({"rules"});
  ExpectUsageError({"rules", "a", "b"});
  ExpectUsageError({"id", "1"});
  ExpectUsageError({"id", "1", "a", "b"});
  ExpectUsageError({"list"});
  ExpectUsageError({"show", "x"});
  ExpectUsageError({"cat", "x", "y", "z"});
  ExpectUsageError({"check"});
  ExpectUsageError({"info"});
  ExpectUsageError({"RULES", "x"});
  // A mistake in one command's arguments shows that command's usage alone.
  EXPECT_EQ(RunTarnCaptured({"show", "x"}).err,
            "tarn: show: expected 2 arguments, got 1\nusage: tarn show ARCHIVE ENTRY\n");
  EXPECT_EQ(RunTarnCaptured({"info"}).err,
            "tarn: info: expected ARCHIVE [ENTRY...]\nusage: tarn info ARCHIVE [ENTRY...]\n");
}

TEST(TarnUsage, HelpGoesToStdoutAndSucceeds) {
  for (const char* help : {"help", "--help"}) {
    const CTarnResult r = RunTarnCaptured({help});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: tarn"), std::string::npos);
    EXPECT_EQ(r.err, "");
  }
}

TEST(TarnId, PrintsUpperCaseHexUnderEveryKindOfTypeCode) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"id", "1", "abc"}, "0x00434241\n"},
      {{"id", "2", "abc"}, "0x33AFF496\n"},
      {{"id", "5", "ABC"}, "0x33AFF496\n"},
      {{"id", "7", "abc"}, "0xA3830348\n"},
      {{"id", "8", "123456789"}, "0xCBF43926\n"},
      {{"id", "-7", "abcde"}, "0x888684C7\n"},
      {{"id", "+2", "abcde"}, "0x518E3366\n"},
      {{"id", "2147483647", ""}, "0x00000000\n"},
      {{"id", "-2147483648", "abcd"}, "0x44434241\n"},
      {{"id", "3", "-dash"}, "0xA68288A2\n"},
  };
  for (const auto& [args, expected] : cases) {
    const CTarnResult r = RunTarnCaptured(args);
    EXPECT_EQ(r.status, 0) << args[1] << " " << args[2];
    EXPECT_EQ(r.out, expected) << args[1] << " " << args[2];
  }
}

TEST(TarnId, RejectsTypesThatAreNotSigned32BitNumbers) {
  for (const char* type :
       {"", " 1", "1 ", "0x10", "1.0", "abc", "2147483648", "-2147483649", "+", "-", "+-1", "１"})
    ExpectUsageError({"id", type, "name"});
}

TEST(TarnRules, PrintsRowsAndEscapesControlBytes) {
  CTempDir dir;
  const std::string path = dir.Write("r.ini", "Object T\x01\n  K = a\tb\x7F\xE9\\\nEnd\n");
  const CTarnResult r = RunTarnCaptured({"rules", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "T\\x01\tObject\n    K\ta\\x09b\\x7F\xE9\\\n");
  EXPECT_EQ(r.err, "");
}

TEST(TarnRules, EmptyFilePrintsNothing) {
  CTempDir dir;
  const CTarnResult r = RunTarnCaptured({"rules", dir.Write("empty.ini", "")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(TarnRules, UnreadablePathsExitOneNamingTheFile) {
  CTempDir dir;
  for (const std::string& path : {dir.Path() + "/missing.ini", dir.Path(), std::string()}) {
    const CTarnResult r = RunTarnCaptured({"rules", path});
    EXPECT_EQ(r.status, 1) << path;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("tarn: " + path + ": ", 0), 0u) << r.err;
  }
}

TEST(TarnRules, NamesMayStartWithADash) {
  CTempDir dir;
  dir.Write("-h", "A b\n");
  const std::string path = dir.Path() + "/-h";
  const CTarnResult r = RunTarnCaptured({"rules", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "b\tA\n");
  ExpectUsageError({"rules", "--help", "extra"});
}

}  // namespace
