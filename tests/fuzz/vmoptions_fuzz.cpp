// Hostile .vmoptions lines and environments: trimming, classification and variable expansion
// must end, never read out of bounds, and never let a text grow past its 8192-byte buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/text_limits.h"
#include "host_platform.h"
#include "vm/variable_expansion.h"
#include "vm/vm_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is "line\0environment entries separated by \n\0values separated by \n".
  std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t first = input.find('\0');
  std::string line = input.substr(0, first);
  std::string rest = first == std::string::npos ? std::string() : input.substr(first + 1);
  std::size_t second = rest.find('\0');
  std::string environmentText = rest.substr(0, second);
  std::string valuesText = second == std::string::npos ? std::string() : rest.substr(second + 1);

  std::vector<std::string> environment;
  for (std::size_t start = 0; start < environmentText.size();) {
    std::size_t end = environmentText.find('\n', start);
    if (end == std::string::npos) end = environmentText.size();
    environment.push_back(environmentText.substr(start, end - start));
    start = end + 1;
  }
  ExpansionValues values;
  std::string* fields[] = {&values.executableDirectory, &values.tempDirectory, &values.jvmHome,
                           &values.systemTempDirectory};
  std::size_t field = 0;
  for (char c : valuesText) {
    if (c == '\n') {
      if (++field == 4) break;
    } else {
      *fields[field] += c;
    }
  }

  g_logLines.clear();
  fitTextBuffer(line);
  if (!trimOptionLine(line)) return 0;
  // A cut may be undone in size by a later, shorter replacement, so only the bound is checked.
  expandVariablesWith(line, values, environment);
  if (line.size() > kTextBufferSize - 1) std::abort();
  std::string directiveRest;
  classifyOptionLine(line, directiveRest);
  if (directiveRest.size() > line.size()) std::abort();
  return 0;
}
