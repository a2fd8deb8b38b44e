#include "vm/java_vm_launcher.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/text_limits.h"
#include "config/launcher_config.h"
#include "host_platform.h"

namespace {

class LaunchArguments : public ::testing::Test {
 protected:
  void SetUp() override {
    g_hostPlatform = HostPlatform();
    g_hostPlatform.executablePath = "/opt/app/setup.exe";
    g_hostPlatform.tempDir = "/tmp/nbo7_dir";
    g_hostPlatform.unextractedPosition = 123456789012LL;
    g_config = LauncherConfig();
    g_logLines.clear();
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    const char* manpath = std::getenv("MANPATH");
    hadManpath_ = manpath != nullptr;
    savedManpath_ = manpath ? manpath : "";
    unsetenv("MANPATH");
  }
  void TearDown() override {
    setenv("PATH", savedPath_.c_str(), 1);
    if (hadManpath_) setenv("MANPATH", savedManpath_.c_str(), 1);
  }
  std::string savedPath_, savedManpath_;
  bool hadManpath_ = false;
};

TEST_F(LaunchArguments, PropertiesInTableOrderWhenEveryConditionHolds) {
  g_hostPlatform.singleInstanceName = "nimbo_sem_1";
  g_hostPlatform.manualRuntimeSelection = true;
  g_config.narrow[2001] = "i";
  g_config.narrow[10005] = "1";
  setenv("PATH", "/usr/bin", 1);
  std::vector<std::string> expected = {
      "-Dnimbo.semaphoreName=nimbo_sem_1",
      "-Dnimbo.manualJre=true",
      "-Dnimbo.isTessar=true",
      "-Dnimbo.moduleName=/opt/app/setup.exe",
      "-Dsun.java.command=/opt/app/setup.exe",
      "-Dnimbo.processCommFile=/tmp/nbo_p42.tmp",
      "-Dnimbo.tempDir=/tmp/nbo7_dir",
      "-Dnimbo.unextractedPosition=123456789012",
      "-Djava.library.path=/usr/bin",
      "-Dnimbo.consoleCodepage=cp437",
  };
  EXPECT_EQ(buildLaunchProperties(), expected);
  EXPECT_EQ(g_logLines.front(), "launching program");
}

TEST_F(LaunchArguments, ConditionalPropertiesAbsentOnALauncherFamilyLanguageRestart) {
  g_config.narrow[2001] = "e";
  g_hostPlatform.languageRestart = true;
  setenv("MANPATH", "/usr/share/man", 1);
  setenv("PATH", "/bin", 1);
  std::vector<std::string> expected = {
      "-Dnimbo.moduleName=/opt/app/setup.exe", "-Dsun.java.command=/opt/app/setup.exe",
      "-Dnimbo.tempDir=/tmp/nbo7_dir",         "-Dnimbo.unextractedPosition=-1",
      "-Djava.library.path=/bin",
  };
  EXPECT_EQ(buildLaunchProperties(), expected);
}

TEST_F(LaunchArguments, ProductKindIsReadAsOneCharacter) {
  g_config.narrow[2001] = "ix";
  EXPECT_EQ(javaLauncherClassName(), "com/tessar/runtime/launcher/WinLauncher");
  g_config.narrow[2001] = "e";
  EXPECT_EQ(javaLauncherClassName(), "com/nimbo/runtime/WinLauncher");
  g_config.narrow.erase(2001);
  EXPECT_EQ(javaLauncherClassName(), "com/nimbo/runtime/WinLauncher");
}

TEST_F(LaunchArguments, LibraryPathPastItsBufferLosesWholeElementsEachReported) {
  std::string huge(kTextBufferSize, 'p');
  setenv("PATH", ("/usr/bin:" + huge + ":/bin").c_str(), 1);
  std::vector<std::string> properties = buildLaunchProperties();
  std::string library;
  for (const std::string& property : properties) {
    if (property.rfind("-Djava.library.path=", 0) == 0) library = property;
  }
  EXPECT_EQ(library, "-Djava.library.path=/usr/bin:/bin");
  int reported = 0;
  for (const std::string& line : g_logLines) {
    reported += line == "ERROR: java.library.path element left out, the property is full: " + huge;
  }
  EXPECT_EQ(reported, 1);
}

TEST_F(LaunchArguments, ArgumentListLeadingFiveThenProgramAppAndUserArguments) {
  g_config.narrow[107] = "1";
  g_config.narrow[122] = "com.tessar.runtime.installer.Installer";
  g_config.narrow[102] = "1";
  g_config.narrow[103] = "error.log";
  g_config.narrow[104] = "0";
  g_config.narrow[105] = "output.log";
  g_config.narrow[106] = "1";
  g_config.narrow[124] = "-mode \"two words\" %NIMBO_TEMPDIR%";
  std::vector<std::u16string> expected = {
      u"true", u"com.tessar.runtime.installer.Installer", u"/opt/app/error.log", u"", u"true",
      u"setup.exe", u"-mode", u"two words", u"/tmp/nbo7_dir", u"-user", u"-J-Xmx1g", u"\u4e16\u754c"};
  EXPECT_EQ(launcherArgumentList({u"setup.exe", u"-user", u"-J-Xmx1g", u"\u4e16\u754c"}), expected);
}

TEST_F(LaunchArguments, DropJArgumentsLeavesThemOutOfTheProgramArguments) {
  g_config.narrow[125] = "1";
  std::vector<std::u16string> list = launcherArgumentList({u"setup.exe", u"-J-Xmx1g", u"-j", u"x"});
  std::vector<std::u16string> tail(list.begin() + 5, list.end());
  EXPECT_EQ(tail, (std::vector<std::u16string>{u"setup.exe", u"-j", u"x"}));
}

TEST_F(LaunchArguments, RedirectionPathsExpandedAbsoluteOrDollarUnchanged) {
  g_config.narrow[102] = "1";
  g_config.narrow[103] = "$stderr";
  g_config.narrow[104] = "1";
  g_config.narrow[105] = "logs/../out.log";
  std::vector<std::u16string> list;
  buildLauncherArguments(list);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0], u"false");
  EXPECT_EQ(list[2], u"$stderr");
  EXPECT_EQ(list[3], u"/opt/app/out.log");
  EXPECT_EQ(list[4], u"false");
}

TEST_F(LaunchArguments, ProgramPathAlwaysSixthEvenWithoutRedirection) {
  std::vector<std::u16string> list = launcherArgumentList({u"C:\\setup.exe"});
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[2], u"");
  EXPECT_EQ(list[3], u"");
  EXPECT_EQ(list[5], u"C:\\setup.exe");
}

TEST_F(LaunchArguments, NativeLibraryDirectoriesGoInFrontOfPath) {
  setenv("PATH", "/usr/bin", 1);
  g_config.narrow[10004] = "lib:${NIMBO_TEMPDIR}";
  extendPathForNativeDlls();
  EXPECT_EQ(std::string(std::getenv("PATH")), "/opt/app/lib:/tmp/nbo7_dir:/usr/bin");
  EXPECT_EQ(g_logLines.front(), "native lib dir is lib:${NIMBO_TEMPDIR}");
  EXPECT_EQ(g_logLines.back(), "Setting PATH (native libs) /opt/app/lib:/tmp/nbo7_dir:/usr/bin");
}

TEST_F(LaunchArguments, OnlyNativeDirectoriesInsideTheExtractionFolderJoinTheDllSearch) {
  setenv("PATH", "/usr/bin", 1);
  g_hostPlatform.dllSearchLists.clear();
  g_config.narrow[10004] = "lib:${NIMBO_TEMPDIR}:${NIMBO_TEMPDIR}/native:${NIMBO_TEMPDIR}/../x:/tmp/nbo7_dirx:/TMP/NBO7_DIR/a..b";
  extendPathForNativeDlls();
  EXPECT_EQ(std::string(std::getenv("PATH")),
            "/opt/app/lib:/tmp/nbo7_dir:/tmp/nbo7_dir/native:/tmp/nbo7_dir/../x:/tmp/nbo7_dirx:/TMP/NBO7_DIR/a..b:/usr/bin");
  EXPECT_EQ(g_hostPlatform.dllSearchLists, std::vector<std::string>{"/tmp/nbo7_dir:/tmp/nbo7_dir/native:/TMP/NBO7_DIR/a..b"});
  EXPECT_EQ(dllSearchDirectories("/tmp/nbo7_dir/..:/tmp/nbo7_dir/x/../..:/tmp/nbo7_dir/", "/tmp/nbo7_dir/"), "/tmp/nbo7_dir/");
  EXPECT_EQ(dllSearchDirectories("/tmp/a", ""), "");
}

TEST_F(LaunchArguments, EmptyNativeLibraryDirectoryKeepsPath) {
  setenv("PATH", "/usr/bin:/bin", 1);
  extendPathForNativeDlls();
  EXPECT_EQ(std::string(std::getenv("PATH")), "/usr/bin:/bin");
}

TEST_F(LaunchArguments, PathPastItsBufferLosesWholeElementsEachReported) {
  std::string first(kPathBufferSize / 2, 'q');
  std::string second(kPathBufferSize / 2, 'r');
  setenv("PATH", (first + ":" + second + ":/usr/bin").c_str(), 1);
  g_config.narrow[10004] = "lib";
  extendPathForNativeDlls();
  EXPECT_EQ(std::string(std::getenv("PATH")), "/opt/app/lib:" + first + ":/usr/bin");
  std::vector<std::string> errors;
  for (const std::string& line : g_logLines) {
    if (line.rfind("ERROR: ", 0) == 0) errors.push_back(line);
  }
  EXPECT_EQ(errors, std::vector<std::string>{"ERROR: PATH (native libs) element left out, PATH is full: " + second});
}

TEST_F(LaunchArguments, NoBoundEntryPointMeansNoVmAndNoCall) {
  g_hostPlatform.createJavaVm = nullptr;
  EXPECT_FALSE(createJavaVm({u"setup.exe"}, {}));
  EXPECT_FALSE(launchJavaProgram({u"setup.exe"}, true));
  EXPECT_EQ(g_logLines.back(), "ERROR: could not initialize JVM");
  for (const std::string& line : g_logLines) EXPECT_NE(line, "Creating JVM");
}

}  // namespace
