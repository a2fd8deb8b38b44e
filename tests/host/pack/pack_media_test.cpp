#include "pack/pack_media.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pack/pack_config.h"

namespace {
void put16(std::string& image, std::size_t at, uint16_t v) {
  image[at] = char(v & 0xFF);
  image[at + 1] = char(v >> 8);
}
void put32(std::string& image, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) image[at + i] = char((v >> (8 * i)) & 0xFF);
}

struct Section {
  uint32_t rawPointer;
  uint32_t rawSize;
};

// A minimal PE image of fileSize bytes: DOS header, PE signature at 64, a 240-byte optional
// header carrying the file alignment, then the section table. Section contents stay zero.
std::string makePe(const std::vector<Section>& sections, uint32_t alignment, std::size_t fileSize) {
  std::string image(fileSize, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  put32(image, 60, 64);
  std::memcpy(&image[64], "PE\0\0", 4);
  put16(image, 64 + 4, 0x8664);
  put16(image, 64 + 6, static_cast<uint16_t>(sections.size()));
  put16(image, 64 + 20, 240);
  put32(image, 64 + 24 + 36, alignment);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    std::size_t entry = 64 + 24 + 240 + 40 * i;
    put32(image, entry + 16, sections[i].rawSize);
    put32(image, entry + 20, sections[i].rawPointer);
  }
  return image;
}

std::string cleanStub() { return makePe({{512, 512}}, 512, 1024); }

struct MemorySink : ByteSink {
  std::string bytes;
  void write(const void* data, std::size_t n) override { bytes.append(static_cast<const char*>(data), n); }
  void writeAt(uint64_t pos, const std::string& patch) override { bytes.replace(pos, patch.size(), patch); }
};

struct Packed {
  std::string bytes;
  WrittenMedia written;
  ConfigRecord record;
};

// Packs named contents the way the tool does, onto the clean stub.
Packed pack(const ConfigRecord& record, const std::vector<std::string>& contents, const std::string& javaData = "",
            bool checksum = true) {
  std::string stub = cleanStub();
  MemorySource stubSource(stub.data(), stub.size());
  std::vector<MemorySource> sources;
  for (const std::string& content : contents) sources.emplace_back(content.data(), content.size());
  MemorySource javaSource(javaData.data(), javaData.size());
  MediaInputs inputs;
  inputs.stub = &stubSource;
  inputs.fileAlignment = 512;
  inputs.record = encodeConfigRecord(record);
  for (MemorySource& source : sources) inputs.files.push_back(&source);
  inputs.javaData = javaData.empty() ? nullptr : &javaSource;
  inputs.checksum = checksum;
  MemorySink sink;
  Packed packed;
  packed.written = writeMedia(inputs, sink);
  packed.bytes = sink.bytes;
  packed.record = record;
  return packed;
}

ConfigRecord recordWithFiles(const std::string& count, const std::string& names) {
  ConfigRecord record;
  record.narrow = {{101, "Title"}, {2002, count}, {2003, names}};
  record.wide = {{20016, u"corrupted"}};
  record.languages = {{"de", {{20016, u"besch\u00e4digt"}}}};
  return record;
}

Packed samplePack() { return pack(recordWithFiles("3", "a.txt;user\\b.bin;c;"), {"hello", "", "xyz"}, "JAVADATA"); }

VerifyResult verifyBytes(const std::string& bytes) {
  MemorySource source(bytes.data(), bytes.size());
  return verifyMedia(source);
}

MediaInspection inspectBytes(const std::string& bytes) {
  MemorySource source(bytes.data(), bytes.size());
  return inspectMedia(source);
}

std::string stubProblemOf(const std::string& bytes) {
  MemorySource source(bytes.data(), bytes.size());
  PeLayout layout;
  return stubProblem(source, layout);
}
}  // namespace

TEST(PackLayout, PaddingReachesTheNextMultipleOfTheAlignment) {
  EXPECT_EQ(paddingLength(1000, 512), 24u);
  EXPECT_EQ(paddingLength(1024, 512), 0u);
  EXPECT_EQ(paddingLength(1025, 512), 511u);
  EXPECT_EQ(paddingLength(0, 4096), 0u);
  EXPECT_EQ(paddingLength(777, 1), 0u);
}

TEST(PackLayout, PlanPlacesEveryPartBehindTheStub) {
  MediaPlan plan = planMedia(1024, 512, 10, {5, 0}, 7);
  EXPECT_EQ(plan.headerOffset, 1024u);
  EXPECT_EQ(plan.recordOffset, 1044u);
  EXPECT_EQ(plan.fileOffsets, (std::vector<uint64_t>{1054, 1067}));
  EXPECT_EQ(plan.javaDataOffset, 1075u);
  EXPECT_EQ(plan.coveredEnd, 1082u);
  EXPECT_EQ(plan.checkedLength, 38);
  EXPECT_EQ(plan.padding, 454u);
  EXPECT_EQ(plan.totalSize, 1536u);
}

TEST(PackWriter, KeepsTheStubAndWritesHeaderMaskedFilesAndPadding) {
  Packed packed = samplePack();
  const MediaPlan& plan = packed.written.plan;
  const std::string stub = cleanStub();
  ASSERT_EQ(packed.bytes.size(), plan.totalSize);
  EXPECT_EQ(packed.bytes.size() % 512, 0u);
  EXPECT_EQ(packed.bytes.compare(0, stub.size(), stub), 0);
  MediaHeader header = packed.written.header;
  EXPECT_EQ(packed.bytes.substr(plan.headerOffset, kMediaHeaderSize), encodeMediaHeader(header));
  EXPECT_EQ(packed.bytes.substr(plan.headerOffset, 4), std::string("\xD5\x13\xE4\xE8", 4));
  EXPECT_EQ(header.checksumFlag, 1);
  EXPECT_EQ(packed.bytes.substr(plan.recordOffset, plan.fileOffsets[0] - plan.recordOffset), encodeConfigRecord(packed.record));
  EXPECT_EQ(packed.bytes.substr(plan.fileOffsets[0], 8), std::string("\x05\0\0\0\0\0\0\0", 8));
  std::string stored = packed.bytes.substr(plan.fileOffsets[0] + 8, 5);
  for (std::size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(uint8_t(stored[i]), uint8_t("hello"[i] ^ 0x88));
  EXPECT_EQ(packed.bytes.substr(plan.javaDataOffset, 8), "JAVADATA");
  EXPECT_EQ(packed.bytes.substr(plan.coveredEnd), std::string(plan.padding, '\0'));
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(packed.bytes.data() + plan.recordOffset),
                    static_cast<uInt>(plan.checkedLength));
  EXPECT_EQ(header.storedChecksum, static_cast<uint32_t>(crc));
  EXPECT_EQ(uint64_t(header.checkedLength), plan.coveredEnd - plan.recordOffset);
}

TEST(PackWriter, NoChecksumWritesFlagZero) {
  Packed packed = pack(recordWithFiles("0", ""), {}, "", false);
  EXPECT_EQ(packed.written.header.checksumFlag, 0);
  EXPECT_EQ(packed.bytes.substr(packed.written.plan.headerOffset + 4, 4), std::string(4, '\0'));
}

TEST(PackWriter, KeepsAStubsPeChecksumTrueOfTheWholeInstaller) {
  std::string stub = cleanStub();
  put32(stub, 64 + 24 + 64, 0xABCD);
  std::string file = "payload", javaData = "JAVA";
  MemorySource stubSource(stub.data(), stub.size()), fileSource(file.data(), file.size()),
      javaSource(javaData.data(), javaData.size());
  MediaInputs inputs;
  inputs.stub = &stubSource;
  inputs.fileAlignment = 512;
  inputs.record = encodeConfigRecord(recordWithFiles("1", "a;"));
  inputs.files = {&fileSource};
  inputs.javaData = &javaSource;
  inputs.peChecksumField = 64 + 24 + 64;
  MemorySink sink;
  writeMedia(inputs, sink);
  PeChecksum expected(64 + 24 + 64);
  expected.addBytes(0, sink.bytes.data(), sink.bytes.size());
  uint32_t stored = 0;
  std::memcpy(&stored, &sink.bytes[64 + 24 + 64], 4);
  EXPECT_EQ(stored, expected.sumFor(sink.bytes.size()));
  EXPECT_NE(stored, 0xABCDu);
  EXPECT_EQ(verifyBytes(sink.bytes).message, "OK");
}

TEST(PackInspect, WalksWhatTheWriterWrote) {
  Packed packed = samplePack();
  MediaInspection info = inspectBytes(packed.bytes);
  EXPECT_TRUE(info.problems.empty());
  EXPECT_EQ(info.appendedStart, 1024u);
  EXPECT_EQ(info.header.magic, kMediaMagic);
  EXPECT_EQ(info.record.narrow, packed.record.narrow);
  EXPECT_EQ(info.record.wide, packed.record.wide);
  ASSERT_EQ(info.record.languages.size(), 1u);
  EXPECT_EQ(info.record.languages[0].wide, packed.record.languages[0].wide);
  ASSERT_EQ(info.files.size(), 3u);
  EXPECT_EQ(info.files[1].name, "user\\b.bin");
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(info.files[i].sizeOffset, packed.written.plan.fileOffsets[i]);
  EXPECT_EQ(info.files[0].size, 5);
  EXPECT_EQ(info.files[1].size, 0);
  EXPECT_EQ(info.javaDataOffset, packed.written.plan.javaDataOffset);
  EXPECT_EQ(info.unextractedPosition, packed.written.plan.javaDataOffset);
  EXPECT_EQ(uint64_t(info.trailingBytes), packed.written.plan.padding);
}

TEST(PackInspect, FollowsTheCountOfEntry2002LikeTheLauncher) {
  Packed packed = pack(recordWithFiles("2", "a;b;c;"), {"1", "22", "333"});
  MediaInspection info = inspectBytes(packed.bytes);
  ASSERT_EQ(info.files.size(), 2u);
  EXPECT_EQ(info.fileCount, 2);
  EXPECT_EQ(info.unextractedPosition, packed.written.plan.fileOffsets[2]);
}

TEST(PackInspect, LastValueOfARepeatedEntryWins) {
  ConfigRecord record = recordWithFiles("5", "a;b;");
  record.narrow.emplace_back(2002, "1");
  MediaInspection info = inspectBytes(pack(record, {"1", "2"}).bytes);
  EXPECT_EQ(info.files.size(), 1u);
}

TEST(PackInspect, NothingExtractedLeavesUnextractedPositionZero) {
  Packed packed = pack(recordWithFiles("0", ""), {}, "JD");
  MediaInspection info = inspectBytes(packed.bytes);
  EXPECT_TRUE(info.files.empty());
  EXPECT_EQ(info.javaDataOffset, packed.written.plan.javaDataOffset);
  EXPECT_EQ(info.unextractedPosition, 0u);
}

TEST(PackInspect, ReportsARecordCutShortWithTheReadersText) {
  Packed packed = samplePack();
  std::string cut = packed.bytes.substr(0, packed.written.plan.recordOffset + 30);
  MediaInspection info = inspectBytes(cut);
  ASSERT_EQ(info.problems.size(), 1u);
  EXPECT_NE(info.problems[0].find("Internal Error: read"), std::string::npos) << info.problems[0];
  EXPECT_LT(info.trailingBytes, 0);
}

TEST(PackInspect, ReportsAFileRunningPastTheEnd) {
  Packed packed = samplePack();
  std::string cut = packed.bytes.substr(0, packed.written.plan.fileOffsets[2] + 9);
  MediaInspection info = inspectBytes(cut);
  ASSERT_EQ(info.problems.size(), 1u);
  EXPECT_NE(info.problems[0].find("\"c\""), std::string::npos) << info.problems[0];
}

// Problems are printed as JSON by inspect --json, which refuses text that is not UTF-8: a name
// in Windows-1252 ("café.jar") must be converted like every other text of the record.
TEST(PackInspect, NamesAFileInItsProblemAsUtf8) {
  Packed packed = pack(recordWithFiles("1", "caf\xe9.jar"), {"data"});
  for (uint64_t cutAt : {packed.written.plan.fileOffsets[0] + 4, packed.written.plan.fileOffsets[0] + 9}) {
    MediaInspection info = inspectBytes(packed.bytes.substr(0, cutAt));
    ASSERT_EQ(info.problems.size(), 1u) << cutAt;
    EXPECT_EQ(info.problems[0].rfind("file \"caf\xc3\xa9.jar\": ", 0), 0u) << info.problems[0];
  }
}

TEST(PackVerify, AcceptsTheWrittenFile) { EXPECT_EQ(verifyBytes(samplePack().bytes).message, "OK"); }

TEST(PackVerify, DetectsAFlippedByteAnywhereInTheCoveredRange) {
  Packed packed = samplePack();
  const MediaPlan& plan = packed.written.plan;
  for (uint64_t at : {plan.recordOffset, plan.recordOffset + 17, plan.fileOffsets[0], plan.fileOffsets[0] + 9,
                      plan.fileOffsets[2] + 8, plan.javaDataOffset + 3, plan.coveredEnd - 1}) {
    std::string bytes = packed.bytes;
    bytes[at] ^= 0x01;
    VerifyResult result = verifyBytes(bytes);
    EXPECT_FALSE(result.ok) << at;
    EXPECT_NE(result.message.find("checksum mismatch"), std::string::npos) << result.message;
  }
}

TEST(PackVerify, IgnoresTheTrailingPadding) {
  Packed packed = samplePack();
  ASSERT_GT(packed.written.plan.padding, 0u);
  std::string bytes = packed.bytes;
  bytes[packed.written.plan.coveredEnd] = 'x';
  bytes.back() = 'y';
  EXPECT_TRUE(verifyBytes(bytes).ok);
}

TEST(PackVerify, FlagZeroPassesWhateverFollows) {
  Packed packed = pack(recordWithFiles("1", "a;"), {"abc"}, "", false);
  std::string bytes = packed.bytes;
  bytes[packed.written.plan.fileOffsets[0] + 8] ^= 0x40;
  EXPECT_TRUE(verifyBytes(bytes).ok);
}

TEST(PackVerify, NamesEveryKindOfDamage) {
  Packed packed = samplePack();
  uint64_t header = packed.written.plan.headerOffset;
  std::string badMagic = packed.bytes;
  badMagic[header] = 0;
  EXPECT_NE(verifyBytes(badMagic).message.find("bad magic"), std::string::npos);
  std::string negative = packed.bytes;
  negative.replace(header + 12, 8, std::string(8, '\xFF'));
  EXPECT_NE(verifyBytes(negative).message.find("negative checked length -1"), std::string::npos);
  std::string truncated = packed.bytes.substr(0, packed.written.plan.coveredEnd - 1);
  EXPECT_NE(verifyBytes(truncated).message.find("truncated"), std::string::npos);
  std::string headerOnly = packed.bytes.substr(0, header + 10);
  EXPECT_NE(verifyBytes(headerOnly).message.find("truncated"), std::string::npos);
  EXPECT_EQ(verifyBytes(cleanStub()).message.find("no appended data"), 0u);
}

TEST(PackVerify, UsesTheStandardCrc32) {
  MediaHeader header;
  header.storedChecksum = 0xCBF43926;
  header.checkedLength = 9;
  std::string bytes = cleanStub() + encodeMediaHeader(header) + "123456789";
  EXPECT_EQ(verifyBytes(bytes).message, "OK");
}

TEST(PackStub, AcceptsAStubEndingAtItsLastSection) { EXPECT_EQ(stubProblemOf(cleanStub()), ""); }

TEST(PackStub, RefusesWhatCannotTakeAPayload) {
  EXPECT_EQ(stubProblemOf("MZ not a PE at all"), "is not a PE image");
  std::string noSignature = cleanStub();
  noSignature[64] = 'X';
  EXPECT_EQ(stubProblemOf(noSignature), "is not a PE image");
  EXPECT_NE(stubProblemOf(cleanStub() + "SYMBOLS").find("already carries 7 bytes"), std::string::npos);
  EXPECT_NE(stubProblemOf(samplePack().bytes).find("already carries a payload"), std::string::npos);
  EXPECT_NE(stubProblemOf(cleanStub().substr(0, 1000)).find("cut short"), std::string::npos);
  EXPECT_NE(stubProblemOf(makePe({{512, 512}}, 0, 1024)).find("FileAlignment"), std::string::npos);
  EXPECT_NE(stubProblemOf(makePe({{512, 512}}, 600, 1024)).find("FileAlignment"), std::string::npos);
}

TEST(PackStub, LastSectionEntryDecidesWhereAppendedDataStarts) {
  // The first entry reaches further than the last one; the launcher still starts at the last.
  std::string image = makePe({{1024, 512}, {512, 512}}, 512, 1536);
  MemorySource source(image.data(), image.size());
  PeLayout layout;
  ASSERT_TRUE(readPeLayout(source, layout));
  EXPECT_EQ(layout.appendedDataStart(), 1024u);
  EXPECT_NE(stubProblem(source, layout).find("already carries 512 bytes"), std::string::npos);
}

namespace {
// A large file that is almost all holes: a few written blocks, zeros elsewhere. Counts the bytes
// the reader asks for, which is what a hostile header would make expensive.
class SparseSource : public ByteSource {
 public:
  explicit SparseSource(uint64_t size) : ByteSource(size, &SparseSource::readSparse) {}
  void place(uint64_t at, const std::string& bytes) { blocks_.emplace_back(at, bytes); }
  static bool readSparse(ByteSource& source, uint64_t pos, void* dst, std::size_t n) {
    auto& self = static_cast<SparseSource&>(source);
    if (!self.holds(pos, n)) return false;
    self.bytesRead += n;
    auto* out = static_cast<uint8_t*>(dst);
    std::memset(out, 0, n);
    for (const auto& [at, bytes] : self.blocks_) {
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (at + i >= pos && at + i < pos + n) out[at + i - pos] = static_cast<uint8_t>(bytes[i]);
      }
    }
    return true;
  }
  uint64_t bytesRead = 0;

 private:
  std::vector<std::pair<uint64_t, std::string>> blocks_;
};

// The headers of cleanStub() moved to peOffset: a PE signature, one section ending at 512.
SparseSource sparseImage(uint64_t size, uint32_t peOffset) {
  std::string stub = cleanStub();
  std::string dos = stub.substr(0, 64);
  put32(dos, 60, peOffset);
  SparseSource source(size);
  source.place(0, dos);
  source.place(peOffset, stub.substr(64, 24 + 240 + 40));
  return source;
}
}  // namespace

TEST(PackStub, ReadsOnlyTheHeaderFieldsItNeedsWhereverTheyLie) {
  SparseSource source = sparseImage(0x10000000u + 8192, 0x10000000u);
  PeLayout layout;
  ASSERT_TRUE(readPeLayout(source, layout));
  EXPECT_EQ(layout.peOffset, 0x10000000u);
  EXPECT_EQ(layout.appendedDataStart(), 1024u);
  EXPECT_EQ(layout.fileAlignment, 512u);
  EXPECT_LT(source.bytesRead, 256u);
}

TEST(PackStub, RefusesAHeaderOffsetOrSectionTableBeyondTheFile) {
  SparseSource beyond = sparseImage(8192, 0x10000000u);
  PeLayout layout;
  EXPECT_FALSE(readPeLayout(beyond, layout));
  EXPECT_LE(beyond.bytesRead, 64u);
  // The PE signature fits, but 0xFFFF sections reach far past the end.
  std::string many = cleanStub();
  put16(many, 64 + 6, 0xFFFF);
  EXPECT_EQ(stubProblemOf(many), "is not a PE image");
  EXPECT_EQ(verifyBytes(many).message, "not a PE image");
}

TEST(PackInspect, ReportsANegativeCheckedLengthAsInvalid) {
  for (int64_t length : {INT64_MIN, int64_t(-1)}) {
    Packed packed = samplePack();
    std::string bytes = packed.bytes;
    std::string header;
    appendLong(header, length);
    bytes.replace(packed.written.plan.headerOffset + 12, 8, header);
    MediaInspection info = inspectBytes(bytes);
    EXPECT_FALSE(info.checkedLengthValid);
    ASSERT_EQ(info.problems.size(), 1u) << length;
    EXPECT_EQ(info.problems[0], "invalid checked length " + std::to_string(length) + ": it is negative");
    EXPECT_TRUE(info.filesWalked);
    EXPECT_EQ(info.trailingBytes, 0);
    EXPECT_EQ(info.javaDataSize, 0);
  }
}

TEST(PackInspect, AHugeCheckedLengthGivesExactSizesWithoutOverflow) {
  Packed packed = samplePack();
  std::string bytes = packed.bytes;
  std::string header;
  appendLong(header, INT64_MAX);
  bytes.replace(packed.written.plan.headerOffset + 12, 8, header);
  MediaInspection info = inspectBytes(bytes);
  EXPECT_TRUE(info.checkedLengthValid);
  uint64_t recordStart = packed.written.plan.recordOffset;
  EXPECT_EQ(info.trailingBytes, static_cast<int64_t>(bytes.size() - recordStart) - INT64_MAX);
  EXPECT_EQ(uint64_t(info.javaDataSize), uint64_t(INT64_MAX) - (info.javaDataOffset - recordStart));
}

TEST(PackInspect, JavaDataSizeRunsToTheEndOfTheCheckedLength) {
  Packed packed = samplePack();
  MediaInspection info = inspectBytes(packed.bytes);
  EXPECT_EQ(info.javaDataSize, 8);  // "JAVADATA"
}

namespace {
// Sets the optional header's kind and its security directory as a signing tool leaves them.
void markSigned(std::string& image, uint16_t kind, uint32_t directories, uint32_t offset, uint32_t size) {
  const std::size_t optional = 64 + 24;
  const std::size_t countField = kind == 0x20B ? 108 : 92;
  put16(image, optional, kind);
  put32(image, optional + countField, directories);
  put32(image, optional + countField + 4 + 4 * 8, offset);
  put32(image, optional + countField + 4 + 4 * 8 + 4, size);
}

SignatureView signatureOf(const std::string& bytes) {
  MemorySource source(bytes.data(), bytes.size());
  PeLayout layout;
  EXPECT_TRUE(readPeLayout(source, layout));
  return readSignature(source, layout);
}
}  // namespace

TEST(PackSignature, ReadsTheSecurityDirectoryOfBothHeaderKinds) {
  for (uint16_t kind : {uint16_t(0x10B), uint16_t(0x20B)}) {
    Packed packed = samplePack();
    std::string bytes = packed.bytes + std::string(64, 's');
    markSigned(bytes, kind, 16, static_cast<uint32_t>(packed.bytes.size()), 64);
    SignatureView signature = signatureOf(bytes);
    EXPECT_TRUE(signature.present) << kind;
    EXPECT_EQ(signature.offset, packed.bytes.size()) << kind;
    EXPECT_EQ(signature.size, 64u) << kind;
    // The signature follows the checked data: the installer's own check is unaffected.
    EXPECT_TRUE(verifyBytes(bytes).ok) << kind;
    MediaInspection info = inspectBytes(bytes);
    EXPECT_TRUE(info.signature.present);
    EXPECT_TRUE(info.problems.empty());
    EXPECT_EQ(uint64_t(info.trailingBytes), packed.written.plan.padding + 64);
  }
}

TEST(PackSignature, AnUnsignedOrUnknownHeaderHasNone) {
  Packed packed = samplePack();
  EXPECT_FALSE(signatureOf(packed.bytes).present);  // kind 0: neither PE32 nor PE32+
  std::string empty = packed.bytes;
  markSigned(empty, 0x10B, 16, 0, 0);
  EXPECT_FALSE(signatureOf(empty).present);
  // A directory table too short to hold the security entry: whatever lies there is not one.
  std::string shortTable = packed.bytes;
  markSigned(shortTable, 0x20B, 4, 1024, 64);
  EXPECT_FALSE(signatureOf(shortTable).present);
  std::string unknownKind = packed.bytes;
  markSigned(unknownKind, 0x107, 16, 1024, 64);
  EXPECT_FALSE(signatureOf(unknownKind).present);
}

TEST(PackSignature, ASignatureRunningPastTheEndIsAProblem) {
  Packed packed = samplePack();
  std::string bytes = packed.bytes;
  markSigned(bytes, 0x10B, 16, static_cast<uint32_t>(bytes.size() - 8), 0xFFFFFFF0u);
  MediaInspection info = inspectBytes(bytes);
  EXPECT_TRUE(info.signature.present);
  ASSERT_EQ(info.problems.size(), 1u);
  EXPECT_NE(info.problems[0].find("runs past the end of the file"), std::string::npos) << info.problems[0];
}
