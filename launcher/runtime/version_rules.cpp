#include "runtime/version_rules.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "runtime/sha256.h"

namespace {

// Byte-wise over n bytes; a text shorter than n compares its terminating zero (n of 0: equal).
int compareToBound(const std::string& version, const std::string& bound, std::size_t n) {
  return std::strncmp(version.c_str(), bound.c_str(), n);
}

// SHA-256 of a text, as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::string_view text) {
  Sha256 hash;
  hash.update(text.data(), text.size());
  return ::sha256Hex(hash.finish());
}

constexpr std::string_view kPickedUpPrefixes[] = {"Picked up _JAVA_OPTIONS: ", "Picked up JAVA_TOOL_OPTIONS: ",
                                                  "Picked up JDK_JAVA_OPTIONS: "};

// Far above any real version number; keeps the sums of hostile digits from overflowing.
constexpr long kVersionNumberCap = 999999999;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number at the start of text (which must begin with a digit); text moves past it.
long takeNumber(std::string_view& text) {
  long value = 0;
  while (!text.empty() && isDigit(text.front())) {
    value = std::min(kVersionNumberCap, value * 10 + (text.front() - '0'));
    text.remove_prefix(1);
  }
  return value;
}

// Compares the first count numbers of a and b, a missing number counting as 0.
int compareNumbers(const std::vector<long>& a, const std::vector<long>& b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    long x = i < a.size() ? a[i] : 0;
    long y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace

bool hasPreReleaseMarker(const std::string& version) {
  for (const char* marker : {"beta", "ea", "rc"}) {
    if (version.find(marker) != std::string::npos) return true;
  }
  return false;
}

VersionScheme versionSchemeOf(int entryValue) {
  return entryValue == 1 ? VersionScheme::Numeric : VersionScheme::Text;
}

std::vector<long> versionNumbers(std::string_view version) {
  std::vector<long> numbers;
  if (version.empty() || !isDigit(version.front())) return numbers;
  numbers.push_back(takeNumber(version));
  while (version.size() >= 2 && version[0] == '.' && isDigit(version[1])) {
    version.remove_prefix(1);
    numbers.push_back(takeNumber(version));
  }
  if (version.size() >= 2 && version[0] == '_' && isDigit(version[1])) {
    version.remove_prefix(1);
    numbers.push_back(takeNumber(version));
  }
  if (numbers.size() >= 2 && numbers[0] == 1) numbers.erase(numbers.begin());
  return numbers;
}

int compareVersions(const std::string& a, const std::string& b, VersionScheme scheme) {
  if (scheme == VersionScheme::Text) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  std::vector<long> x = versionNumbers(a);
  std::vector<long> y = versionNumbers(b);
  return compareNumbers(x, y, std::max(x.size(), y.size()));
}

VersionVerdict judgeVersion(const std::string& version, const std::string& min, const std::string& max,
                            bool refusePreRelease, VersionScheme scheme) {
  if (refusePreRelease && hasPreReleaseMarker(version)) return VersionVerdict::PreRelease;
  if (scheme == VersionScheme::Numeric) {
    // A bound covers every version that begins with its numbers.
    std::vector<long> numbers = versionNumbers(version);
    std::vector<long> low = versionNumbers(min);
    std::vector<long> high = versionNumbers(max);
    if (compareNumbers(numbers, low, low.size()) < 0) return VersionVerdict::BelowMinimum;
    if (compareNumbers(numbers, high, high.size()) > 0) return VersionVerdict::AboveMaximum;
    return VersionVerdict::Accepted;
  }
  if (compareToBound(version, min, min.size()) < 0) return VersionVerdict::BelowMinimum;
  if (compareToBound(version, max, max.size()) > 0) return VersionVerdict::AboveMaximum;
  return VersionVerdict::Accepted;
}

std::string describeVerdict(VersionVerdict verdict, const std::string& version, const std::string& min,
                            const std::string& max) {
  switch (verdict) {
    case VersionVerdict::PreRelease:
      return "version " + version + " is a pre-release";
    case VersionVerdict::BelowMinimum:
      return "version " + version + " is below the minimum " + min;
    case VersionVerdict::AboveMaximum:
      return "version " + version + " is above the maximum " + max;
    case VersionVerdict::Accepted:
      break;
  }
  return "version " + version + " is accepted";
}

bool versionInRange(const std::string& version, const std::string& min, const std::string& max,
                    VersionScheme scheme) {
  if (scheme == VersionScheme::Numeric) {
    std::vector<long> numbers = versionNumbers(version);
    std::vector<long> low = versionNumbers(min);
    std::vector<long> high = versionNumbers(max);
    if (compareNumbers(numbers, low, std::min(numbers.size(), low.size())) < 0) return false;
    return compareNumbers(numbers, high, std::min(numbers.size(), high.size())) <= 0;
  }
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

bool isPickedUpOptionsLine(std::string_view line) {
  constexpr std::string_view kNote = "NOTE: ";
  if (line.substr(0, kNote.size()) == kNote) line.remove_prefix(kNote.size());
  for (std::string_view prefix : kPickedUpPrefixes) {
    if (line.substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

std::optional<std::string> parseVersionOutput(const std::vector<std::string>& lines) {
  for (std::size_t i = 0; i < lines.size() && i < kVersionLineCount; ++i) {
    if (lines[i].size() > kVersionLineLimit) return std::nullopt;
    if (!isPickedUpOptionsLine(lines[i])) return parseVersionLine(lines[i]);
  }
  return std::nullopt;
}

std::string versionCacheKey(const std::string& exePath) {
  std::string name = exePath;
  std::replace(name.begin(), name.end(), '\\', '/');
  // No absolute path begins with "sha256-", so the two forms cannot meet.
  if (name.size() > kRegistryKeyNameLimit) name = "sha256-" + sha256Hex(exePath);
  return "SOFTWARE\\harwell\\nimbo\\jvms\\" + name;
}

std::vector<std::string> javaSoftTryOrder(const std::vector<std::string>& subkeyNames, const std::string& min,
                                          const std::string& max, VersionScheme scheme) {
  std::vector<std::string> kept;
  for (const std::string& name : subkeyNames) {
    if (versionInRange(name, min, max, scheme)) kept.push_back(name);
  }
  // Stable, so that names of equal numbers ("1.8" and "8") keep the registry's order.
  std::stable_sort(kept.begin(), kept.end(), [scheme](const std::string& a, const std::string& b) {
    return compareVersions(b, a, scheme) < 0;
  });
  return kept;
}

std::optional<std::string> parseReleaseVersion(std::string_view content) {
  constexpr std::string_view kKey = "JAVA_VERSION=";
  while (!content.empty()) {
    std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.substr(0, kKey.size()) != kKey) continue;
    std::string_view value = line.substr(kKey.size());
    if (value.size() < 3 || value.front() != '"' || value.back() != '"') return std::nullopt;
    value = value.substr(1, value.size() - 2);
    if (value.find('"') != std::string_view::npos || !isDigit(value.front())) return std::nullopt;
    return std::string(value);
  }
  return std::nullopt;
}
