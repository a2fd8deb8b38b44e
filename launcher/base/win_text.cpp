#include "base/win_text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 code units");

SystemCodePages g_systemCodePages{GetACP, GetOEMCP};

UINT fileApiCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

UINT actualCodePage(UINT codePage) {
  if (codePage == CP_ACP) return g_systemCodePages.ansi();
  if (codePage == CP_OEMCP) return g_systemCodePages.oem();
  return codePage;
}

std::wstring ansiToWide(std::string_view text, UINT codePage) {
  if (text.empty()) return std::wstring();
  codePage = actualCodePage(codePage);
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

bool wideToAnsi(std::wstring_view text, std::string& out, UINT codePage) {
  out.clear();
  if (text.empty()) return true;
  BOOL usedDefault = FALSE;
  // UTF-7 and UTF-8 refuse the default-character arguments, also when the system's ANSI or OEM
  // code page is one of them and the caller named it CP_ACP or CP_OEMCP.
  codePage = actualCodePage(codePage);
  bool canReport = codePage != CP_UTF8 && codePage != CP_UTF7;
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              canReport ? "?" : nullptr, canReport ? &usedDefault : nullptr);
  if (n <= 0) return false;
  out.assign(n, '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                      canReport ? "?" : nullptr, canReport ? &usedDefault : nullptr);
  return !usedDefault;
}

std::string wideToAnsi(std::wstring_view text, UINT codePage) {
  std::string out;
  wideToAnsi(text, out, codePage);
  return out;
}
