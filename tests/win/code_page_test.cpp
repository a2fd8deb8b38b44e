// Conversions when the system's ANSI or OEM code page is UTF-8 (the Windows 10 option), forced
// through the launcher's code-page source because Wine cannot be set to it.
#include <gtest/gtest.h>
#include <windows.h>

#include "base/paths.h"
#include "base/win_text.h"

namespace {

UINT WINAPI utf8CodePage() { return CP_UTF8; }

class ForcedUtf8CodePages {
 public:
  ForcedUtf8CodePages() : saved_(g_systemCodePages) { g_systemCodePages = {utf8CodePage, utf8CodePage}; }
  ~ForcedUtf8CodePages() { g_systemCodePages = saved_; }

 private:
  SystemCodePages saved_;
};

}  // namespace

TEST(Utf8CodePage, SystemCodePagesAreResolvedForTheConversion) {
  ForcedUtf8CodePages forced;
  EXPECT_EQ(actualCodePage(CP_ACP), static_cast<UINT>(CP_UTF8));
  EXPECT_EQ(actualCodePage(CP_OEMCP), static_cast<UINT>(CP_UTF8));
  EXPECT_EQ(actualCodePage(1252), 1252u);
}

TEST(Utf8CodePage, WideTextConvertsInsteadOfComingOutEmpty) {
  ForcedUtf8CodePages forced;
  std::string out;
  EXPECT_TRUE(wideToAnsi(L"Caf\u00e9 \u65e5\u672c", out, CP_ACP));
  EXPECT_EQ(out, "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac");
  EXPECT_EQ(wideToAnsi(L"The installation file is corrupted.", CP_OEMCP), "The installation file is corrupted.");
  EXPECT_EQ(ansiToWide("Caf\xc3\xa9", CP_ACP), L"Caf\u00e9");
}

TEST(Utf8CodePage, PathsAreStillLowercased) {
  ForcedUtf8CodePages forced;
  std::string path = "C:\\Programme\\Caf\xc3\xa9\\Setup.EXE";
  lowercasePath(path);
  EXPECT_EQ(path, "c:\\programme\\caf\xc3\xa9\\setup.exe");
}

TEST(Utf8CodePage, SingleByteCodePagesStillReportMissingCharacters) {
  std::string out;
  EXPECT_FALSE(wideToAnsi(L"a\u65e5", out, 1252));
  EXPECT_EQ(out, "a?");
}
