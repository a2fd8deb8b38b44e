// Hostile "java -version" output, version bounds and registry key names: the version found must
// be the quoted text of a line the launcher reads whole, and the bounds tests must agree with
// their prefix rules.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/version_rules.h"

namespace {

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The version a probe's output yields: its first line as the launcher reads it (one character
// more than it keeps, cut at a zero byte like any C string).
std::optional<std::string> probedVersion(std::string_view output) {
  std::string_view line = output.substr(0, output.find('\n') == std::string_view::npos ? output.size() : output.find('\n') + 1);
  line = line.substr(0, kVersionLineLimit + 1);
  line = line.substr(0, line.find('\0'));
  std::optional<std::string> version = parseVersionLine(line);
  if (!version) return version;
  if (line.size() > kVersionLineLimit || version->find('"') != std::string::npos) std::abort();
  std::string_view kept = line;
  while (!kept.empty() && (kept.back() == '\n' || kept.back() == '\r')) kept.remove_suffix(1);
  if (!(startsWith(kept, "java version \"" + *version + "\"") ||
        startsWith(kept, "openjdk version \"" + *version + "\""))) {
    std::abort();
  }
  return version;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is "probe output\0minimum\0maximum\0flags\0registry names separated by \n".
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> fields;
  for (std::size_t start = 0; fields.size() < 5;) {
    std::size_t end = fields.size() < 4 ? input.find('\0', start) : std::string_view::npos;
    if (end == std::string_view::npos) end = input.size();
    fields.emplace_back(start < input.size() ? input.substr(start, end - start) : std::string_view());
    start = end + 1;
  }
  const std::string& min = fields[1];
  const std::string& max = fields[2];
  bool refusePreRelease = !fields[3].empty() && (fields[3][0] & 1);

  parseVersionLine(fields[0]);
  std::string version = probedVersion(fields[0]).value_or(fields[0]);

  VersionVerdict verdict = judgeVersion(version, min, max, refusePreRelease);
  if (verdict == VersionVerdict::Accepted && refusePreRelease && hasPreReleaseMarker(version)) std::abort();
  if (verdict == VersionVerdict::BelowMinimum && startsWith(version, min)) std::abort();
  if (verdict == VersionVerdict::AboveMaximum && startsWith(version, max)) std::abort();
  if (judgeVersion(version, "", "", false) != VersionVerdict::Accepted) std::abort();
  if (judgeVersion(version, version, version, false) != VersionVerdict::Accepted) std::abort();
  if (!versionInRange(version, version, version)) std::abort();

  // Numbered, every version lies within bounds equal to itself, and no bound refuses what
  // begins with its numbers.
  const VersionScheme numbered = VersionScheme::Numeric;
  if (judgeVersion(version, version, version, false, numbered) != VersionVerdict::Accepted) std::abort();
  if (judgeVersion(version, "", "", false, numbered) != VersionVerdict::Accepted) std::abort();
  if (compareVersions(version, min, numbered) != -compareVersions(min, version, numbered)) std::abort();
  if (std::optional<std::string> released = parseReleaseVersion(fields[0])) {
    if (released->empty() || released->find('"') != std::string::npos || versionNumbers(*released).empty()) {
      std::abort();
    }
  }

  std::vector<std::string> names;
  for (std::size_t start = 0; start <= fields[4].size();) {
    std::size_t end = std::min(fields[4].find('\n', start), fields[4].size());
    names.push_back(fields[4].substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string> order = javaSoftTryOrder(names, min, max);
  std::size_t inRange = 0;
  for (const std::string& name : names) inRange += versionInRange(name, min, max);
  if (order.size() != inRange) std::abort();
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (!versionInRange(order[i], min, max) || (i > 0 && order[i - 1] < order[i])) std::abort();
  }

  std::vector<std::string> numberedOrder = javaSoftTryOrder(names, min, max, numbered);
  for (std::size_t i = 1; i < numberedOrder.size(); ++i) {
    if (compareVersions(numberedOrder[i - 1], numberedOrder[i], numbered) < 0) std::abort();
  }

  // A path that fits one key name is kept with slashes for backslashes; a longer one becomes a
  // digest, so no key name is ever over the registry's limit.
  std::string key = versionCacheKey(version);
  std::string name = key.substr(key.rfind('\\') + 1);
  std::string slashed = version;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  if (name.size() > kRegistryKeyNameLimit) std::abort();
  if (version.size() <= kRegistryKeyNameLimit ? name != slashed : !startsWith(name, "sha256-")) std::abort();
  return 0;
}
