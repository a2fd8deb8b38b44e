// Path utilities against Wine's real file system.
#include <gtest/gtest.h>

#include "base/paths.h"
#include "temp_dir.h"

namespace {
std::string exeDir() { return directoryPart(executablePath()); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

TEST(Paths, ExecutablePathIsAbsoluteLongAndEndsInExe) {
  const std::string& path = executablePath();
  EXPECT_FALSE(isRelativePath(path)) << path;
  EXPECT_EQ(lower(path.substr(path.size() - 4)), ".exe");
  EXPECT_EQ(path.find('~'), std::string::npos) << "short form: " << path;
  EXPECT_EQ(&path, &executablePath()) << "computed once and kept";
}

TEST(Paths, RelativePathsResolveAgainstTheExecutableDirectory) {
  EXPECT_EQ(resolveAgainstExeDir("lib"), exeDir() + "lib");
  EXPECT_EQ(resolveAgainstExeDir("\\lib"), exeDir() + "lib");  // one leading backslash is relative
  EXPECT_EQ(resolveAgainstExeDir("D:\\lib"), "D:\\lib");
  EXPECT_EQ(resolveAgainstExeDir("\\\\server\\share\\\\x"), "\\\\server\\share\\x");
  EXPECT_EQ(resolveAgainstExeDir("sub\\\\x", "C:\\base\\dir\\file.txt"), "C:\\base\\dir\\sub\\x");
}

TEST(Paths, MakeAbsolutePathRemovesDotsAndLowercasesUnlessAsked) {
  std::string dir = exeDir();
  std::string parent = directoryPart(dir.substr(0, dir.size() - 1));
  EXPECT_EQ(makeAbsolutePath("Sub\\..\\Lib\\.\\X.JAR", true), dir + "Lib\\X.JAR");
  EXPECT_EQ(makeAbsolutePath("..\\Lib", false), lower(parent + "Lib"));
}

TEST(Paths, PathListResolvesEachElementAndStopsAtTheFirstEmpty) {
  EXPECT_EQ(resolvePathList("a.jar;;b.jar"), exeDir() + "a.jar");
  EXPECT_EQ(resolvePathList("a.jar;C:\\b.jar;"), exeDir() + "a.jar;C:\\b.jar");
  EXPECT_EQ(resolvePathList(""), "");
}

TEST(Paths, DriveRootsExistWithoutProbeOtherPathsOnlyWhenFound) {
  EXPECT_TRUE(pathExists("C:\\"));
  // No drive Q: in the prefix, yet its root counts as existing.
  EXPECT_TRUE(pathExists("Q:\\"));
  EXPECT_TRUE(pathExists("Q:\\."));
  EXPECT_TRUE(pathExists("Q:\\.\\."));
  EXPECT_FALSE(pathExists("Q:\\x"));
  TempDir dir;
  EXPECT_FALSE(pathExists(dir.file("missing").c_str()));
  writeWholeFile(dir.file("present"), "x");
  EXPECT_TRUE(pathExists(dir.file("present").c_str()));
}

TEST(Paths, FileLastWriteTimeReportsTheStoredTime) {
  TempDir dir;
  std::string file = dir.file("stamp.txt");
  writeWholeFile(file, "x");
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME set{0x12345600u, 0x01D00000u};
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &set));
  CloseHandle(h);
  FILETIME got{};
  ASSERT_TRUE(fileLastWriteTime(file.c_str(), &got));
  EXPECT_EQ(got.dwHighDateTime, set.dwHighDateTime);
  EXPECT_EQ(got.dwLowDateTime, set.dwLowDateTime);
  EXPECT_FALSE(fileLastWriteTime(dir.file("none").c_str(), &got));
}

TEST(Paths, ListDirectoryMatchesTheExtensionWithOrWithoutDot) {
  TempDir dir;
  for (const char* name : {"a.vmoptions", "b.vmoptions", "c.txt"}) writeWholeFile(dir.file(name), "");
  std::vector<std::string> names;
  EXPECT_EQ(listDirectory(dir.path().c_str(), "vmoptions", names), 2);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.vmoptions", "b.vmoptions"}));
  EXPECT_EQ(listDirectory(dir.path().c_str(), ".txt", names), 1);
  EXPECT_EQ(listDirectory(dir.path().c_str(), "jar", names), 0);
  EXPECT_TRUE(names.empty());
}

TEST(Paths, LongPathNameExpandsShortFormsBothWays) {
  TempDir dir;
  std::string longDir = dir.file("A long directory name");
  ASSERT_TRUE(CreateDirectoryA(longDir.c_str(), nullptr));
  char shortPath[MAX_PATH];
  ASSERT_GT(GetShortPathNameA(longDir.c_str(), shortPath, MAX_PATH), 0u);
  ASSERT_NE(std::string(shortPath), longDir);

  char viaKernel[MAX_PATH] = "", viaShell[MAX_PATH] = "";
  DWORD n = getLongPathName(shortPath, viaKernel, MAX_PATH);
  EXPECT_EQ(n, longDir.size());
  EXPECT_EQ(lower(viaKernel), lower(longDir));
  EXPECT_EQ(shellLongPathName(shortPath, viaShell, MAX_PATH), longDir.size());
  EXPECT_EQ(lower(viaShell), lower(longDir));
  EXPECT_EQ(lower(longPathOrSame(shortPath)), lower(longDir));
}

TEST(Paths, ShellLongPathNameReportsMissingPathsAndSmallBuffers) {
  TempDir dir;
  char out[8];
  EXPECT_EQ(shellLongPathName(dir.file("missing").c_str(), out, sizeof out), 0u);
  EXPECT_EQ(shellLongPathName(dir.path().c_str(), out, sizeof out), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(longPathOrSame(dir.file("missing")), dir.file("missing"));
}

TEST(Paths, CollapseAndLowercaseWorkInPlace) {
  std::string unc = "\\\\server\\share\\\\dir\\\\\\file";
  collapseBackslashes(unc);
  EXPECT_EQ(unc, "\\\\server\\share\\dir\\file");
  std::string mixed = "C:\\Program Files\\Tessar\\JRE";
  lowercasePath(mixed);
  EXPECT_EQ(mixed, "c:\\program files\\tessar\\jre");
}
