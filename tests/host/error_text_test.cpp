#include "base/error_text.h"

#include <gtest/gtest.h>

TEST(ErrorText, OnlyTheFirstPlaceholderIsReplaced) {
  EXPECT_EQ(replaceFirstPlaceholder("code {0}, again {0}", "7"), "code 7, again {0}");
  EXPECT_EQ(replaceFirstPlaceholder("no placeholder", "7"), "no placeholder");
  EXPECT_EQ(replaceFirstPlaceholder("kept {0}", nullptr), "kept {0}");
  EXPECT_EQ(replaceFirstPlaceholder("{0}", "{0}{0}"), "{0}{0}");
  EXPECT_EQ(replaceFirstPlaceholder("x {0", "7"), "x {0");
}

TEST(ErrorText, LogPathFollowsTheMessageWhenThereIsOne) {
  EXPECT_EQ(composeErrorText("Failed", "C:\\Temp\\tsr_nlog_1"), "Failed\n\nLog: C:\\Temp\\tsr_nlog_1");
  EXPECT_EQ(composeErrorText("Failed", ""), "Failed");
  EXPECT_EQ(composeErrorText(u"Besch\u00e4digt", u"C:\\l"), u"Besch\u00e4digt\n\nLog: C:\\l");
}

TEST(ErrorText, ComposedTextsAreCutToTheLimit) {
  std::string longMessage(8190, 'm');
  std::string text = composeErrorText(longMessage, "C:\\log");
  EXPECT_EQ(text.size(), 8191u);
  EXPECT_EQ(text.substr(8190), "\n");
  EXPECT_EQ(replaceFirstPlaceholder("{0}", std::string(9000, 'a').c_str()).size(), 8191u);
}

TEST(ErrorText, OnlyExactYesKeepsTheLog) {
  EXPECT_TRUE(isKeepLogValue("yes"));
  for (const char* other : {"Yes", "YES", "yes ", " yes", "y", "", "no"}) EXPECT_FALSE(isKeepLogValue(other)) << other;
  EXPECT_FALSE(isKeepLogValue(nullptr));
}
