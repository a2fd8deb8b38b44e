// Temporary names and the clean-up of the extraction directory, against Wine's file system.
#include <gtest/gtest.h>
#include <windows.h>

#include "media/extraction.h"
#include "temp_dir.h"

namespace {

// Sets TMP for the test's duration and puts the old value back.
class TmpVariable {
 public:
  explicit TmpVariable(const std::wstring& value) {
    wchar_t old[4096];
    DWORD n = GetEnvironmentVariableW(L"TMP", old, 4096);
    hadOld_ = n > 0 && n < 4096;
    if (hadOld_) old_.assign(old, n);
    SetEnvironmentVariableW(L"TMP", value.c_str());
  }
  ~TmpVariable() { SetEnvironmentVariableW(L"TMP", hadOld_ ? old_.c_str() : nullptr); }

 private:
  std::wstring old_;
  bool hadOld_ = false;
};

std::wstring widen(const std::string& ansi) {
  wchar_t wide[4096];
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, 4096);
  return n > 0 ? std::wstring(wide) : std::wstring();
}

}  // namespace

TEST(TempNames, FallbackDirectoryIsJoinedWithOneBackslash) {
  // A temp path the ANSI code page cannot spell sends the launcher to the Windows directory's
  // "temp", which carries no trailing backslash.
  TempDir base;
  std::wstring unspellable = widen(base.path()) + L"\\\x65e5\x672c";
  ASSERT_TRUE(CreateDirectoryW(unspellable.c_str(), nullptr));
  TmpVariable tmp(unspellable);
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  EXPECT_EQ(makeProcessCommFileName(4321), std::string(windows) + "\\temp\\nbo_p4321.tmp");
  RemoveDirectoryW(unspellable.c_str());
}

TEST(TempNames, SystemTempPathIsJoinedWithOneBackslash) {
  TempDir base;
  TmpVariable tmp(widen(base.path()));
  EXPECT_EQ(makeProcessCommFileName(77), base.path() + "\\nbo_p77.tmp");
}

TEST(ExtractionCleanup, EmptyingRemovesSubdirectoriesWithTheirFiles) {
  TempDir base;
  std::string root = base.file("nbo1_dir");
  ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((root + "\\user").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((root + "\\user\\deeper").c_str(), nullptr));
  writeWholeFile(root + "\\a.jar", "a");
  writeWholeFile(root + "\\user\\b.jar.pack", "b");
  writeWholeFile(root + "\\user\\deeper\\c.txt", "c");
  emptyDirectory(root);
  EXPECT_TRUE(RemoveDirectoryA(root.c_str())) << "the directory is left empty (error " << GetLastError() << ")";
}
