#include "base/error_text.h"

#include <cstring>
#include <string>

#include "base/text_limits.h"

std::string replaceFirstPlaceholder(std::string_view message, const char* argument) {
  std::string text(message);
  if (argument) {
    std::size_t at = text.find("{0}");
    if (at != std::string::npos) text.replace(at, 3, argument);
  }
  fitTextBuffer(text);
  return text;
}

namespace {
template <typename Char>
std::basic_string<Char> compose(std::basic_string_view<Char> message, std::basic_string_view<Char> logPath) {
  std::basic_string<Char> text(message);
  if (!logPath.empty()) {
    static const Char separator[] = {'\n', '\n', 'L', 'o', 'g', ':', ' ', 0};
    text += separator;
    text += logPath;
  }
  fitTextBuffer(text);
  return text;
}
}  // namespace

std::string composeErrorText(std::string_view message, std::string_view logPath) {
  return compose(message, logPath);
}

std::u16string composeErrorText(std::u16string_view message, std::u16string_view logPath) {
  return compose(message, logPath);
}

bool isKeepLogValue(const char* value) { return value && std::strcmp(value, "yes") == 0; }

std::string internalErrorCode(InternalError error) { return std::to_string(static_cast<int>(error)); }
