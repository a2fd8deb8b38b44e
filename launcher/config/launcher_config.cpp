#include "config/launcher_config.h"

#include <climits>

#include "base/text_limits.h"

LauncherConfig g_config;

std::size_t configValueLimit(int32_t id) {
  struct Limit {
    int32_t id;
    std::size_t bytes;  // 0: the text buffer
  };
  static constexpr Limit kLimits[] = {
#define PATHMERE_ENTRY(symbol, accessor, number, name, type, limit, ...) {number, limit},
#include "config/entries.def"
#undef PATHMERE_ENTRY
  };
  for (const Limit& limit : kLimits) {
    if (limit.id == id && limit.bytes != 0) return limit.bytes;
  }
  return kTextBufferSize - 1;
}

namespace {
const std::string* findNarrow(int32_t id) {
  auto it = g_config.narrow.find(id);
  return it == g_config.narrow.end() ? nullptr : &it->second;
}
const std::u16string* findWide(int32_t id) {
  auto it = g_config.wide.find(id);
  return it == g_config.wide.end() ? nullptr : &it->second;
}
}  // namespace

void getConfigString(int32_t id, char* buf, std::size_t size) {
  const std::string* value = findNarrow(id);
  copyTruncated<char>(buf, size, value ? std::string_view(*value) : std::string_view());
}

std::string getConfigString(int32_t id) {
  const std::string* value = findNarrow(id);
  if (!value) return std::string();
  std::string text = *value;
  fitTextBuffer(text);
  return text;
}

void getConfigWString(int32_t id, char16_t* buf, std::size_t size) {
  const std::u16string* value = findWide(id);
  copyTruncated<char16_t>(buf, size, value ? std::u16string_view(*value) : std::u16string_view());
}

std::u16string getConfigWString(int32_t id) {
  const std::u16string* value = findWide(id);
  if (!value) return std::u16string();
  std::u16string text = *value;
  fitTextBuffer(text);
  return text;
}

int parseConfigInt(const std::string& text) {
  std::size_t i = 0;
  auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int getConfigInt(int32_t id) {
  const std::string* value = findNarrow(id);
  return value ? parseConfigInt(*value) : 0;
}

void applyConfigRecord(const ConfigRecord& record, const char* userLocale, LauncherConfig& config) {
  for (const auto& [id, value] : record.narrow) config.narrow[id] = value;
  for (const auto& [id, value] : record.wide) config.wide[id] = value;
  if (!userLocale) return;
  for (const LanguageGroup& group : record.languages) {
    if (!languageMatches(group.code, userLocale)) continue;
    for (const auto& [id, value] : group.wide) config.wide[id] = value;
  }
}
