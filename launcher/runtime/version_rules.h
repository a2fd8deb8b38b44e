// Rules for Java version texts that need no system: bounds, the pre-release rule, the first
// line of "java -version", the registry names of the version cache and the JavaSoft order.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The version remembered for a runtime whose probe ended with a non-zero exit code.
inline constexpr const char* kDummyVersion = "1.0.0";

// The launcher reads at most this many characters of the probe's first line.
inline constexpr std::size_t kVersionLineLimit = 99;

enum class VersionVerdict { Accepted, PreRelease, BelowMinimum, AboveMaximum };

// "beta", "ea" or "rc" anywhere in the text, case-sensitive: the plain substring test, so a
// vendor suffix such as "release" counts as well.
bool hasPreReleaseMarker(const std::string& version);

// The acceptance test of a probed or cached version. Each bound is matched as a prefix over its
// own length, byte-wise (so "1.6" is refused by a minimum of "1.6.0_10"); an empty bound accepts
// everything on its side. Pre-release versions are refused only when refusePreRelease.
VersionVerdict judgeVersion(const std::string& version, const std::string& min, const std::string& max,
                            bool refusePreRelease);

// The bounds test for JavaSoft registry names: each comparison covers the shorter of the two
// texts, so a name "1.6" lies within a minimum of "1.6.0_10".
bool versionInRange(const std::string& version, const std::string& min, const std::string& max);

// The version in the first line a runtime writes for "-version": the quoted text after
// 'java version "' or 'openjdk version "'. line is the whole first line as written, with its
// line end. Refused: other lines, a line with no closing quote, and a line longer than the
// kVersionLineLimit characters the launcher reads (its end would be lost).
std::optional<std::string> parseVersionLine(std::string_view line);

// A runtime started with _JAVA_OPTIONS, JAVA_TOOL_OPTIONS or JDK_JAVA_OPTIONS set writes one
// "Picked up <variable>: <value>" line for each before its version line: at most this many lines
// are read, each within kVersionLineLimit characters.
inline constexpr std::size_t kVersionLineCount = 4;

// Whether a line is such a "Picked up ..." notice.
bool isPickedUpOptionsLine(std::string_view line);

// The version in the probe's first lines, each as read (with its line end): the notices are
// skipped, the first other line must be the version line (parseVersionLine). Refused as well: a
// line longer than kVersionLineLimit, and no version line within kVersionLineCount lines.
std::optional<std::string> parseVersionOutput(const std::vector<std::string>& lines);

// A registry key name holds at most 255 characters.
inline constexpr std::size_t kRegistryKeyNameLimit = 255;

// "SOFTWARE\harwell\nimbo\jvms\" and the executable's path with every backslash as a slash;
// a path too long for one key name is replaced by "sha256-" and the SHA-256 of the path.
std::string versionCacheKey(const std::string& exePath);

// The JavaSoft version subkeys within the bounds, in the order they are tried: the greatest by
// byte-wise comparison first (so "1.6.0_3" comes before "1.6.0_21").
std::vector<std::string> javaSoftTryOrder(const std::vector<std::string>& subkeyNames, const std::string& min,
                                          const std::string& max);
