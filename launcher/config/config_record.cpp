#include "config/config_record.h"

bool languageMatches(std::string_view groupCode, std::string_view userLocaleCode) {
  return userLocaleCode.compare(0, groupCode.size(), groupCode) == 0 && groupCode.size() <= userLocaleCode.size();
}
