// The VM launch's Win32 side against Wine's environment and code pages.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "vm/vm_platform.h"

TEST(VmPlatform, DefinedButEmptyVariableIsToldFromAMissingOne) {
  SetEnvironmentVariableA("PM_VM_EMPTY", "");
  SetEnvironmentVariableA("PM_VM_MISSING", nullptr);
  std::string value = "stale";
  EXPECT_TRUE(vmGetEnvironment("PM_VM_EMPTY", value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(vmGetEnvironment("PM_VM_MISSING", value));
  SetEnvironmentVariableA("PM_VM_EMPTY", nullptr);
}

TEST(VmPlatform, ValueLongerThanATextBufferIsReadWhole) {
  std::string big(10000, 'v');
  SetEnvironmentVariableA("PM_VM_BIG", big.c_str());
  std::string value;
  EXPECT_TRUE(vmGetEnvironment("PM_VM_BIG", value));
  EXPECT_EQ(value, big);
  SetEnvironmentVariableA("PM_VM_BIG", nullptr);
}

TEST(VmPlatform, EnvironmentBlockHoldsNameValueEntries) {
  SetEnvironmentVariableA("PM_VM_BLOCK", "a=b");
  bool found = false;
  for (const std::string& entry : vmEnvironmentBlock()) found |= entry == "PM_VM_BLOCK=a=b";
  EXPECT_TRUE(found);
  SetEnvironmentVariableA("PM_VM_BLOCK", nullptr);
}

TEST(VmPlatform, SettingPathChangesTheSystemAndTheRuntimeLibraryView) {
  char saved[32768] = "";
  GetEnvironmentVariableA("PATH", saved, sizeof saved);
  unsigned long error = 1;
  ASSERT_TRUE(vmSetPath("C:\\natives;C:\\windows\\system32", error));
  EXPECT_EQ(error, 0u);
  char now[32768] = "";
  GetEnvironmentVariableA("PATH", now, sizeof now);
  EXPECT_STREQ(now, "C:\\natives;C:\\windows\\system32");
  ASSERT_NE(std::getenv("PATH"), nullptr);
  EXPECT_STREQ(std::getenv("PATH"), "C:\\natives;C:\\windows\\system32");
  vmSetPath(saved, error);
}

TEST(VmPlatform, TextsWithoutACodePageMappingShowQuestionMarksOnlyInNarrowForms) {
  std::u16string wide = u"a\u4e16b";
  EXPECT_EQ(vmUtf16ToFileSystem(wide), "a?b");
  EXPECT_EQ(vmAnsiToUtf16("plain"), u"plain");
  EXPECT_EQ(vmFileSystemToUtf16("C:\\x"), u"C:\\x");
}

TEST(VmPlatform, ExecutableDirectoryEndsWithABackslash) {
  std::string directory = vmResolveAgainstExeDir("", nullptr);
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(directory.back(), '\\');
}
