#include "runtime/version_rules.h"

#include <algorithm>
#include <cstring>

namespace {

// Byte-wise over n bytes; a text shorter than n compares its terminating zero (n of 0: equal).
int compareToBound(const std::string& version, const std::string& bound, std::size_t n) {
  return std::strncmp(version.c_str(), bound.c_str(), n);
}

}  // namespace

bool hasPreReleaseMarker(const std::string& version) {
  for (const char* marker : {"beta", "ea", "rc"}) {
    if (version.find(marker) != std::string::npos) return true;
  }
  return false;
}

VersionVerdict judgeVersion(const std::string& version, const std::string& min, const std::string& max,
                            bool refusePreRelease) {
  if (refusePreRelease && hasPreReleaseMarker(version)) return VersionVerdict::PreRelease;
  if (compareToBound(version, min, min.size()) < 0) return VersionVerdict::BelowMinimum;
  if (compareToBound(version, max, max.size()) > 0) return VersionVerdict::AboveMaximum;
  return VersionVerdict::Accepted;
}

bool versionInRange(const std::string& version, const std::string& min, const std::string& max) {
  if (compareToBound(version, min, std::min(version.size(), min.size())) < 0) return false;
  return compareToBound(version, max, std::min(version.size(), max.size())) <= 0;
}

std::optional<std::string> parseVersionLine(std::string_view line) {
  if (line.size() > kVersionLineLimit) return std::nullopt;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  for (std::string_view prefix : {std::string_view("java version \""), std::string_view("openjdk version \"")}) {
    if (line.substr(0, prefix.size()) != prefix) continue;
    std::string_view rest = line.substr(prefix.size());
    std::size_t quote = rest.find('"');
    if (quote == std::string_view::npos) return std::nullopt;
    return std::string(rest.substr(0, quote));
  }
  return std::nullopt;
}

std::string versionCacheKey(const std::string& exePath) {
  std::string name = exePath;
  std::replace(name.begin(), name.end(), '\\', '/');
  return "SOFTWARE\\harwell\\nimbo\\jvms\\" + name;
}

std::vector<std::string> javaSoftTryOrder(const std::vector<std::string>& subkeyNames, const std::string& min,
                                          const std::string& max) {
  std::vector<std::string> kept;
  for (const std::string& name : subkeyNames) {
    if (versionInRange(name, min, max)) kept.push_back(name);
  }
  std::sort(kept.begin(), kept.end(), [](const std::string& a, const std::string& b) { return b < a; });
  return kept;
}
