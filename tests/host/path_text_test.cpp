#include "base/path_text.h"

#include <gtest/gtest.h>

TEST(PathText, RelativeUnlessDriveAbsoluteOrUnc) {
  EXPECT_FALSE(isRelativePath("C:\\"));
  EXPECT_FALSE(isRelativePath("d:\\lib"));
  EXPECT_FALSE(isRelativePath("\\\\server\\share"));
  EXPECT_FALSE(isRelativePath("\"C:\\Program Files\\x\""));
  EXPECT_TRUE(isRelativePath("lib"));
  EXPECT_TRUE(isRelativePath("\\lib"));
  EXPECT_TRUE(isRelativePath("C:lib"));
  EXPECT_TRUE(isRelativePath("C:"));        // shorter than three characters
  EXPECT_TRUE(isRelativePath("\"C:"));       // quoted path of three characters
  EXPECT_FALSE(isRelativePath("\"C:\\"));
  EXPECT_TRUE(isRelativePath(""));
}

TEST(PathText, CollapseKeepsOnlyTheLeadingPair) {
  EXPECT_EQ(collapseBackslashes(u"\\\\server\\share\\\\x"), u"\\\\server\\share\\x");
  EXPECT_EQ(collapseBackslashes(u"\\\\\\x"), u"\\\\x");
  EXPECT_EQ(collapseBackslashes(u"C:\\\\a\\\\\\b\\"), u"C:\\a\\b\\");
  EXPECT_EQ(collapseBackslashes(u"a\\\\"), u"a\\");
  EXPECT_EQ(collapseBackslashes(u"\u00e9\\\\\u4e2d"), u"\u00e9\\\u4e2d");
  EXPECT_EQ(collapseBackslashes(u""), u"");
}

TEST(PathText, DriveRootsAreRecognisedOnlyInTheirThreeForms) {
  for (const char* root : {"C:\\", "z:\\", "C:\\.", "C:\\.\\."}) EXPECT_TRUE(isDriveRootSpec(root)) << root;
  for (const char* other : {"C:", "C:\\x", "C:\\..", "C:\\.\\.\\.", "1:\\", "\\\\", "C:/"})
    EXPECT_FALSE(isDriveRootSpec(other)) << other;
}

TEST(PathText, ListsSplitUntilTheFirstEmptyElement) {
  EXPECT_EQ(splitPathList("a;b;c"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(splitPathList("a;;c"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(splitPathList("a;b;"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(splitPathList(";a").empty());
  EXPECT_EQ(joinPathList({"x", "y"}), "x;y");
  EXPECT_EQ(joinPathList({}), "");
}

TEST(PathText, DirectoryPartAndSearchPattern) {
  EXPECT_EQ(directoryPart("C:\\a\\b.exe"), "C:\\a\\");
  EXPECT_EQ(directoryPart("b.exe"), "");
  EXPECT_EQ(directorySearchPattern("C:\\d", "jar"), "C:\\d\\*.jar");
  EXPECT_EQ(directorySearchPattern("C:\\d", ".jar"), "C:\\d\\*.jar");
}

TEST(PathText, JoinPutsExactlyOneBackslashBetween) {
  EXPECT_EQ(joinPath("c:\\temp", "nbo_p12.tmp"), "c:\\temp\\nbo_p12.tmp");
  EXPECT_EQ(joinPath("c:\\temp\\", "nbo_p12.tmp"), "c:\\temp\\nbo_p12.tmp");
  EXPECT_EQ(joinPath("c:\\temp\\\\", "\\nbo7"), "c:\\temp\\nbo7");
  EXPECT_EQ(joinPath("c:\\", "nbo7"), "c:\\nbo7");
  EXPECT_EQ(joinPath("\\\\server\\share", "x"), "\\\\server\\share\\x");
}
