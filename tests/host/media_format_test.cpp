#include "media/media_format.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "config/launcher_config.h"

namespace {
// A reader at the start of its own copy of bytes.
class BytesReader : public SourceReader {
 public:
  explicit BytesReader(std::string bytes)
      : SourceReader(source_, 0), bytes_(std::move(bytes)), source_(bytes_.data(), bytes_.size()) {}

 private:
  std::string bytes_;
  MemorySource source_;
};

ConfigRecord sampleRecord() {
  ConfigRecord record;
  record.narrow = {{122, "com.tessar.runtime.installer.Installer"}, {2002, "12"}, {2002, "3"}, {101, ""}};
  record.wide = {{20013, u"tessar Wizard"}, {20016, u"The installation file is corrupted."}};
  record.languages = {{"de", {{20016, u"Die Installationsdatei ist besch\u00e4digt."}}},
                      {"fr", {{20013, u"Assistant tessar"}}},
                      {"de_AT", {{20013, u"tessar Assistent"}}}};
  return record;
}
}  // namespace

TEST(MediaFormat, RecordRoundTripsThroughTheEncoder) {
  ConfigRecord written = sampleRecord();
  std::string bytes = encodeConfigRecord(written);
  BytesReader reader(bytes);
  ConfigRecord read = readConfigRecord(reader);
  EXPECT_EQ(reader.position(), bytes.size());
  EXPECT_EQ(read.narrow, written.narrow);
  EXPECT_EQ(read.wide, written.wide);
  ASSERT_EQ(read.languages.size(), 3u);
  EXPECT_EQ(read.languages[2].code, "de_AT");
  EXPECT_EQ(read.languages[0].wide, written.languages[0].wide);
}

TEST(MediaFormat, HeaderIsLittleEndianWithTheMagicFirstAndReadsBack) {
  MediaHeader header;
  header.checksumFlag = 1;
  header.storedChecksum = 0xCBF43926u;
  header.checkedLength = 0x0102030405LL;
  std::string bytes = encodeMediaHeader(header);
  ASSERT_EQ(bytes.size(), kMediaHeaderSize);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xD5\x13\xE4\xE8", 4));
  EXPECT_EQ(bytes.substr(8, 4), std::string("\x26\x39\xF4\xCB", 4));
  EXPECT_EQ(bytes.substr(12, 8), std::string("\x05\x04\x03\x02\x01\x00\x00\x00", 8));
  BytesReader reader(bytes + "record");
  EXPECT_EQ(encodeMediaHeader(readMediaHeader(reader)), bytes);
  EXPECT_EQ(reader.position(), kMediaHeaderSize);
}

TEST(MediaFormat, StringReadersHandleEmptyOddAndHostileCounts) {
  std::string empty;
  appendInt(empty, 0);
  empty += "rest";
  BytesReader emptyReader(empty);
  EXPECT_EQ(emptyReader.readString(), "");
  EXPECT_EQ(emptyReader.position(), 4u);

  std::string odd;
  appendInt(odd, 5);
  odd += std::string("A\0B\0C", 5);
  BytesReader oddReader(odd);
  EXPECT_EQ(oddReader.readWString(), u"AB");
  EXPECT_EQ(oddReader.position(), 9u) << "the odd byte is passed over";

  // Counts that are negative or reach past the end, and a count field itself cut short.
  for (std::string hostile : {std::string("\xFF\xFF\xFF\xFF" "abcd", 8), std::string("\0\0\0\x80" "abcd", 8),
                              std::string("\x05\0\0\0" "abcd", 8), std::string("\xFF\xFF\xFF\x7F" "abcd", 8),
                              std::string("\x03\0", 2)}) {
    try {
      BytesReader(hostile).readString();
      ADD_FAILURE() << "count accepted";
    } catch (const MediaFormatError& e) {
      EXPECT_EQ(e.kind, ReaderKind::String);
    }
    try {
      BytesReader(hostile).readWString();
      ADD_FAILURE() << "count accepted";
    } catch (const MediaFormatError& e) {
      EXPECT_EQ(e.kind, ReaderKind::WString);
    }
  }
}

TEST(MediaFormat, ShortReadsNameTheirReader) {
  std::string three("\x01\x02\x03", 3);
  auto kindOf = [&](auto read) {
    try {
      read();
    } catch (const MediaFormatError& e) {
      return std::string(readerFailureText(e.kind));
    }
    return std::string("no failure");
  };
  EXPECT_EQ(kindOf([&] { BytesReader(three).readInt(); }), "Internal Error: readInt");
  EXPECT_EQ(kindOf([&] { BytesReader(three).readLong(); }), "Internal Error: readLong");
  EXPECT_EQ(kindOf([&] { BytesReader("x").readShort(); }), "Internal Error: readShort");
  EXPECT_EQ(kindOf([&] { BytesReader(three).readString(); }), "Internal Error: readString");
  std::string header = encodeMediaHeader(MediaHeader());
  EXPECT_EQ(kindOf([&] {
              BytesReader cut(header.substr(0, kMediaHeaderSize - 1));
              readMediaHeader(cut);
            }),
            "Internal Error: readLong");
  std::string record = encodeConfigRecord(sampleRecord());
  EXPECT_EQ(kindOf([&] {
              BytesReader cut(record.substr(0, record.size() - 3));
              readConfigRecord(cut);
            }),
            "Internal Error: readWString");
}

TEST(MediaFormat, FileTableEntriesSayWhereTheNextBeginsAndWhetherTheyFit) {
  struct Case {
    int64_t size;
    std::size_t dataBytes;
    uint64_t end;
    bool within;
  };
  // Two bytes before the entry; a size that is not positive stores nothing.
  for (const Case& c : {Case{5, 5, 15, true}, Case{0, 3, 10, true}, Case{-7, 0, 10, true}, Case{6, 5, 16, false},
                        Case{INT64_MAX, 5, 10 + uint64_t(INT64_MAX), false}}) {
    std::string bytes = "..";
    appendLong(bytes, c.size);
    bytes += std::string(c.dataBytes, 'd');
    MemorySource source(bytes.data(), bytes.size());
    FileTableEntry entry = readFileTableEntry(source, 2);
    EXPECT_EQ(entry.sizeOffset, 2u);
    EXPECT_EQ(entry.size, c.size);
    EXPECT_EQ(entry.dataOffset, 10u);
    EXPECT_EQ(entry.end, c.end) << c.size;
    EXPECT_EQ(entry.withinSource, c.within) << c.size;
  }
  std::string cut("..\x05\0\0\0", 6);
  MemorySource source(cut.data(), cut.size());
  try {
    readFileTableEntry(source, 2);
    ADD_FAILURE() << "a size field cut short was read";
  } catch (const MediaFormatError& e) {
    EXPECT_EQ(e.kind, ReaderKind::Long);
  }
}

TEST(MediaFormat, AByteSourceReadsOnlyWhatItHoldsWhereverThePositionLies) {
  const std::string bytes = "0123456789";
  MemorySource source(bytes.data(), bytes.size());
  struct Case {
    uint64_t pos, n;
    bool held;
  };
  // Sums of a hostile position and count must not wrap around to a small, "held" range.
  for (const Case& c : {Case{0, 10, true}, Case{10, 0, true}, Case{9, 1, true}, Case{1, 10, false}, Case{11, 0, false},
                        Case{UINT64_MAX, 1, false}, Case{5, UINT64_MAX, false}, Case{UINT64_MAX, UINT64_MAX, false}}) {
    EXPECT_EQ(source.holds(c.pos, c.n), c.held) << c.pos << "+" << c.n;
  }
  char out[3] = {};
  EXPECT_TRUE(source.bytesAt(7, out, 3));
  EXPECT_EQ(std::string(out, 3), "789");
  EXPECT_FALSE(source.bytesAt(8, out, 3));
  EXPECT_FALSE(source.bytesAt(UINT64_MAX - 1, out, 3));
}

TEST(MediaFormat, IncludedFileListFollowsTheCount) {
  EXPECT_EQ(includedFileList("a;b;c;", 2), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(includedFileList("a;b;", 5), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(includedFileList("a;;c", 3), (std::vector<std::string>{"a"}));
  EXPECT_EQ(includedFileList("user\\x.jar.pack", 1), (std::vector<std::string>{"user\\x.jar.pack"}));
  EXPECT_TRUE(includedFileList("a;b", 0).empty());
  EXPECT_TRUE(includedFileList("", 3).empty());
}

TEST(MediaFormat, DeviceNamesAreRefusedInAnyComponent) {
  for (const char* device : {"CON", "con", "Nul", "PRN", "aux", "COM1", "com9", "LPT1", "lpt9", "con.txt",
                             "NUL.tar.gz", "COM1 .jar", "user\\LPT3", "user\\aux.properties", "CON\\x.jar",
                             "CONIN$", "conout$", "LPT\xB9", "COM\xB2.txt"}) {
    EXPECT_FALSE(isContainedFileName(device)) << device;
  }
  for (const char* file : {"CONFIG", "console.jar", "nul_file", "COM10", "LPT", "COMA", "user\\com1x.jar",
                           "xcon.txt", "auxiliary\\a", "NUL_\\a"}) {
    EXPECT_TRUE(isContainedFileName(file)) << file;
  }
}

TEST(MediaFormat, ContainedNamesStayInsideTheDirectory) {
  for (const char* good : {"a.jar", "user\\jdom.jar.pack", "a..b", "..x", "x..\\y"})
    EXPECT_TRUE(isContainedFileName(good)) << good;
  for (const char* bad : {"", "\\x", "\\\\server\\share\\x", "C:\\x", "C:x", "..", "..\\x", "a\\..\\..\\x",
                          "a\\..", "/etc/passwd", "a/../../b"})
    EXPECT_FALSE(isContainedFileName(bad)) << bad;
  EXPECT_EQ(directoryLevels("a"), 0);
  EXPECT_EQ(directoryLevels("user\\a"), 1);
  EXPECT_EQ(directoryLevels("a\\b\\c"), 2);
}

TEST(MediaFormat, AppendedDataFollowsTheLastSectionTableEntry) {
  // Two sections; the first ends further into the file than the last one.
  std::vector<uint8_t> image(0x400, 0);
  image[0] = 'M';
  image[1] = 'Z';
  const uint32_t pe = 0x80;
  std::memcpy(&image[60], &pe, 4);
  std::memcpy(&image[pe], "PE\0\0", 4);
  uint16_t sections = 2, optionalSize = 0xE0;
  std::memcpy(&image[pe + 6], &sections, 2);
  std::memcpy(&image[pe + 20], &optionalSize, 2);
  uint32_t alignment = 0x200;
  std::memcpy(&image[pe + 24 + 36], &alignment, 4);
  auto setSection = [&](int index, uint32_t rawSize, uint32_t rawPointer) {
    uint32_t entry = pe + 24 + optionalSize + 40 * index;
    std::memcpy(&image[entry + 16], &rawSize, 4);
    std::memcpy(&image[entry + 20], &rawPointer, 4);
  };
  setSection(0, 0x3000, 0x1000);
  setSection(1, 0x200, 0x600);
  PeLayout layout;
  MemorySource source(image.data(), image.size());
  ASSERT_TRUE(readPeLayout(source, layout));
  EXPECT_EQ(layout.sectionCount, 2);
  EXPECT_EQ(layout.lastSectionEntry, pe + 24 + optionalSize + 40);
  EXPECT_EQ(layout.appendedDataStart(), 0x800u);
  EXPECT_EQ(layout.fileAlignment, 0x200u);
  image[1] = 'X';
  EXPECT_FALSE(readPeLayout(source, layout));
  MemorySource tooShort(image.data(), 10);
  EXPECT_FALSE(readPeLayout(tooShort, layout));
}

TEST(MediaFormat, LocaleCodesMatchExactlyThenByPrimaryLanguage) {
  EXPECT_STREQ(localeCodeForLcid(0x0409), "en_US");
  EXPECT_STREQ(localeCodeForLcid(0x0C07), "de_AT");
  EXPECT_STREQ(localeCodeForLcid(0x0007), "de");
  EXPECT_STREQ(localeCodeForLcid(0x2407), "de");     // unlisted country: its primary language
  EXPECT_STREQ(localeCodeForLcid(0x0814), "no_NO_NY");
  EXPECT_STREQ(localeCodeForLcid(0x2409), "en");
  EXPECT_STREQ(localeCodeForLcid(0x500A), "es_PR");
  EXPECT_EQ(localeCodeForLcid(0x007F), nullptr);      // invariant locale: no row
  EXPECT_EQ(localeCodeForLcid(0x0028), nullptr);
}

TEST(MediaFormat, LanguageGroupsApplyByPrefixInFileOrder) {
  ConfigRecord record = sampleRecord();
  LauncherConfig austrian, american, none;
  applyConfigRecord(record, "de_AT", austrian);
  applyConfigRecord(record, "en_US", american);
  applyConfigRecord(record, nullptr, none);
  EXPECT_EQ(austrian.wide[20016], u"Die Installationsdatei ist besch\u00e4digt.");
  EXPECT_EQ(austrian.wide[20013], u"tessar Assistent");
  EXPECT_EQ(american.wide[20016], u"The installation file is corrupted.");
  EXPECT_EQ(american.wide[20013], u"tessar Wizard");
  EXPECT_EQ(none.wide, american.wide);
  EXPECT_EQ(austrian.narrow[2002], "3") << "a later entry with the same id wins";
  EXPECT_TRUE(languageMatches("de", "de"));
  EXPECT_FALSE(languageMatches("de_AT", "de"));
  EXPECT_FALSE(languageMatches("de", "en_US"));
}

TEST(MediaFormat, ZlibCrcIsTheCheckOfTheMedia) {
  const char text[] = "123456789";
  EXPECT_EQ(crc32(0L, reinterpret_cast<const Bytef*>(text), 9), 0xCBF43926u);
}
