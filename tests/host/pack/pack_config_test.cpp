#include "pack/pack_config.h"
#include "pack/pack_entries.h"
#include "pack/pack_zip.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {
std::string narrowOf(const PackConfig& config, int32_t id) {
  for (const auto& [entryId, value] : config.record.narrow) {
    if (entryId == id) return value;
  }
  return "<absent>";
}

// Runs the parser and returns its refusal, or "" when it accepted the text.
std::string refusal(const std::string& json, PackConfigOptions options = {}) {
  try {
    parsePackConfig(json, options);
  } catch (const PackError& e) {
    return e.what();
  }
  return "";
}
}  // namespace

// A row added twice, or a name or id reused, would make one entry shadow another.
TEST(PackConfig, EveryEntryRowHasAnIdAndANameOfItsOwn) {
  std::set<int32_t> ids;
  std::set<std::string> names;
  for (const EntryInfo& row : entryTable()) {
    EXPECT_TRUE(ids.insert(row.id).second) << row.id;
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    EXPECT_EQ(findEntry(row.id), &row);
    EXPECT_EQ(findEntryByName(row.name), &row);
  }
  EXPECT_EQ(ids.size(), 99u);
}

TEST(PackConfig, EntriesKeepTheirOrderAndTypes) {
  PackConfig config = parsePackConfig(R"({
    "narrow": {"122": "com.example.Main", "101": "Title"},
    "wide": {"20016": "corrupted", "20013": "caption"},
    "languages": [{"code": "de", "wide": {"20016": "beschädigt"}}]})");
  ASSERT_GE(config.record.narrow.size(), 2u);
  EXPECT_EQ(config.record.narrow[0], std::make_pair(int32_t{122}, std::string("com.example.Main")));
  EXPECT_EQ(config.record.narrow[1], std::make_pair(int32_t{101}, std::string("Title")));
  ASSERT_EQ(config.record.wide.size(), 2u);
  EXPECT_EQ(config.record.wide[0].first, 20016);
  EXPECT_EQ(config.record.wide[1].second, u"caption");
  ASSERT_EQ(config.record.languages.size(), 1u);
  EXPECT_EQ(config.record.languages[0].code, "de");
  EXPECT_EQ(config.record.languages[0].wide[0].second, u"besch\u00e4digt");
}

TEST(PackConfig, FileEntriesAreComputedFromTheFileList) {
  PackConfig config = parsePackConfig(R"({"files": ["a.txt", "user\\b.jar.pack", "c"]})");
  EXPECT_EQ(narrowOf(config, 2002), "3");
  EXPECT_EQ(narrowOf(config, 2003), "a.txt;user\\b.jar.pack;c;");
  EXPECT_EQ(config.files.size(), 3u);
  EXPECT_TRUE(config.warnings.empty());
}

TEST(PackConfig, NoFilesGiveCountZeroAndEmptyList) {
  PackConfig config = parsePackConfig(R"({"narrow": {}})");
  EXPECT_EQ(narrowOf(config, 2002), "0");
  EXPECT_EQ(narrowOf(config, 2003), "");
}

TEST(PackConfig, RefusesEntries2002And2003ThatDisagreeWithTheFiles) {
  EXPECT_EQ(refusal(R"({"narrow": {"2002": "2"}, "files": ["a", "b", "c"]})"),
            "the launcher will extract 2 files (entries 2002/2003) but \"files\" stores 3");
  EXPECT_EQ(refusal(R"({"narrow": {"2003": "a;b;"}, "files": ["a", "b", "c"]})"),
            "the launcher will extract 2 files (entries 2002/2003) but \"files\" stores 3");
  EXPECT_EQ(refusal(R"({"narrow": {"2003": "b;a;"}, "files": ["a", "b"]})"),
            "entry 2003 does not list the names of \"files\" in storage order");
}

TEST(PackConfig, ExplicitCountIsWrittenAsGivenWithAWarningWhenUnchecked) {
  PackConfigOptions unchecked;
  unchecked.uncheckedNames = true;
  PackConfig config = parsePackConfig(R"({"narrow": {"2002": "2"}, "files": ["a", "b", "c"]})", unchecked);
  int counts = 0;
  for (const auto& entry : config.record.narrow) counts += entry.first == 2002;
  EXPECT_EQ(counts, 1);
  EXPECT_EQ(narrowOf(config, 2002), "2");
  EXPECT_EQ(narrowOf(config, 2003), "a;b;c;");
  ASSERT_EQ(config.warnings.size(), 1u);
  EXPECT_NE(config.warnings[0].find("extract 2 files"), std::string::npos);
}

TEST(PackConfig, ExplicitNameListMatchingTheFilesIsQuiet) {
  PackConfig config = parsePackConfig(R"({"narrow": {"2002": "2", "2003": "a;b;"}, "files": ["a", "b"]})");
  EXPECT_TRUE(config.warnings.empty());
}

TEST(PackConfig, NarrowTextIsStoredAsWindows1252) {
  PackConfig config = parsePackConfig(R"({"narrow": {"101": "caf\u00e9 \u20ac5 \u2122"}})");
  EXPECT_EQ(narrowOf(config, 101), "caf\xE9 \x80" "5 \x99");
}

TEST(PackConfig, RefusesNarrowCharacterOutsideWindows1252) {
  std::string message = refusal(R"({"narrow": {"101": "\u03a9mega"}})");
  EXPECT_NE(message.find("narrow entry 101"), std::string::npos) << message;
  EXPECT_NE(message.find("U+03A9"), std::string::npos) << message;
  EXPECT_NE(refusal(R"({"narrow": {"101": "\u0081"}})"), "");
}

TEST(PackConfig, WideTextIsUtf16WithSurrogatePairs) {
  PackConfig config = parsePackConfig("{\"wide\": {\"20013\": \"A\xF0\x9F\x98\x80\xC3\xA9\"}}");
  ASSERT_EQ(config.record.wide.size(), 1u);
  EXPECT_EQ(config.record.wide[0].second, std::u16string(u"A\xD83D\xDE00\u00e9"));
}

TEST(PackConfig, EnforcesTheLaunchersValueLimits) {
  auto narrow = [](int id, std::size_t length) {
    return "{\"narrow\": {\"" + std::to_string(id) + "\": \"" + std::string(length, 'x') + "\"}}";
  };
  EXPECT_EQ(refusal(narrow(128, 8191)), "");
  EXPECT_NE(refusal(narrow(128, 8192)).find("at most 8191"), std::string::npos);
  EXPECT_EQ(refusal(narrow(152, 199)), "");
  EXPECT_NE(refusal(narrow(152, 200)).find("at most 199"), std::string::npos);
  EXPECT_EQ(refusal(narrow(2001, 1)), "");
  EXPECT_NE(refusal(narrow(2001, 2)).find("at most 1"), std::string::npos);
  // The limit counts stored bytes: an accented letter takes two bytes in the JSON, one in the record.
  std::string accents;
  for (int i = 0; i < 199; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(refusal("{\"narrow\": {\"152\": \"" + accents + "\"}}"), "");
  std::string wide = "{\"wide\": {\"20001\": \"" + std::string(8192, 'y') + "\"}}";
  EXPECT_NE(refusal(wide).find("at most 8191"), std::string::npos);
  std::string grouped = "{\"languages\": [{\"code\": \"de\", \"wide\": {\"20001\": \"" + std::string(8192, 'y') + "\"}}]}";
  EXPECT_NE(refusal(grouped).find("language \"de\""), std::string::npos);
}

TEST(PackConfig, ComputedNameListObeysTheLimitToo) {
  std::string files = "[";
  for (int i = 0; i < 700; ++i) files += std::string(i ? "," : "") + "\"file_number_" + std::to_string(i) + "\"";
  files += "]";
  EXPECT_NE(refusal("{\"files\": " + files + "}").find("entry 2003"), std::string::npos);
}

TEST(PackConfig, RefusesNamesTheLauncherCannotExtractSafely) {
  for (const char* name : {"/abs", "\\\\abs", "C:\\\\x", "c:x", "\\\\\\\\server\\\\share\\\\x", "..\\\\x",
                           "a\\\\..\\\\b", "..", "user\\\\sub\\\\x.jar", "a/b", "", "x;y", "user\\\\"}) {
    std::string json = std::string("{\"files\": [\"") + name + "\"]}";
    EXPECT_NE(refusal(json), "") << json;
  }
  EXPECT_EQ(refusal(R"({"files": ["user\\jdom.jar.pack", "a..b", ".hidden"]})"), "");
}

TEST(PackConfig, RefusesDeviceNamesInAnyComponent) {
  for (const char* name : {"COM1", "con.txt", "user\\\\NUL", "Lpt2.jar.pack", "aux\\\\x.jar"}) {
    std::string json = std::string("{\"files\": [\"") + name + "\"]}";
    EXPECT_NE(refusal(json).find("names the device"), std::string::npos) << json << ": " << refusal(json);
  }
  EXPECT_EQ(refusal(R"({"files": ["console.jar", "COM10", "user\\comx.jar"]})"), "");
}

TEST(PackConfig, RefusesTheSameNameTwiceIgnoringCase) {
  EXPECT_NE(refusal(R"({"files": ["Stats.properties", "stats.PROPERTIES"]})").find("listed twice"), std::string::npos);
}

TEST(PackConfig, ExplicitNameListIsCheckedUnlessAskedNotTo) {
  std::string json = R"({"narrow": {"2003": "user\\a\\b.jar;"}, "files": ["x"]})";
  EXPECT_NE(refusal(json).find("entry 2003"), std::string::npos);
  PackConfigOptions unchecked;
  unchecked.uncheckedNames = true;
  PackConfig config = parsePackConfig(json, unchecked);
  EXPECT_EQ(narrowOf(config, 2003), "user\\a\\b.jar;");
  EXPECT_NE(refusal(R"({"files": ["..\\x"]})", unchecked), "");
}

TEST(PackConfig, RefusesMalformedConfigurations) {
  EXPECT_NE(refusal("{"), "");
  EXPECT_NE(refusal("[]"), "");
  EXPECT_NE(refusal(R"({"narow": {}})").find("unknown member"), std::string::npos);
  EXPECT_NE(refusal(R"({"narrow": {"abc": "x"}})").find("\"abc\""), std::string::npos);
  EXPECT_NE(refusal(R"({"narrow": {"99999999999": "x"}})"), "");
  EXPECT_NE(refusal(R"({"narrow": {"": "x"}})"), "");
  EXPECT_NE(refusal(R"({"narrow": {"101": 5}})").find("JSON string"), std::string::npos);
  EXPECT_NE(refusal(R"({"narrow": {"107": 5.5}})").find("whole number"), std::string::npos);
  EXPECT_NE(refusal(R"({"narrow": {"107": true}})").find("whole number"), std::string::npos);
  EXPECT_NE(refusal(R"({"files": "a"})"), "");
  EXPECT_NE(refusal(R"({"languages": [{"wide": {}}]})"), "");
  EXPECT_NE(refusal(R"({"languages": [{"code": "", "wide": {}}]})"), "");
  EXPECT_NE(refusal(R"({"narrow": {"-1": "x"}})").find("unknown entry id"), std::string::npos);
  PackConfigOptions unknown;
  unknown.unknownEntries = true;
  EXPECT_EQ(refusal(R"({"narrow": {"-1": "x"}})", unknown), "");
  EXPECT_NE(refusal(R"({"narrow": {"someName": "x"}})", unknown).find("unknown entry name"), std::string::npos);
  EXPECT_NE(refusal(R"({"languages": [{"code": "de", "wide": {"mainClass": "x"}}]})").find("is a narrow entry"),
            std::string::npos);
}

TEST(PackZip, ReadsTheCentralDirectoryAndRefusesDamageWithoutReadingPastIt) {
  // A stored zip with one entry "a/B.class" (no data), written by hand.
  std::string name = "a/B.class";
  std::string local = std::string("PK\x03\x04", 4) + std::string(22, '\0') + char(name.size()) + '\0' + "\0\0" + name;
  std::string central = std::string("PK\x01\x02", 4) + std::string(24, '\0') + char(name.size()) + '\0' +
                        std::string(16, '\0') + name;
  auto end = [&](uint16_t count, uint32_t size, uint32_t offset) {
    std::string e = std::string("PK\x05\x06", 4) + std::string(4, '\0');
    for (uint16_t v : {count, count}) e += std::string{char(v & 0xFF), char(v >> 8)};
    for (uint32_t v : {size, offset}) e += std::string{char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16), char(v >> 24)};
    return e + std::string(2, '\0');
  };
  std::string good = local + central + end(1, central.size(), local.size());
  MemorySource source(good.data(), good.size());
  EXPECT_EQ(zipEntryNames(source), std::vector<std::string>{name});
  std::vector<std::pair<std::string, ByteSource*>> files = {{"app.jar", &source}};
  EXPECT_EQ(mainClassProblem("a.B", files), "");
  EXPECT_NE(mainClassProblem("a.C", files).find("none of the included jars"), std::string::npos);
  for (const std::string& bad : {local + central + end(2, central.size(), local.size()),
                                 local + central + end(1, central.size() + 100, local.size()),
                                 local + central + end(1, central.size(), 0xFFFFFFF0u),
                                 local + central.substr(0, 50) + end(1, 50, local.size()), std::string("PK")}) {
    MemorySource damaged(bad.data(), bad.size());
    EXPECT_THROW(zipEntryNames(damaged), PackError);
  }
}

TEST(PackConfig, RefusesMalformedUtf8) {
  for (const char* bad : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80"}) {
    EXPECT_THROW(utf8ToAnsi(bad), PackError) << bad;
    EXPECT_THROW(utf8ToUtf16(bad), PackError) << bad;
  }
}

TEST(PackText, EveryWindows1252ByteRoundTrips) {
  for (int b = 1; b < 256; ++b) {
    if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
    std::string ansi(1, static_cast<char>(b));
    EXPECT_EQ(utf8ToAnsi(ansiToUtf8(ansi)), ansi) << b;
  }
  EXPECT_EQ(ansiToUtf8("\x81"), "\xC2\x81");
}

TEST(PackText, UnpairedSurrogatesDisplayAsReplacement) {
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"a"), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(utf16ToUtf8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
}
