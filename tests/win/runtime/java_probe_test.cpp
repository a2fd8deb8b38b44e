// The version probe and its cache against the runtime double's java.exe and the real registry.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>

#include "base/paths.h"
#include "import_patch.h"
#include "runtime/java_probe.h"
#include "runtime/version_rules.h"
#include "runtime_fixture.h"
#include "temp_dir.h"

namespace {

const char* kCacheRoot = "SOFTWARE\\harwell\\nimbo\\jvms";

class JavaProbe : public RuntimeTest {
 protected:
  ScopedConfig config{{{130, "1"}, {107, "5"}}};
  RegistryTrees cache{{{HKEY_CURRENT_USER, kCacheRoot}}};

  // The value's bytes; the ANSI query of a string may add a terminating zero, which is dropped.
  std::string cachedValue(const std::string& exe, const char* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, versionCacheKey(exe).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return "<missing>";
    }
    char buffer[512] = "";
    DWORD size = sizeof buffer;
    LONG status = RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "<missing>";
    std::string bytes(buffer, size);
    if (std::string(value) == "Version" && !bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    return bytes;
  }

  std::string canonical(const std::string& exe) { return makeAbsolutePath(exe, false); }

  // The probe's output files left in TMP.
  std::vector<std::string> leftovers() { return dir.namesStartingWith("nbo"); }

  int runningDoubles() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
      count += _stricmp(entry.szExeFile, "java.exe") == 0;
    }
    CloseHandle(snapshot);
    return count;
  }
};

}  // namespace

TEST_F(JavaProbe, ProbedVersionIsCachedAndUsedUntilTheExecutableChanges) {
  TestRuntime runtime(dir.file("jre"));
  std::string exe = runtime.javaExe();
  std::string version;
  ASSERT_TRUE(checkJavaExe(exe, version, "1.6", "1.7", false));
  EXPECT_EQ(version, "1.6.0_21");
  EXPECT_EQ(exe, canonical(runtime.javaExe()));
  EXPECT_EQ(runtime.runs(), 1);
  EXPECT_EQ(cachedValue(exe, "Version"), "1.6.0_21");
  FILETIME written{};
  ASSERT_TRUE(fileLastWriteTime(exe.c_str(), &written));
  EXPECT_EQ(cachedValue(exe, "LastWriteTime"), std::string(reinterpret_cast<const char*>(&written), 8));

  ASSERT_TRUE(checkJavaExe(exe, version, "1.6", "1.7", false));
  EXPECT_EQ(runtime.runs(), 1) << "answered from the cache";
  EXPECT_TRUE(log.inOrder({"got version from execution 1.6.0_21", "got version from registry 1.6.0_21"}));

  runtime.writeScript({{"version_line", "java version \"1.7.0_45\""}});
  runtime.touchJavaExe(60);
  ASSERT_TRUE(checkJavaExe(exe, version, "1.6", "1.7", false));
  EXPECT_EQ(version, "1.7.0_45");
  EXPECT_EQ(runtime.runs(), 2);
  EXPECT_EQ(cachedValue(exe, "Version"), "1.7.0_45");
  EXPECT_TRUE(leftovers().empty());
}

// The probe starts suspended and runs once tracked, so that Cancel cannot leave it behind.
TEST_F(JavaProbe, BypassingTheCacheAlwaysProbes) {
  TestRuntime runtime(dir.file("jre"));
  std::string exe = runtime.javaExe();
  CreationFlagsRecorder created;
  ASSERT_TRUE(created.ok());
  ASSERT_TRUE(testJavaExe(exe, "1.6", "1.7", true, true));
  ASSERT_TRUE(testJavaExe(exe, "1.6", "1.7", true, false));
  EXPECT_EQ(runtime.runs(), 2);
  EXPECT_TRUE(created.flags() & CREATE_SUSPENDED);
  EXPECT_TRUE(g_useVersionCache);
}

TEST_F(JavaProbe, NonZeroExitCachesTheDummyVersion) {
  TestRuntime runtime(dir.file("jre"), RuntimeLayout{false, true, true, "client", {{"version_exit_code", "3"}}});
  std::string exe = runtime.javaExe();
  std::string version;
  EXPECT_FALSE(checkJavaExe(exe, version, "", "", false));
  EXPECT_EQ(cachedValue(exe, "Version"), kDummyVersion);
  EXPECT_TRUE(log.inOrder({"Exit Code 3", "couldn't get version", "checkJavaExe returning 0"}));
  // The dummy version keeps the runtime refused under a minimum, and passes an empty one.
  EXPECT_FALSE(checkJavaExe(exe, version, "1.6", "", false));
  EXPECT_TRUE(checkJavaExe(exe, version, "", "", false));
  EXPECT_EQ(version, kDummyVersion);
  EXPECT_EQ(runtime.runs(), 1);
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(JavaProbe, AHangingRuntimeIsTerminatedAndNothingCached) {
  ScopedEnvironment limit("PATHMERE_PROBE_LIMIT_MS", "1500");
  TestRuntime runtime(dir.file("jre"), RuntimeLayout{false, true, true, "client", {{"hang", "1"}}});
  std::string exe = runtime.javaExe();
  std::string version;
  EXPECT_FALSE(checkJavaExe(exe, version, "", "", false));
  EXPECT_TRUE(log.inOrder({"Exit Code 259", "Terminating process", "couldn't get version"}));
  EXPECT_EQ(cachedValue(exe, "Version"), "<missing>");
  EXPECT_EQ(runningDoubles(), 0);
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(JavaProbe, AFirstLineThatIsNoVersionLineFailsAndCachesNothing) {
  TestRuntime runtime(dir.file("jre"),
                      RuntimeLayout{false, true, true, "client", {{"version_line", "Warning: -Xincgc is deprecated"}}});
  std::string exe = runtime.javaExe();
  std::string version;
  EXPECT_FALSE(checkJavaExe(exe, version, "", "", false));
  EXPECT_EQ(cachedValue(exe, "Version"), "<missing>");
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(JavaProbe, AVersionLineLongerThanWhatIsReadIsRefused) {
  std::string longVersion = "1.6.0_21-" + std::string(90, 'x');
  TestRuntime runtime(dir.file("jre"), RuntimeLayout{false, true, true, "client",
                                                   {{"version_line", "java version \"" + longVersion + "\""}}});
  std::string exe = runtime.javaExe();
  std::string version;
  EXPECT_FALSE(checkJavaExe(exe, version, "", "", false));
  EXPECT_EQ(cachedValue(exe, "Version"), "<missing>");
}

TEST_F(JavaProbe, OpenJdkFormIsRead) {
  TestRuntime runtime(dir.file("jre"),
                      RuntimeLayout{false, true, true, "client", {{"version_line", "openjdk version \"1.7.0-u60\""}}});
  std::string exe = runtime.javaExe();
  std::string version;
  EXPECT_TRUE(checkJavaExe(exe, version, "1.6", "1.7", false));
  EXPECT_EQ(version, "1.7.0-u60");
  EXPECT_TRUE(log.inOrder({"Java version: 1.7.0-u60"}));
}

TEST_F(JavaProbe, PreReleaseRefusedOnlyWhereTheCallerAsksAndBetaIsOff) {
  ScopedConfig betaOff({{130, "0"}});
  TestRuntime runtime(dir.file("jre"),
                      RuntimeLayout{false, true, true, "client", {{"version_line", "java version \"1.6.0-ea\""}}});
  std::string exe = runtime.javaExe();
  EXPECT_FALSE(testJavaExe(exe, "1.6", "1.7", false, true));
  EXPECT_TRUE(log.inOrder({"beta vm not allowed"}));
  EXPECT_TRUE(testJavaExe(exe, "1.6", "1.7", true, true));
}

TEST_F(JavaProbe, AMissingExecutableIsRefusedWithoutARun) {
  std::string exe = dir.file("nothing\\bin\\java.exe");
  std::string version;
  EXPECT_FALSE(checkJavaExe(exe, version, "", "", true));
  EXPECT_TRUE(log.inOrder({"checkJavaExe (", "file doesn't exist", "checkJavaExe returning 0"}));
}

TEST_F(JavaProbe, WindowedLauncherNeedsJavawAndSwitchesToIt) {
  ScopedConfig windowed({{107, "1"}});
  TestRuntime without(dir.file("plain"), RuntimeLayout{false, false, true, "client", {}});
  std::string exe = without.javaExe();
  EXPECT_FALSE(testJavaExe(exe, "1.6", "1.7", true, true));

  TestRuntime with(dir.file("full"));
  exe = with.javaExe();
  EXPECT_TRUE(testJavaExe(exe, "1.6", "1.7", true, true));
  EXPECT_EQ(exe, canonical(with.binDir() + "\\javaw.exe"));
}

TEST_F(JavaProbe, CachedVersionNeedsAnExactEightByteStamp) {
  TestRuntime runtime(dir.file("jre"));
  std::string exe = canonical(runtime.javaExe());
  FILETIME written{};
  ASSERT_TRUE(fileLastWriteTime(exe.c_str(), &written));
  storeCachedVersion(exe, written, "1.6.0_99");
  std::string version;
  EXPECT_TRUE(readCachedVersion(exe, written, version));
  EXPECT_EQ(version, "1.6.0_99");

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, versionCacheKey(exe).c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  RegSetValueExA(key, "LastWriteTime", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&written), 4);
  RegCloseKey(key);
  EXPECT_FALSE(readCachedVersion(exe, written, version));
}

namespace {

// A volume without 8.3 names: the short-name call answers with the long path.
DWORD WINAPI longPathAsShortName(LPCSTR path, LPSTR buffer, DWORD size) {
  DWORD length = static_cast<DWORD>(std::strlen(path));
  if (length >= size) return length + 1;
  std::memcpy(buffer, path, length + 1);
  return length;
}

}  // namespace

TEST_F(JavaProbe, AProgramPathWithASpaceIsQuotedAndNamedAsTheApplication) {
  TestRuntime runtime(dir.file("Program Files\\jre"));
  // What an unquoted command line would start instead: "...\Program.exe", failing as a real
  // java.exe fails when handed the rest of its own path as a class name.
  copyFileOrFail(doubleFile("java.exe"), dir.file("Program.exe"));
  writeWholeFile(dir.file("runtime_double.cfg"), "version_exit_code=1\r\nruns=" + dir.file("wrong_runs.txt") + "\r\n");
  ShortPathNameFunction system = g_getShortPathName;
  g_getShortPathName = longPathAsShortName;
  std::string exe = runtime.javaExe();
  std::string version;
  bool accepted = checkJavaExe(exe, version, "1.6", "1.7", false);
  g_getShortPathName = system;
  ASSERT_TRUE(accepted) << log.text();
  EXPECT_EQ(version, "1.6.0_21");
  EXPECT_EQ(readWholeFile(runtime.home() + "\\java_runs.txt"), "java.exe|\"" + exe + "\" -version\r\n");
  EXPECT_FALSE(pathExists(dir.file("wrong_runs.txt").c_str()));
}

TEST_F(JavaProbe, APathTooLongForAKeyNameIsCachedUnderItsDigest) {
  // 258 characters: past a key name's 255, within what the system's ANSI file calls take.
  std::string exe = dir.path() + "\\";
  exe += std::string(258 - exe.size() - 13, 'd') + "\\bin\\java.exe";
  ASSERT_EQ(exe.size(), 258u);
  copyFileOrFail(doubleFile("java.exe"), exe);
  std::string version;
  ASSERT_TRUE(checkJavaExe(exe, version, "1.6", "1.7", false));
  ASSERT_TRUE(checkJavaExe(exe, version, "1.6", "1.7", false));
  EXPECT_TRUE(log.inOrder({"got version from execution 1.6.0_21", "got version from registry 1.6.0_21"}));
  EXPECT_EQ(cachedValue(exe, "Version"), "1.6.0_21");
}

TEST_F(JavaProbe, InheritableFileIsNewAndInheritable) {
  std::string path = dir.file("out.txt");
  writeWholeFile(path, "old");
  HANDLE file = createInheritableFile(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(file, &flags));
  EXPECT_TRUE(flags & HANDLE_FLAG_INHERIT);
  CloseHandle(file);
  EXPECT_EQ(readWholeFile(path), "");
  EXPECT_EQ(createInheritableFile(dir.file("missing\\out.txt")), INVALID_HANDLE_VALUE);
}
