#include "command_line.h"

#include <gtest/gtest.h>

namespace {
std::vector<std::u16string> split(std::u16string_view line, bool expectComplete = true) {
  std::vector<std::u16string> args;
  EXPECT_EQ(splitCommandLine(line, args), expectComplete) << std::string(line.begin(), line.end());
  return args;
}
using Args = std::vector<std::u16string>;
}  // namespace

TEST(CommandLine, SpacesSeparateAndTabsDoNot) {
  EXPECT_EQ(split(u"setup.exe -q  -nocheck "), (Args{u"setup.exe", u"-q", u"-nocheck"}));
  EXPECT_EQ(split(u"a\tb c"), (Args{u"a\tb", u"c"}));
  EXPECT_EQ(split(u""), Args{});
  EXPECT_EQ(split(u"   "), Args{});
}

TEST(CommandLine, QuotedPartsGroupAndMergeWithTextBefore) {
  EXPECT_EQ(split(u"\"C:\\Program Files\\setup.exe\" -q"), (Args{u"C:\\Program Files\\setup.exe", u"-q"}));
  EXPECT_EQ(split(u"-Dx=\"a b\" c"), (Args{u"-Dx=a b", u"c"}));
  EXPECT_EQ(split(u"'single quoted' x"), (Args{u"single quoted", u"x"}));
  // A single-quoted part after text joins that text.
  EXPECT_EQ(split(u"abc'def ghi' x"), (Args{u"abcdef ghi", u"x"}));
  // Inside double quotes a single quote is an ordinary character, and the other way round.
  EXPECT_EQ(split(u"\"it's\" '\"q\"'"), (Args{u"it's", u"\"q\""}));
}

TEST(CommandLine, TextRightAfterAClosingQuoteStartsANewArgument) {
  EXPECT_EQ(split(u"\"quoted\"rest more"), (Args{u"quoted", u"rest", u"more"}));
  EXPECT_EQ(split(u"\"\" x"), (Args{u"", u"x"}));
}

TEST(CommandLine, AnUnclosedQuoteIsRefused) {
  EXPECT_EQ(split(u"setup.exe \"", false), (Args{u"setup.exe"}));
  split(u"a 'b", false);
  split(u"\"a\" \"b", false);
}
