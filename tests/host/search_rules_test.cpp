#include "runtime/search_rules.h"

#include <gtest/gtest.h>

TEST(SearchList, ItemsAreLetterAndArgument) {
  auto items = parseSearchList("B.\\jre;RC:\\tsr_jres\\1.6.0_21;Y;S;Eown_home");
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].kind, 'B');
  EXPECT_EQ(items[0].argument, ".\\jre");
  EXPECT_EQ(items[1].kind, 'R');
  EXPECT_EQ(items[1].argument, "C:\\tsr_jres\\1.6.0_21");
  EXPECT_EQ(items[2].kind, 'Y');
  EXPECT_EQ(items[2].argument, "");
  EXPECT_EQ(items[4].argument, "own_home");
}

TEST(SearchList, EmptyItemsAreSkippedNotTheEnd) {
  auto items = parseSearchList(";;B.\\jre;;;Y;");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].kind, 'B');
  EXPECT_EQ(items[1].kind, 'Y');
  EXPECT_TRUE(parseSearchList("").empty());
  EXPECT_TRUE(parseSearchList(";").empty());
}

TEST(RelativePass, AbsoluteMeansDriveColonOrTwoBackslashes) {
  EXPECT_TRUE(isAbsoluteSearchArgument("C:\\jre"));
  EXPECT_TRUE(isAbsoluteSearchArgument("C:"));
  EXPECT_TRUE(isAbsoluteSearchArgument("c:jre"));
  EXPECT_TRUE(isAbsoluteSearchArgument("\\\\srv\\jre"));
  EXPECT_FALSE(isAbsoluteSearchArgument("\\jre"));
  EXPECT_FALSE(isAbsoluteSearchArgument(".\\jre"));
  EXPECT_FALSE(isAbsoluteSearchArgument("C"));
  EXPECT_FALSE(isAbsoluteSearchArgument(""));
  EXPECT_FALSE(isAbsoluteSearchArgument("\\"));
}

TEST(RelativePass, BAlwaysAAndROnlyWhenRelative) {
  EXPECT_TRUE(triedInRelativePass({'B', "C:\\jre"}));
  EXPECT_TRUE(triedInRelativePass({'B', ".\\jre"}));
  EXPECT_TRUE(triedInRelativePass({'R', ".\\jre"}));
  EXPECT_TRUE(triedInRelativePass({'A', "jre"}));
  EXPECT_FALSE(triedInRelativePass({'R', "C:\\jre"}));
  EXPECT_FALSE(triedInRelativePass({'A', "\\\\srv\\jre"}));
  EXPECT_FALSE(triedInRelativePass({'S', "jre"}));
  EXPECT_FALSE(triedInRelativePass({'E', "jre"}));
  EXPECT_FALSE(triedInRelativePass({'Y', ""}));
}

TEST(HomeLayout, ExecutablesAndToolsJar) {
  EXPECT_EQ(jdkJavaExecutable("c:\\jdk"), "c:\\jdk\\jre\\bin\\java.exe");
  EXPECT_EQ(jreJavaExecutable("c:\\jre"), "c:\\jre\\bin\\java.exe");
  EXPECT_EQ(toolsJarPath("c:\\jdk"), "c:\\jdk\\lib\\tools.jar");
}

TEST(LocatedRuntimes, KeyNameAndBack) {
  std::string exe = "c:\\java\\jre6\\bin\\java.exe";
  EXPECT_EQ(locatedRuntimeKey(exe), "SOFTWARE\\harwell\\nimbo\\locatedjvms\\c:/java/jre6/bin/java.exe");
  EXPECT_EQ(locatedRuntimeExecutable("c:/java/jre6/bin/java.exe"), exe);
}

TEST(JavaSoftCurrentVersion, TheKitWinsOnlyWhenGreater) {
  EXPECT_EQ(javaSoftCurrentKey("1.7", "1.6"), "SOFTWARE\\JavaSoft\\Java Development Kit\\1.7");
  EXPECT_EQ(javaSoftCurrentKey("1.6", "1.6"), "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.6");
  EXPECT_EQ(javaSoftCurrentKey("", "1.6"), "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.6");
  EXPECT_EQ(javaSoftCurrentKey("1.6", ""), "SOFTWARE\\JavaSoft\\Java Development Kit\\1.6");
  EXPECT_EQ(javaSoftCurrentKey("", ""), "SOFTWARE\\JavaSoft\\Java Runtime Environment\\");
}

TEST(BinDirectory, CutsTheFileNameAndItsBackslash) {
  EXPECT_EQ(binDirectoryOf("c:\\jre\\bin\\java.exe"), "c:\\jre\\bin");
  EXPECT_EQ(binDirectoryOf("c:\\jre\\bin\\javaw.exe"), "c:\\jre\\bin");
  EXPECT_EQ(binDirectoryOf("C:\\JRE\\BIN\\JAVAW.EXE"), "C:\\JRE\\BIN");
  EXPECT_EQ(binDirectoryOf("\\java.exe"), "");
}

TEST(BinDirectory, TooShortForTheCutIsRefused) {
  EXPECT_FALSE(binDirectoryOf("java.exe"));
  EXPECT_FALSE(binDirectoryOf("javaw.exe"));
  EXPECT_FALSE(binDirectoryOf(""));
}

TEST(EmbeddedRuntime, FromTheKitsBinDirectory) {
  EXPECT_EQ(embeddedRuntimeExecutable("c:\\jdk\\bin\\java.exe"), "c:\\jdk\\bin\\..\\jre\\bin\\java.exe");
  EXPECT_EQ(embeddedRuntimeExecutable("c:\\jdk\\bin\\javaw.exe"), "c:\\jdk\\bin\\..\\jre\\bin\\java.exe");
  EXPECT_EQ(embeddedRuntimeExecutable("java.exe"), "..\\jre\\bin\\java.exe");
  EXPECT_FALSE(embeddedRuntimeExecutable("a.exe"));
  EXPECT_FALSE(embeddedRuntimeExecutable(""));
}

TEST(WindowedExecutable, ReplacesTheExtension) {
  EXPECT_EQ(windowedExecutable("c:\\jre\\bin\\java.exe"), "c:\\jre\\bin\\javaw.exe");
  EXPECT_EQ(windowedExecutable(".exe"), "w.exe");
  EXPECT_FALSE(windowedExecutable("exe"));
  EXPECT_FALSE(windowedExecutable(""));
}

TEST(VmTypes, FixedOrderWithThePreferredTypeFirst) {
  EXPECT_EQ(vmTypeOrder(""), (std::vector<std::string>{"hotspot", "client", "server", "classic", "jrockit"}));
  EXPECT_EQ(vmTypeOrder("server"),
            (std::vector<std::string>{"server", "hotspot", "client", "server", "classic", "jrockit"}));
}

TEST(Lists, SplitSkipsEmptyElements) {
  EXPECT_EQ(splitNonEmpty("c:\\a;;c:\\b;", ';'), (std::vector<std::string>{"c:\\a", "c:\\b"}));
  EXPECT_TRUE(splitNonEmpty(";;", ';').empty());
  EXPECT_TRUE(splitNonEmpty("", ';').empty());
}
