#include "command_line_win.h"

#include "base/win_text.h"
#include "command_line.h"

bool splitCommandLineNarrow(const wchar_t* line, std::vector<std::string>& args) {
  std::vector<std::u16string> wide;
  bool complete = splitCommandLine(asUtf16(line ? line : L""), wide);
  for (const std::u16string& arg : wide) args.push_back(wideToAnsi(asWide(arg)));
  return complete;
}
