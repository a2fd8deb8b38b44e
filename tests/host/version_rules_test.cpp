#include "runtime/version_rules.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

bool accepted(const std::string& version, const std::string& min, const std::string& max, bool refuse = false) {
  return judgeVersion(version, min, max, refuse) == VersionVerdict::Accepted;
}

}  // namespace

TEST(AcceptVersion, BoundsMatchAsPrefixes) {
  EXPECT_TRUE(accepted("1.6.0_21", "1.6", "1.7"));
  EXPECT_TRUE(accepted("1.7.0_45", "1.6", "1.7"));
  EXPECT_EQ(judgeVersion("1.5.0_22", "1.6", "1.7", false), VersionVerdict::BelowMinimum);
  EXPECT_EQ(judgeVersion("1.8.0", "1.6", "1.7", false), VersionVerdict::AboveMaximum);
}

TEST(AcceptVersion, ComparesBytesNotNumbers) {
  // "10" sorts before "6" byte by byte.
  EXPECT_TRUE(accepted("10.0.1", "1.6", "9"));
  EXPECT_EQ(judgeVersion("1.10", "1.6", "1.7", false), VersionVerdict::BelowMinimum);
}

TEST(AcceptVersion, AShorterVersionComparesItsEndAgainstTheBound) {
  EXPECT_EQ(judgeVersion("1.6", "1.6.0_10", "", false), VersionVerdict::BelowMinimum);
  EXPECT_TRUE(accepted("1.6.0_10", "1.6.0_10", ""));
  EXPECT_TRUE(accepted("1.7", "", "1.7.0_45"));
}

TEST(AcceptVersion, EmptyBoundsAcceptEverythingOnTheirSide) {
  EXPECT_TRUE(accepted("1.0.0", "", ""));
  EXPECT_TRUE(accepted("", "", ""));
  EXPECT_TRUE(accepted("1.0.0", "", "1.7"));
  EXPECT_FALSE(accepted("1.0.0", "1.6", ""));
}

TEST(AcceptVersion, PreReleaseMarkersAreAPlainCaseSensitiveSubstringSearch) {
  for (const char* version : {"1.6.0-ea", "1.7.0-rc1", "1.6.0-beta2", "1.6.0_21-release", "1.6.0_21-learn"}) {
    EXPECT_EQ(judgeVersion(version, "1.6", "1.7", true), VersionVerdict::PreRelease) << version;
    EXPECT_TRUE(accepted(version, "1.6", "1.7", false)) << version;
  }
  EXPECT_TRUE(accepted("1.6.0-EA", "1.6", "1.7", true));
  EXPECT_TRUE(accepted("1.6.0-Beta", "1.6", "1.7", true));
  EXPECT_FALSE(hasPreReleaseMarker("1.6.0_21"));
}

TEST(NumberedVersions, BoundsCoverEveryVersionThatBeginsWithTheirNumbers) {
  struct Case {
    const char* version;
    const char* min;
    const char* max;
    VersionVerdict numbered;
    VersionVerdict byteWise;
  };
  constexpr VersionVerdict ok = VersionVerdict::Accepted, low = VersionVerdict::BelowMinimum,
                           high = VersionVerdict::AboveMaximum;
  const Case cases[] = {
      {"9.0.4", "11", "", low, ok},
      {"11.0.22", "8", "", ok, low},
      {"21.0.2", "1.8", "", ok, ok},
      {"21.0.2", "8", "", ok, low},
      {"1.8.0_401", "1.8.0_60", "", ok, low},
      {"1.8.0_45", "1.8.0_60", "", low, low},
      {"1.8", "1.8.0_60", "", low, low},
      {"11.0.22", "", "11", ok, ok},
      {"12", "", "11", high, high},
      {"17.0.10+7", "17.0.10", "17", ok, ok},
      {"25", "8", "21", high, low},
      {"1.7.0_45", "1.6", "1.7", ok, ok},
      {"1.0.0", "", "", ok, ok},
      {"1.0.0", "1.6", "", low, low},
      {"", "8", "", low, low},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(judgeVersion(c.version, c.min, c.max, false, VersionScheme::Numeric), c.numbered) << c.version << " " << c.min << " " << c.max;
    EXPECT_EQ(judgeVersion(c.version, c.min, c.max, false), c.byteWise) << c.version << " " << c.min << " " << c.max;
  }
  EXPECT_EQ(judgeVersion("17-ea", "11", "", true, VersionScheme::Numeric), VersionVerdict::PreRelease);
  EXPECT_EQ(versionSchemeOf(1), VersionScheme::Numeric);
  EXPECT_EQ(versionSchemeOf(2), VersionScheme::Text);
}

TEST(NumberedVersions, OrderAndNumbers) {
  EXPECT_EQ(versionNumbers("1.8.0_401-b10"), (std::vector<long>{8, 0, 401}));
  EXPECT_EQ(versionNumbers("17.0.10+7"), (std::vector<long>{17, 0, 10}));
  EXPECT_EQ(versionNumbers("21 2023-09-19"), (std::vector<long>{21}));
  EXPECT_EQ(versionNumbers("99999999999999999999.1"), (std::vector<long>{999999999, 1}));
  EXPECT_TRUE(versionNumbers("ea").empty());
  EXPECT_GT(compareVersions("21.0.2", "9.0.4", VersionScheme::Numeric), 0);
  EXPECT_LT(compareVersions("21.0.2", "9.0.4", VersionScheme::Text), 0);
  EXPECT_GT(compareVersions("11.0.22", "11.0.9", VersionScheme::Numeric), 0);
  EXPECT_EQ(compareVersions("11", "11.0.0", VersionScheme::Numeric), 0);
  EXPECT_EQ(javaSoftTryOrder({"1.8", "11.0.9", "9.0.4", "11.0.22", "1.6"}, "1.8", "", VersionScheme::Numeric),
            (std::vector<std::string>{"11.0.22", "11.0.9", "9.0.4", "1.8"}));
  EXPECT_TRUE(versionInRange("1.8", "1.8.0_60", "11", VersionScheme::Numeric));
  EXPECT_FALSE(versionInRange("17", "1.8", "11", VersionScheme::Numeric));
}

TEST(ReleaseFile, JavaVersionLineOnly) {
  EXPECT_EQ(parseReleaseVersion("IMPLEMENTOR=\"Eclipse Adoptium\"\r\nJAVA_VERSION=\"21.0.2\"\r\nJAVA_VERSION_DATE=\"2024-01-16\"\r\n"),
            "21.0.2");
  EXPECT_EQ(parseReleaseVersion("JAVA_VERSION_DATE=\"2024\"\nJAVA_VERSION=\"1.8.0_402\""), "1.8.0_402");
  for (const char* bad : {"", "JAVA_VERSION=21.0.2\n", "JAVA_VERSION=\"\"\n", "JAVA_VERSION=\"abc\"\n",
                          "JAVA_VERSION=\"21\n", "MODULES=\"java.base\"\n"}) {
    EXPECT_FALSE(parseReleaseVersion(bad)) << bad;
  }
}

TEST(VersionInRange, ComparesOverTheShorterText) {
  EXPECT_TRUE(versionInRange("1.6", "1.6.0_10", "1.7"));
  EXPECT_TRUE(versionInRange("1.7.0_45", "1.6", "1.7"));
  EXPECT_FALSE(versionInRange("1.5.0_22", "1.6", "1.7"));
  EXPECT_FALSE(versionInRange("1.8", "1.6", "1.7"));
  EXPECT_TRUE(versionInRange("", "1.6", "1.7"));
  EXPECT_TRUE(versionInRange("1.6.0-ea", "1.6", "1.7"));
}

TEST(VersionLine, JavaAndOpenJdkForms) {
  EXPECT_EQ(parseVersionLine("java version \"1.6.0_21\"\n"), "1.6.0_21");
  EXPECT_EQ(parseVersionLine("openjdk version \"1.7.0-u60\"\n"), "1.7.0-u60");
  EXPECT_EQ(parseVersionLine("java version \"1.6.0_21\"\r\n"), "1.6.0_21");
  EXPECT_EQ(parseVersionLine("java version \"\"\n"), "");
}

TEST(VersionLine, AMissingLineEndDoesNotCostTheVersionACharacter) {
  EXPECT_EQ(parseVersionLine("java version \"1.6.0_21\""), "1.6.0_21");
}

TEST(VersionLine, TextAfterTheClosingQuoteIsNotPartOfTheVersion) {
  EXPECT_EQ(parseVersionLine("openjdk version \"11.0.2\" 2019-01-15\n"), "11.0.2");
}

TEST(VersionLine, OtherLinesAreRefused) {
  for (const char* line : {"Picked up _JAVA_OPTIONS: -Xmx64m\n", "", "\n", "java version 1.6.0_21\n",
                           "Java version \"1.6.0\"\n", " java version \"1.6.0\"\n", "openjdk version\n"}) {
    EXPECT_FALSE(parseVersionLine(line)) << line;
  }
}

TEST(VersionLine, TooShortForTheClosingQuoteIsRefused) {
  EXPECT_FALSE(parseVersionLine("java version \""));
  EXPECT_FALSE(parseVersionLine("java version \"\n"));
  EXPECT_FALSE(parseVersionLine("java version \"1.6.0_21\n"));
}

TEST(VersionLine, ALineLongerThanWhatIsReadIsRefused) {
  std::string prefix = "java version \"";
  std::string fits = prefix + std::string(kVersionLineLimit - prefix.size() - 2, '1') + "\"\n";
  ASSERT_EQ(fits.size(), kVersionLineLimit);
  EXPECT_EQ(parseVersionLine(fits), std::string(kVersionLineLimit - prefix.size() - 2, '1'));
  std::string tooLong = prefix + std::string(kVersionLineLimit - prefix.size() - 1, '1') + "\"\n";
  EXPECT_FALSE(parseVersionLine(tooLong));
}

TEST(VersionOutput, OptionsNoticesBeforeTheVersionLineAreSkippedWithinTheBounds) {
  const std::string version = "java version \"1.6.0_21\"\r\n";
  const std::string longNotice = "Picked up _JAVA_OPTIONS: " + std::string(kVersionLineLimit, 'x') + "\n";
  struct Case {
    std::vector<std::string> lines;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {{version}, "1.6.0_21"},
      {{"Picked up _JAVA_OPTIONS: -Xmx512m\n", version}, "1.6.0_21"},
      {{"Picked up JAVA_TOOL_OPTIONS: -Dfile.encoding=UTF-8\r\n", "Picked up JDK_JAVA_OPTIONS: -Xss2m\n",
        "Picked up _JAVA_OPTIONS: -Xmx1g\n", "openjdk version \"11.0.2\" 2019-01-15\n"},
       "11.0.2"},
      // Only the three notices a runtime writes, before the version line and nothing else.
      {{"Picked up _JAVA_OPTIONS: a\n", "Picked up _JAVA_OPTIONS: b\n", "Picked up _JAVA_OPTIONS: c\n",
        "Picked up _JAVA_OPTIONS: d\n", version},
       std::nullopt},
      {{"Warning: something\n", version}, std::nullopt},
      {{"picked up _JAVA_OPTIONS: -Xmx512m\n", version}, std::nullopt},
      {{"Picked up _JAVA_OPTIONS: -Xmx512m\n"}, std::nullopt},
      {{longNotice.substr(0, kVersionLineLimit + 1), version}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseVersionOutput(c.lines), c.expected) << (c.lines.empty() ? "" : c.lines[0]);
  }
  EXPECT_TRUE(isPickedUpOptionsLine("Picked up JDK_JAVA_OPTIONS: x"));
  // Java 9 and later write the JDK_JAVA_OPTIONS notice with this prefix.
  EXPECT_EQ(parseVersionOutput({"NOTE: Picked up JDK_JAVA_OPTIONS: -Xss2m\r\n", "openjdk version \"17.0.10\" 2024-01-16\r\n"}),
            "17.0.10");
  EXPECT_FALSE(isPickedUpOptionsLine("Picked up OTHER_OPTIONS: x"));
}

TEST(VersionCache, KeyNameHasForwardSlashes) {
  EXPECT_EQ(versionCacheKey("c:\\program files\\java\\bin\\java.exe"),
            "SOFTWARE\\harwell\\nimbo\\jvms\\c:/program files/java/bin/java.exe");
  EXPECT_EQ(versionCacheKey("\\\\srv\\j\\java.exe"), "SOFTWARE\\harwell\\nimbo\\jvms\\//srv/j/java.exe");
}

TEST(VersionCache, APathTooLongForAKeyNameBecomesItsDigest) {
  const std::string root = "SOFTWARE\\harwell\\nimbo\\jvms\\";
  std::string fits = "c:\\" + std::string(kRegistryKeyNameLimit - 3 - 13, 'd') + "\\bin\\java.exe";
  ASSERT_EQ(fits.size(), kRegistryKeyNameLimit);
  std::string name = fits;
  std::replace(name.begin(), name.end(), '\\', '/');
  EXPECT_EQ(versionCacheKey(fits), root + name);

  std::string longer = "c:\\" + std::string(kRegistryKeyNameLimit - 3 - 12, 'd') + "\\bin\\java.exe";
  std::string other = "c:\\" + std::string(kRegistryKeyNameLimit - 3 - 12, 'e') + "\\bin\\java.exe";
  std::string key = versionCacheKey(longer);
  EXPECT_EQ(key.size(), root.size() + 7 + 64);
  EXPECT_EQ(key.rfind(root + "sha256-", 0), 0u);
  EXPECT_EQ(key.find_first_not_of("0123456789abcdef", root.size() + 7), std::string::npos);
  EXPECT_NE(versionCacheKey(other), key);
  EXPECT_EQ(versionCacheKey(std::string(5000, 'x')).size(), key.size());
  // SHA-256 of the path as given, as any other implementation computes it.
  EXPECT_EQ(versionCacheKey(std::string(256, 'a')),
            root + "sha256-02d7160d77e18c6447be80c2e355c7ed4388545271702c50253b0914c65ce5fe");
}

TEST(JavaSoftOrder, GreatestInRangeFirstByteWise) {
  std::vector<std::string> names = {"1.6.0_21", "1.5", "1.6.0_3", "1.6", "1.8.0_20", "1.7"};
  EXPECT_EQ(javaSoftTryOrder(names, "1.6", "1.7"), (std::vector<std::string>{"1.7", "1.6.0_3", "1.6.0_21", "1.6"}));
  EXPECT_EQ(javaSoftTryOrder(names, "", "").size(), names.size());
  EXPECT_TRUE(javaSoftTryOrder({}, "1.6", "1.7").empty());
}
