#include "vm/vm_options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/text_limits.h"
#include "config/launcher_config.h"
#include "host_platform.h"
#include "vm/vm_platform.h"

namespace fs = std::filesystem;

namespace {

const std::string kSep(1, kPathListSeparator);

std::vector<std::string> elementsOf(const std::string& list) {
  std::vector<std::string> elements;
  std::size_t start = 0;
  for (std::size_t end; (end = list.find(kPathListSeparator, start)) != std::string::npos; start = end + 1) {
    elements.push_back(list.substr(start, end - start));
  }
  elements.push_back(list.substr(start));
  return elements;
}

// A fresh executable directory and temporary directory per test, and a clean configuration.
class VmOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("pm_vm_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "app");
    fs::create_directories(root_ / "tmp");
    exeDir_ = (root_ / "app").string() + "/";
    g_hostPlatform = HostPlatform();
    g_hostPlatform.executablePath = exeDir_ + "setup.exe";
    g_hostPlatform.tempDir = (root_ / "tmp").string();
    g_config = LauncherConfig();
    g_logLines.clear();
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // Options as the VM gets them.
  std::vector<std::string> build(const std::vector<std::u16string>& arguments = {u"setup.exe"},
                                 const char* const* first = nullptr) {
    JavaVMInitArgs initArgs;
    static const char* const kNone[] = {nullptr};
    buildVmInitArgs(initArgs, first ? first : kNone, arguments);
    EXPECT_EQ(initArgs.version, JNI_VERSION_1_2);
    EXPECT_EQ(initArgs.ignoreUnrecognized, JNI_TRUE);
    std::vector<std::string> options;
    for (jint i = 0; i < initArgs.nOptions; ++i) {
      EXPECT_EQ(initArgs.options[i].extraInfo, nullptr);
      options.push_back(initArgs.options[i].optionString);
    }
    return options;
  }

  std::string classPathOf(const std::vector<std::string>& options) {
    EXPECT_FALSE(options.empty());
    EXPECT_EQ(options.back().rfind("-Djava.class.path=", 0), 0u);
    return options.back().substr(18);
  }

  fs::path root_;
  std::string exeDir_;
};

TEST(OptionLines, TrimmingCommentsAndTabs) {
  struct Case {
    std::string line;
    bool kept;
    std::string result;
  } cases[] = {
      {"  -Xmx512m  \n", true, "-Xmx512m"},
      {"#-Xms64m\n", false, ""},
      {"   # indented comment", false, ""},
      {"\r\n", false, ""},
      {"    ", false, ""},
      {"-Dx=1\r", true, "-Dx=1"},
      {"-Dx=1 \r\n", true, "-Dx=1"},
      {"\t-Xmx512m", true, "\t-Xmx512m"},
      {"-Da=b#c", true, "-Da=b#c"},
  };
  for (Case c : cases) {
    std::string line = c.line;
    EXPECT_EQ(trimOptionLine(line), c.kept) << c.line;
    if (c.kept) {
      EXPECT_EQ(line, c.result) << c.line;
    }
  }
}

TEST(OptionLines, DirectivesNeedTheirSpaceAndExactCase) {
  std::string rest;
  EXPECT_EQ(classifyOptionLine("-include-options a b.vmoptions", rest), OptionLineKind::Include);
  EXPECT_EQ(rest, "a b.vmoptions");
  EXPECT_EQ(classifyOptionLine("-classpath x.jar", rest), OptionLineKind::Replacement);
  EXPECT_EQ(rest, "x.jar");
  EXPECT_EQ(classifyOptionLine("-classpath/p first.jar", rest), OptionLineKind::Prefix);
  EXPECT_EQ(rest, "first.jar");
  EXPECT_EQ(classifyOptionLine("-classpath/a last.jar", rest), OptionLineKind::Suffix);
  EXPECT_EQ(rest, "last.jar");
  for (const char* plain : {"-classpath", "-CLASSPATH x", "-classpath/x y", "-include-options", "-cp x"}) {
    EXPECT_EQ(classifyOptionLine(plain, rest), OptionLineKind::Option) << plain;
    EXPECT_EQ(rest, plain);
  }
}

TEST(OptionLines, IncludeDirectiveTakesTheNextTokenUnlessItIsLast) {
  EXPECT_EQ(configuredOptionLines({"-include-options", "a.vmoptions", "-Xmx1g"}),
            (std::vector<std::string>{"-include-options a.vmoptions", "-Xmx1g"}));
  EXPECT_EQ(configuredOptionLines({"-Xmx1g", "-include-options"}),
            (std::vector<std::string>{"-Xmx1g", "-include-options"}));
  // Only "-include-options" spans two tokens.
  EXPECT_EQ(configuredOptionLines({"-classpath", "x.jar"}), (std::vector<std::string>{"-classpath", "x.jar"}));
}

TEST(OptionLines, JArgumentsBeginWithCapitalJ) {
  EXPECT_TRUE(isJArgument(u"-J-Xmx1g"));
  EXPECT_TRUE(isJArgument(u"-J"));
  EXPECT_FALSE(isJArgument(u"-j-Xmx1g"));
  EXPECT_FALSE(isJArgument(u"J-Xmx1g"));
}

TEST(ClassPathItems, KindMarkerAndTextEmptyItemsSkipped) {
  std::vector<ClassPathItem> items = parseClassPathItems("D1lib" + kSep + kSep + "A0x.jar" + kSep + "EzHOME" + kSep + "S");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].kind, 'D');
  EXPECT_TRUE(items[0].mandatory);
  EXPECT_EQ(items[0].text, "lib");
  EXPECT_FALSE(items[1].mandatory);
  EXPECT_EQ(items[1].text, "x.jar");
  EXPECT_FALSE(items[2].mandatory);
  EXPECT_EQ(items[3].kind, 'S');
  EXPECT_EQ(items[3].text, "");
}

TEST_F(VmOptions, DefaultFileLinesYieldExactlyTheKeptOptions) {
  write(root_ / "app" / "setup.vmoptions", "  -Xmx512m  \n#-Xms64m\n\n-Dx=1\r\n");
  std::vector<std::string> options = build();
  ASSERT_EQ(options.size(), 3u);
  EXPECT_EQ(options[0], "-Xmx512m");
  EXPECT_EQ(options[1], "-Dx=1");
}

TEST_F(VmOptions, SecondDefaultFileNameIsTheExecutableNameWithVmoptions) {
  write(root_ / "app" / "setup.exe.vmoptions", "-Dsecond=1\n");
  EXPECT_EQ(build()[0], "-Dsecond=1");
  write(root_ / "app" / "setup.vmoptions", "-Dfirst=1\n");
  std::vector<std::string> options = build();
  EXPECT_EQ(options[0], "-Dfirst=1");
  EXPECT_EQ(options.size(), 2u);
}

TEST_F(VmOptions, OrderIsFirstOptionsConfiguredJArgumentsFileThenClassPath) {
  g_config.narrow[123] = " -Dsun.java2d.noddraw=true";
  g_config.narrow[125] = "1";
  write(root_ / "app" / "setup.vmoptions", "-Dfrom.file=1\n");
  const char* const first[] = {"-Dnimbo.tempDir=t", "-Dnimbo.unextractedPosition=0", nullptr};
  std::vector<std::string> options = build({u"-J-Dfrom.element0=1", u"a", u"-J-Xmx256m", u"-J-Dx=${NIMBO_EXEDIR}"}, first);
  ASSERT_EQ(options.size(), 8u);
  EXPECT_EQ(options[0], "-Dnimbo.tempDir=t");
  EXPECT_EQ(options[1], "-Dnimbo.unextractedPosition=0");
  EXPECT_EQ(options[2], "-Dsun.java2d.noddraw=true");
  EXPECT_EQ(options[3], "-Dfrom.element0=1");
  EXPECT_EQ(options[4], "-Xmx256m");
  EXPECT_EQ(options[5], "-Dx=${NIMBO_EXEDIR}");  // "-J" options are not expanded
  EXPECT_EQ(options[6], "-Dfrom.file=1");
  EXPECT_EQ(options[7].rfind("-Djava.class.path=", 0), 0u);
}

TEST_F(VmOptions, JArgumentsStayOutOfTheOptionsWithoutDropJArguments) {
  std::vector<std::string> options = build({u"setup.exe", u"-J-Xmx1g"});
  EXPECT_EQ(options.size(), 1u);
}

TEST_F(VmOptions, ConfiguredOptionsAreExpandedAndQuotesGroup) {
  g_config.narrow[123] = "-Dhome=%NIMBO_EXEDIR% \"-Dspaced=a b\" '-Dsingle=c d'";
  std::vector<std::string> options = build();
  ASSERT_EQ(options.size(), 4u);
  EXPECT_EQ(options[0], "-Dhome=" + exeDir_);
  EXPECT_EQ(options[1], "-Dspaced=a b");
  EXPECT_EQ(options[2], "-Dsingle=c d");
}

TEST_F(VmOptions, IncludeFromConfiguredOptionsResolvesAgainstTheExecutableDirectory) {
  g_config.narrow[123] = "-include-options extra.vmoptions -Dafter=1";
  write(root_ / "app" / "extra.vmoptions", "-Dincluded=1\n");
  std::vector<std::string> options = build();
  ASSERT_EQ(options.size(), 3u);
  EXPECT_EQ(options[0], "-Dincluded=1");
  EXPECT_EQ(options[1], "-Dafter=1");
}

TEST_F(VmOptions, IncludeDirectiveAsLastTokenIsAPlainOption) {
  g_config.narrow[123] = "-Xmx1g -include-options";
  std::vector<std::string> options = build();
  ASSERT_EQ(options.size(), 3u);
  EXPECT_EQ(options[1], "-include-options");
}

TEST_F(VmOptions, RelativeIncludeInsideAnIncludedFileResolvesAgainstThatFile) {
  write(root_ / "app" / "setup.vmoptions", "-Dlevel=0\n-include-options conf/one.vmoptions\n-Dlevel=0b\n");
  write(root_ / "app" / "conf" / "one.vmoptions", "-Dlevel=1\n-include-options two.vmoptions\n");
  write(root_ / "app" / "conf" / "two.vmoptions", "-Dlevel=2\n");
  write(root_ / "app" / "two.vmoptions", "-Dwrong=1\n");
  std::vector<std::string> options = build();
  EXPECT_EQ(std::vector<std::string>(options.begin(), options.end() - 1),
            (std::vector<std::string>{"-Dlevel=0", "-Dlevel=1", "-Dlevel=2", "-Dlevel=0b"}));
}

TEST_F(VmOptions, MissingIncludeAddsNothing) {
  write(root_ / "app" / "setup.vmoptions", "-include-options nowhere.vmoptions\n-Da=1\n");
  std::vector<std::string> options = build();
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0], "-Da=1");
}

TEST_F(VmOptions, IncludeCycleStopsWithAnErrorAndKeepsWhatWasRead) {
  write(root_ / "app" / "setup.vmoptions", "-Dd=0\n-include-options a.vmoptions\n-Dd=0b\n");
  write(root_ / "app" / "a.vmoptions", "-Da=1\n-include-options b.vmoptions\n-Da=2\n");
  write(root_ / "app" / "b.vmoptions", "-Db=1\n-include-options a.vmoptions\n-include-options setup.vmoptions\n");
  std::vector<std::string> options = build();
  EXPECT_EQ(std::vector<std::string>(options.begin(), options.end() - 1),
            (std::vector<std::string>{"-Dd=0", "-Da=1", "-Db=1", "-Da=2", "-Dd=0b"}));
  int errors = 0;
  for (const std::string& line : g_logLines) errors += line.find("includes itself") != std::string::npos;
  EXPECT_EQ(errors, 2);
}

TEST_F(VmOptions, FileIncludingItselfDirectlyIsReadOnce) {
  write(root_ / "app" / "self.vmoptions", "-Dself=1\n-include-options self.vmoptions\n");
  g_config.narrow[123] = "-include-options self.vmoptions";
  std::vector<std::string> options = build();
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0], "-Dself=1");
}

TEST_F(VmOptions, IncludeChainDeeperThanSixteenFilesStops) {
  for (int i = 0; i < 20; ++i) {
    write(root_ / "app" / ("f" + std::to_string(i) + ".vmoptions"),
          "-Dfile=" + std::to_string(i) + "\n-include-options f" + std::to_string(i + 1) + ".vmoptions\n");
  }
  g_config.narrow[123] = "-include-options f0.vmoptions";
  std::vector<std::string> options = build();
  EXPECT_EQ(options.size(), kMaxIncludeDepth + 1);
  EXPECT_EQ(options[kMaxIncludeDepth - 1], "-Dfile=" + std::to_string(kMaxIncludeDepth - 1));
  bool reported = false;
  for (const std::string& line : g_logLines) reported |= line.rfind("ERROR: vmoptions includes nested deeper", 0) == 0;
  EXPECT_TRUE(reported);
}

TEST_F(VmOptions, LongLineIsReadInPieces) {
  write(root_ / "app" / "setup.vmoptions", "-D" + std::string(9000, 'a') + "\n");
  std::vector<std::string> options = build();
  ASSERT_EQ(options.size(), 3u);
  EXPECT_EQ(options[0].size(), kTextBufferSize - 1);
  EXPECT_EQ(options[1], std::string(9002 - (kTextBufferSize - 1), 'a'));
}

TEST_F(VmOptions, ClassPathReadsPrefixTempArchivesConfiguredItemsSuffix) {
  write(root_ / "tmp" / "a.jar", "");
  write(root_ / "tmp" / "b.zip", "");
  write(root_ / "tmp" / "notes.txt", "");
  write(root_ / "tmp" / "user" / "c.jar", "");
  fs::create_directories(root_ / "app" / "lib");
  g_config.narrow[121] = "D1lib";
  write(root_ / "app" / "setup.vmoptions", "-classpath/a lib/extra.jar\n-classpath/p first.jar\n");
  std::string tmp = g_hostPlatform.tempDir;
  EXPECT_EQ(classPathOf(build()), "first.jar" + kSep + tmp + "/a.jar" + kSep + tmp + "/b.zip" + kSep + tmp +
                                      "/user/c.jar" + kSep + exeDir_ + "lib" + kSep + "lib/extra.jar");
}

TEST_F(VmOptions, PrefixAlwaysGetsASeparatorSuffixOnlyWhenMissing) {
  g_config.narrow[121] = "A0x.jar";
  write(root_ / "app" / "setup.vmoptions", "-classpath/p p.jar" + kSep + "\n-classpath/a s.jar\n");
  EXPECT_EQ(classPathOf(build()), "p.jar" + kSep + kSep + exeDir_ + "x.jar" + kSep + "s.jar");
  write(root_ / "app" / "setup.vmoptions", "-classpath r.jar\n-classpath/a s.jar\n");
  EXPECT_EQ(classPathOf(build()), "r.jar" + kSep + "s.jar");
}

TEST_F(VmOptions, LaterReplacementWinsAndSkipsConfiguredItemsAndTheirChecks) {
  g_config.narrow[121] = "D1missing";
  write(root_ / "app" / "setup.vmoptions", "-classpath first.jar\n-classpath second.jar\n");
  EXPECT_EQ(classPathOf(build()), "second.jar");
}

TEST_F(VmOptions, ClassPathIsLastEvenWithoutAnyOptionsFile) {
  g_config.narrow[123] = "-Xmx1g";
  std::vector<std::string> options = build();
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[1], "-Djava.class.path=");
}

TEST_F(VmOptions, EmptyTempDirAddsNoArchives) {
  g_hostPlatform.tempDir.clear();
  EXPECT_EQ(classPathOf(build()), "");
}

TEST_F(VmOptions, ScanItemAddsArchivesOfItsDirectory) {
  write(root_ / "app" / "ext" / "one.jar", "");
  write(root_ / "app" / "ext" / "two.zip", "");
  g_config.narrow[121] = "S1ext";
  EXPECT_EQ(classPathOf(build()), exeDir_ + "ext/one.jar" + kSep + exeDir_ + "ext/two.zip" + kSep);
}

TEST_F(VmOptions, EnvironmentItemQuotesStrippedSeparatorNotDoubled) {
  setenv("PM_CP_QUOTED", "\"/q/a.jar\"", 1);
  setenv("PM_CP_ENDS", ("/e/b.jar" + kSep).c_str(), 1);
  g_config.narrow[121] = "E1PM_CP_QUOTED" + kSep + "E0PM_CP_ENDS" + kSep + "E0PM_CP_UNDEFINED";
  std::string classPath = classPathOf(build());
  unsetenv("PM_CP_QUOTED");
  unsetenv("PM_CP_ENDS");
  EXPECT_EQ(classPath, "/q/a.jar" + kSep + "/e/b.jar" + kSep);
}

TEST_F(VmOptions, ConfiguredItemTextIsExpanded) {
  fs::create_directories(root_ / "tmp" / "lib");
  g_config.narrow[121] = "D1${NIMBO_TEMPDIR}/lib";
  EXPECT_EQ(classPathOf(build()), g_hostPlatform.tempDir + "/lib" + kSep);
}

using VmOptionsDeathTest = VmOptions;

TEST_F(VmOptionsDeathTest, MissingMandatoryDirectoryEndsWithMessage1006) {
  g_config.narrow[1006] = "File or directory {0} not found or empty\n";
  g_config.narrow[121] = "D1%NIMBO_TEMPDIR%/absent";
  std::string expected = "FATAL 1006: File or directory " + g_hostPlatform.tempDir + "/absent not found";
  EXPECT_EXIT(build(), ::testing::ExitedWithCode(1), expected);
}

TEST_F(VmOptionsDeathTest, MissingMandatoryVariableEndsWithMessage1008) {
  g_config.narrow[1008] = "The environment variable {0} has to be defined";
  g_config.narrow[121] = "E1PM_CP_NOT_DEFINED";
  EXPECT_EXIT(build(), ::testing::ExitedWithCode(1), "FATAL 1008: The environment variable PM_CP_NOT_DEFINED has");
}

TEST_F(VmOptionsDeathTest, EmptyScanDirectoryIsFoundButMissingOneIsNot) {
  fs::create_directories(root_ / "app" / "emptyext");
  g_config.narrow[121] = "S1emptyext";
  EXPECT_EQ(classPathOf(build()), "");
  g_config.narrow[121] = "S1noext";
  EXPECT_EXIT(build(), ::testing::ExitedWithCode(1), "FATAL 1006");
}

TEST_F(VmOptionsDeathTest, MandatoryItemOfUnknownKindEndsWithMessage1006) {
  g_config.narrow[121] = "Q1unknown";
  EXPECT_EXIT(build(), ::testing::ExitedWithCode(1), "FATAL 1006");
}

TEST_F(VmOptions, OptionalMissingItemsAddWhatTheirKindAdds) {
  g_config.narrow[121] = "D0gone" + kSep + "S0gone2" + kSep + "Q0unknown";
  EXPECT_EQ(classPathOf(build()), exeDir_ + "gone" + kSep);
}

TEST_F(VmOptions, ClassPathPastItsBufferLosesWholeElementsEachReported) {
  // Two hundred archives with 200-character names pass the 40960-byte buffer.
  for (int i = 0; i < 200; ++i) {
    std::string number = std::to_string(1000 + i);
    write(root_ / "tmp" / (number + std::string(196 - number.size(), 'n') + ".jar"), "");
  }
  g_config.narrow[121] = "D0short.jar";
  std::vector<std::string> options = build();
  ASSERT_LE(options.back().size(), kClassPathBufferSize - 1);
  std::string classPath = classPathOf(options);
  int kept = 0;
  for (const std::string& element : elementsOf(classPath)) {
    if (element.empty()) continue;
    // Every element is a whole archive path: nothing cut inside one.
    EXPECT_TRUE(element == exeDir_ + "short.jar" || (element.size() == (root_ / "tmp").string().size() + 201 &&
                                                      element.compare(element.size() - 4, 4, ".jar") == 0))
        << element;
    ++kept;
  }
  int reported = 0;
  for (const std::string& line : g_logLines) {
    reported += line.rfind("ERROR: Class path element left out, the class path is full: ", 0) == 0;
  }
  EXPECT_EQ(kept + reported, 201);
  EXPECT_GT(reported, 0);
  // The short configured element after the dropped archives still fits.
  EXPECT_NE(classPath.find(exeDir_ + "short.jar" + kSep), std::string::npos);
}

TEST(PathListFit, WholeElementsAreDroppedAndLaterOnesThatFitStay) {
  struct Case {
    std::string list;
    std::size_t room;
    std::string expected;
    std::vector<std::string> dropped;
  };
  const Case cases[] = {
      {"a;bb;c;", 7, "a;bb;c;", {}},
      {";;a;", 4, ";;a;", {}},
      {"aaaa;bbbbbbbb;cc;", 9, "aaaa;cc;", {"bbbbbbbb"}},
      {"aaaa;bbbbbbbb;cc", 5, "aaaa", {"bbbbbbbb", "cc"}},
      {"aaaaaaaaaa;b", 3, "b", {"aaaaaaaaaa"}},
      {"aaaaaaaaaa", 3, "", {"aaaaaaaaaa"}},
      {"a;b;c;d", 0, "", {"a", "b", "c", "d"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> dropped;
    std::string fitted = fitPathList(c.list, ';', c.room, dropped);
    EXPECT_EQ(fitted, c.expected) << c.list;
    EXPECT_LE(fitted.size(), c.room) << c.list;
    EXPECT_EQ(dropped, c.dropped) << c.list;
  }
}

}  // namespace
