// Temporary names and the clean-up of the extraction directory, against Wine's file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "base/launch_flags.h"
#include "launch_end.h"
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

// The extraction folder may land in a shared location: only its user may enter it, and the
// system's empty name file is not left behind (one per start would exhaust the names).
TEST(TempNames, TheExtractionFolderIsTheUsersAloneAndLeavesNoNameFile) {
  TempDir base;
  TmpVariable tmp(widen(base.path()));
  std::string folder = createTempDirectory();
  ASSERT_EQ(folder.rfind(base.path() + "\\nbo", 0), 0u) << folder;
  ASSERT_EQ(folder.substr(folder.size() - 4), "_dir");
  EXPECT_EQ(GetFileAttributesA(folder.substr(0, folder.size() - 4).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(base.namesStartingWith("nbo"), std::vector<std::string>{folder.substr(base.path().size() + 1)});

  DWORD size = 0;
  GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::vector<unsigned char> descriptor(size);
  ASSERT_TRUE(size && GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size));
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted));
  ASSERT_TRUE(present && acl);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  unsigned char user[256];
  DWORD userSize = sizeof user;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, userSize, &userSize));
  CloseHandle(token);
  // The user, and the system itself (which Wine names beside the owner); nobody else.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID system = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system));
  bool userAllowed = false;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&ace)));
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = &ace->SidStart;
    bool isUser = EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
    userAllowed = userAllowed || isUser;
    EXPECT_TRUE(isUser || EqualSid(sid, system)) << "ACE " << i << " lets someone else in";
  }
  FreeSid(system);
  EXPECT_TRUE(userAllowed);
  RemoveDirectoryA(folder.c_str());
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

namespace {

struct HeldFile {
  HANDLE file;
  DWORD holdMs;
};

DWORD WINAPI closeLater(LPVOID held) {
  auto* h = static_cast<HeldFile*>(held);
  Sleep(h->holdMs);
  CloseHandle(h->file);
  return 0;
}

}  // namespace

TEST(ExtractionCleanup, AFolderTreeGoesOnceTheFileHeldInItIsLetGo) {
  // A child ended at Cancel lets go of its files a moment after it has gone.
  TempDir base;
  std::string root = base.file("nbo2_dir");
  ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((root + "\\jre").c_str(), nullptr));
  writeWholeFile(root + "\\jre\\rt.jar.part", "partial");
  HANDLE held = CreateFileA((root + "\\jre\\rt.jar.part").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(removeFolderTree(root, 0)) << "a file held without sharing cannot go";

  HeldFile later{held, 300};
  HANDLE thread = CreateThread(nullptr, 0, closeLater, &later, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(removeFolderTree(root, 5000));
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(GetFileAttributesA(root.c_str()), INVALID_FILE_ATTRIBUTES);
}
