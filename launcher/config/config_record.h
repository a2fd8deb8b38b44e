// The configuration record as the appended data stores it: narrow and wide entries and the
// language groups of wide texts, in file order. Read by the media reader, written by the
// packaging tool, applied by the launcher's configuration.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct LanguageGroup {
  std::string code;  // "de", "de_AT", ...
  std::vector<std::pair<int32_t, std::u16string>> wide;
};

// The configuration record as stored, entries in file order.
struct ConfigRecord {
  std::vector<std::pair<int32_t, std::string>> narrow;
  std::vector<std::pair<int32_t, std::u16string>> wide;
  std::vector<LanguageGroup> languages;
};

// Whether a group's language code applies to a user locale code: the group's code is a prefix of it.
bool languageMatches(std::string_view groupCode, std::string_view userLocaleCode);
