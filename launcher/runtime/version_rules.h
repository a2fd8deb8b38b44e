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

// How version texts are compared (entry 163). Text: byte by byte, a bound matched as a prefix over
// its own length, as installers have always been configured. Numeric: as numbers, the way Java 9
// and later number their releases ("1.8.0_401" reads as 8.0.401, "17.0.10+7" as 17.0.10); a
// bound covers every version that begins with its numbers ("8" and "1.8" cover all of 8).
enum class VersionScheme { Text = 0, Numeric = 1 };

// The entry's value as a scheme: 1 is Numeric, anything else the old Text rules.
VersionScheme versionSchemeOf(int entryValue);

// The numbers of a version text: the dot-separated numbers it begins with and an update number
// after "_"; a leading "1." of the old numbering is dropped ("1.6.0_21" gives 6, 0, 21). Anything
// after them ("-ea", "+7", " 2024-01-16") is not part of the number. Empty for a text that does
// not begin with a digit.
std::vector<long> versionNumbers(std::string_view version);

// Negative, zero or positive as a orders before, with or after b: byte-wise under Text, by
// numbers under Numeric (missing numbers count as 0, so "11" equals "11.0.0").
int compareVersions(const std::string& a, const std::string& b, VersionScheme scheme);

// "beta", "ea" or "rc" anywhere in the text, case-sensitive: the plain substring test, so a
// vendor suffix such as "release" counts as well.
bool hasPreReleaseMarker(const std::string& version);

// The acceptance test of a probed or cached version. Each bound is matched as a prefix over its
// own length, byte-wise (so "1.6" is refused by a minimum of "1.6.0_10"); an empty bound accepts
// everything on its side. Pre-release versions are refused only when refusePreRelease.
VersionVerdict judgeVersion(const std::string& version, const std::string& min, const std::string& max,
                            bool refusePreRelease, VersionScheme scheme = VersionScheme::Text);

// Why a version was refused, for the log: "version 9.0.4 is below the minimum 11" and the like.
std::string describeVerdict(VersionVerdict verdict, const std::string& version, const std::string& min,
                            const std::string& max);

// The bounds test for JavaSoft registry names: each comparison covers the shorter of the two
// texts, so a name "1.6" lies within a minimum of "1.6.0_10".
bool versionInRange(const std::string& version, const std::string& min, const std::string& max,
                    VersionScheme scheme = VersionScheme::Text);

// The version in the first line a runtime writes for "-version": the quoted text after
// 'java version "' or 'openjdk version "'. line is the whole first line as written, with its
// line end. Refused: other lines, a line with no closing quote, and a line longer than the
// kVersionLineLimit characters the launcher reads (its end would be lost).
std::optional<std::string> parseVersionLine(std::string_view line);

// A runtime started with _JAVA_OPTIONS, JAVA_TOOL_OPTIONS or JDK_JAVA_OPTIONS set writes one
// "Picked up <variable>: <value>" line for each before its version line (Java 9 and later write
// the JDK_JAVA_OPTIONS one as "NOTE: Picked up ..."): at most this many lines are read, each
// within kVersionLineLimit characters.
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
                                          const std::string& max, VersionScheme scheme = VersionScheme::Text);

// A runtime's "release" file is read up to this size; a larger one is not a release file.
inline constexpr std::size_t kReleaseFileLimit = 64 * 1024;

// The JAVA_VERSION="..." value of a runtime's "release" file; none when the file has no such
// line, the value is unquoted or empty, or it does not begin with a version number.
std::optional<std::string> parseReleaseVersion(std::string_view content);
