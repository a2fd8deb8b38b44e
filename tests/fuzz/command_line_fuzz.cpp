// Hostile command lines: the splitter must end, never read out of bounds, and only ever drop
// quote characters and separating spaces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string line(size / 2, u'\0');
  for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  std::vector<std::u16string> args;
  splitCommandLine(line, args);
  size_t kept = 0;
  for (const std::u16string& arg : args) kept += arg.size();
  if (kept > line.size()) std::abort();
  return 0;
}
