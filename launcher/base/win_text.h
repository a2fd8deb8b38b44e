// Conversions between the ANSI (or OEM) code page and UTF-16 at the Win32 edge.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

// The code page the ANSI file functions use: CP_ACP, or CP_OEMCP after SetFileApisToOEM.
UINT fileApiCodePage();

// Where the system's ANSI and OEM code pages are read. Either may be UTF-8 (65001: Windows 10
// and later with the UTF-8 option), which Wine cannot be set to; tests put it here instead.
struct SystemCodePages {
  UINT(WINAPI* ansi)();
  UINT(WINAPI* oem)();
};
extern SystemCodePages g_systemCodePages;

// The code page a conversion really uses: CP_ACP and CP_OEMCP stand for the system's.
UINT actualCodePage(UINT codePage);

std::wstring ansiToWide(std::string_view text, UINT codePage = CP_ACP);

// Converts to the code page with "?" for characters it lacks; false when any was needed.
bool wideToAnsi(std::wstring_view text, std::string& out, UINT codePage = CP_ACP);
std::string wideToAnsi(std::wstring_view text, UINT codePage = CP_ACP);

// UTF-16 in portable code is char16_t; on Windows wchar_t has the same width.
inline const wchar_t* asWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline std::wstring_view asWide(std::u16string_view text) {
  return std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}
inline std::u16string_view asUtf16(std::wstring_view text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size());
}
