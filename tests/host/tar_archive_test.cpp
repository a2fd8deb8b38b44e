#include "runtime/tar_archive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// One ustar header block; size is written as the octal text given.
std::string headerBlock(const std::string& name, const std::string& sizeField, char type,
                        const char* magic = "ustar") {
  std::string block(kTarBlockSize, '\0');
  std::memcpy(&block[0], name.data(), std::min<std::size_t>(name.size(), kTarNameLength));
  std::memcpy(&block[124], sizeField.data(), std::min<std::size_t>(sizeField.size(), 12));
  block[156] = type;
  std::memcpy(&block[257], magic, std::strlen(magic));
  return block;
}

std::string octal(uint64_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%011llo", static_cast<unsigned long long>(value));
  return text;
}

std::string padded(const std::string& data) {
  std::string out = data;
  out.resize((data.size() + kTarBlockSize - 1) / kTarBlockSize * kTarBlockSize, '\0');
  return out;
}

std::string dirEntry(const std::string& name) { return headerBlock(name, octal(0), '5'); }
std::string fileEntry(const std::string& name, const std::string& data) {
  return headerBlock(name, octal(data.size()), '0') + padded(data);
}
std::string endBlocks() { return std::string(2 * kTarBlockSize, '\0'); }

// Hands out the archive in small, uneven reads, as a decompressor may.
class MemoryInput : public TarInput {
 public:
  explicit MemoryInput(std::string data, int failAt = -1) : data_(std::move(data)), failAt_(failAt) {}
  int read(void* dst, unsigned n) override {
    if (failAt_ >= 0 && pos_ >= static_cast<std::size_t>(failAt_)) return -1;
    std::size_t take = std::min<std::size_t>({n, data_.size() - pos_, 700});
    std::memcpy(dst, data_.data() + pos_, take);
    pos_ += take;
    return static_cast<int>(take);
  }

 private:
  std::string data_;
  int failAt_;
  std::size_t pos_ = 0;
};

// Records what the walk does; files exist only once closed with keep.
class RecordingOutput : public TarOutput {
 public:
  void info(const std::string& line) override { log.push_back(line); }
  void error(const std::string& line) override { log.push_back("ERROR: " + line); }
  void createDirectory(const std::string& path) override { directories.push_back(path); }
  bool openFile(const std::string& path) override {
    if (refuseOpen) return false;
    current = path;
    content.clear();
    actions.push_back("open " + path);
    return true;
  }
  bool writeFile(const void* data, std::size_t n) override {
    if (failWrites) return false;
    content.append(static_cast<const char*>(data), n);
    return true;
  }
  bool closeFile(bool keep) override {
    actions.push_back((keep ? "keep " : "remove ") + current);
    if (keep) files[current] = content;
    return true;
  }
  void progress(uint64_t bytesRead, bool entryStart) override {
    if (entryStart) entryStarts.push_back(bytesRead);
    lastProgress = bytesRead;
  }
  bool logged(const std::string& line) const {
    for (const std::string& l : log) {
      if (l == line) return true;
    }
    return false;
  }

  std::vector<std::string> log, directories, actions;
  std::map<std::string, std::string> files;
  std::vector<uint64_t> entryStarts;
  uint64_t lastProgress = 0;
  std::string current, content;
  bool refuseOpen = false, failWrites = false;
};

bool untar(const std::string& archive, RecordingOutput& out) {
  MemoryInput input(archive);
  return untarStream(input, out);
}

}  // namespace

// --- The octal rule ---

TEST(ParseOctalField, SkipsLeadingSpacesAndZerosAndStopsAtSpaceOrZero) {
  EXPECT_EQ(parseOctalField("00000001750 ", 12), 1000u);
  EXPECT_EQ(parseOctalField("  0 0017\0 99", 12), 15u);
  EXPECT_EQ(parseOctalField("0000000", 7), 0u);
  EXPECT_EQ(parseOctalField("", 0), 0u);
  EXPECT_EQ(parseOctalField("\0\0\0", 3), 0u);
}

TEST(ParseOctalField, ReadsNoFurtherThanTheFieldLength) {
  const char field[] = {'1', '7', '7', '7'};  // no terminator
  EXPECT_EQ(parseOctalField(field, 2), 017u);
  EXPECT_EQ(parseOctalField(field, 4), 01777u);
}

TEST(ParseOctalField, SizesPastTwoGigabytesDoNotOverflow) {
  EXPECT_EQ(parseOctalField("77777777777", 11), 077777777777u);  // 8 GiB - 1
  EXPECT_EQ(parseOctalField("20000000000", 11), 2147483648u);
}

TEST(ParseOctalField, RefusesNonOctalDigitsAndValuesPast64Bits) {
  EXPECT_FALSE(parseOctalField("00000001758 ", 12));
  EXPECT_FALSE(parseOctalField("0000000-1750", 12));
  EXPECT_FALSE(parseOctalField("\x80\0\0\0\0\0\0\0\0\0\x10\0", 12));  // base-256 form
  EXPECT_EQ(parseOctalField("1777777777777777777777", 22), UINT64_MAX);
  EXPECT_FALSE(parseOctalField("2000000000000000000000", 22));
  EXPECT_FALSE(parseOctalField("77777777777777777777777", 23));
}

// --- Header blocks ---

TEST(ParseTarHeader, ReadsNameSizeTypeAndMagic) {
  std::string block = headerBlock("bin/java.exe", "00000001750 ", '0');
  TarHeader header = parseTarHeader(reinterpret_cast<const unsigned char*>(block.data()));
  EXPECT_TRUE(header.magic);
  EXPECT_EQ(header.name, "bin/java.exe");
  EXPECT_EQ(header.size, 1000u);
  EXPECT_EQ(header.type, TarEntryType::File);
  block[156] = '5';
  EXPECT_EQ(parseTarHeader(reinterpret_cast<const unsigned char*>(block.data())).type, TarEntryType::Directory);
  for (char other : {'2', '1', '\0', 'x', 'L', 'g'}) {
    block[156] = other;
    EXPECT_EQ(parseTarHeader(reinterpret_cast<const unsigned char*>(block.data())).type, TarEntryType::Other) << other;
  }
}

TEST(ParseTarHeader, NameWithoutTerminatorIsCutAtOneHundredBytes) {
  std::string name(100, 'n');
  std::string block = headerBlock(name, octal(0), '0');
  // The size field follows the mode at 100: fill the bytes after the name with text.
  std::memset(&block[100], 'm', 24);
  TarHeader header = parseTarHeader(reinterpret_cast<const unsigned char*>(block.data()));
  EXPECT_EQ(header.name, name);
}

TEST(ParseTarHeader, MagicMustBeUstar) {
  std::string block = headerBlock("a", octal(0), '0', "ustaR");
  EXPECT_FALSE(parseTarHeader(reinterpret_cast<const unsigned char*>(block.data())).magic);
  std::string zero(kTarBlockSize, '\0');
  EXPECT_FALSE(parseTarHeader(reinterpret_cast<const unsigned char*>(zero.data())).magic);
  std::string gnu = headerBlock("a", octal(0), '0', "ustar  ");
  EXPECT_TRUE(parseTarHeader(reinterpret_cast<const unsigned char*>(gnu.data())).magic);
}

// --- Entry names ---

TEST(TarEntryPath, UsesBackslashesAndDropsDotAndEmptyComponents) {
  EXPECT_EQ(tarEntryPath("bin/server/jvm.dll"), "bin\\server\\jvm.dll");
  EXPECT_EQ(tarEntryPath("./lib//rt.jar"), "lib\\rt.jar");
  EXPECT_EQ(tarEntryPath("lib/"), "lib");
  EXPECT_EQ(tarEntryPath("./"), "");
  EXPECT_EQ(tarEntryPath("a..b/c.d.e"), "a..b\\c.d.e");
  EXPECT_EQ(tarEntryPath("console.jar"), "console.jar");
  EXPECT_EQ(tarEntryPath("com10"), "com10");
}

TEST(TarEntryPath, RefusesNamesThatLeaveTheTarget) {
  for (const char* name : {"/etc/passwd", "\\Windows\\x.dll", "C:\\x", "c:x", "../x", "lib/../../x", "a\\..\\..\\x",
                           "..", "lib/..", "... /x", ".. /x", "a/ ../b", "file.txt:stream", "x/y:$DATA"}) {
    EXPECT_FALSE(tarEntryPath(name)) << name;
  }
}

TEST(TarEntryPath, RefusesDeviceNamesAndCharactersWindowsCannotStore) {
  for (const char* name : {"CON", "lib/nul.txt", "Aux", "com1", "LPT9.jar", "conin$", "prn .x", "a*b", "a?b",
                           "a<b", "a>b", "a|b", "a\"b", "a\tb", "a\x01"}) {
    EXPECT_FALSE(tarEntryPath(name)) << name;
  }
}

// --- Progress ---

TEST(UntarProgressPosition, RunsFrom100To200AndNeverDividesByZero) {
  EXPECT_EQ(untarProgressPosition(0, 10240), 100);
  EXPECT_EQ(untarProgressPosition(5120, 10240), 150);
  EXPECT_EQ(untarProgressPosition(10239, 10240), 199);
  EXPECT_EQ(untarProgressPosition(10240, 10240), 200);
  EXPECT_EQ(untarProgressPosition(99999, 10240), 200);
  EXPECT_EQ(untarProgressPosition(12345, 0), 100);
  EXPECT_EQ(untarProgressPosition(UINT64_MAX - 1, UINT64_MAX), 199);
}

// --- Whole archives ---

TEST(UntarStream, WritesDirectoriesAndFilesAndEndsAtTwoZeroBlocks) {
  std::string data(1000, 'd');
  std::string archive = dirEntry("bin/") + fileEntry("bin/java.exe", data) + fileEntry("release", "JAVA") + endBlocks();
  RecordingOutput out;
  EXPECT_TRUE(untar(archive, out));
  EXPECT_EQ(out.directories, std::vector<std::string>{"bin"});
  EXPECT_EQ(out.files["bin\\java.exe"], data);
  EXPECT_EQ(out.files["release"], "JAVA");
  EXPECT_TRUE(out.logged("extracting bin\\java.exe (size 1000)"));
  EXPECT_FALSE(out.logged("ERROR: no magic number"));
  // Progress at each file start is the position just after its header.
  EXPECT_EQ(out.entryStarts, (std::vector<uint64_t>{1024, 2560}));
}

TEST(UntarStream, SizeWithTrailingSpaceSkipsItsPadding) {
  std::string data(1000, 'x');
  std::string archive = dirEntry("a/") + headerBlock("a/f", "00000001750 ", '0') + padded(data) +
                        fileEntry("a/g", "after") + endBlocks();
  RecordingOutput out;
  EXPECT_TRUE(untar(archive, out));
  EXPECT_EQ(out.files["a\\f"], data);
  EXPECT_EQ(out.files["a\\g"], "after");
}

TEST(UntarStream, EndOfDataWithoutEndBlocksIsSuccessAfterAFile) {
  RecordingOutput out;
  EXPECT_TRUE(untar(fileEntry("f", "x"), out));
  EXPECT_EQ(out.files["f"], "x");
}

TEST(UntarStream, LinksAndOtherEntriesAreSkippedWithTheirData) {
  std::string linkData(700, 'L');
  std::string archive = headerBlock("link", octal(linkData.size()), '2') + padded(linkData) +
                        headerBlock("../../outside", octal(3), '1') + padded("xyz") + fileEntry("f", "kept") +
                        endBlocks();
  RecordingOutput out;
  EXPECT_TRUE(untar(archive, out));
  EXPECT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.files["f"], "kept");
  EXPECT_TRUE(out.directories.empty());
}

TEST(UntarStream, ArchiveWithoutRegularFileFails) {
  RecordingOutput empty;
  EXPECT_FALSE(untar("", empty));
  EXPECT_TRUE(empty.logged("ERROR: unexpected eof"));
  RecordingOutput onlyDirs;
  EXPECT_FALSE(untar(dirEntry("a/") + endBlocks(), onlyDirs));
  EXPECT_TRUE(onlyDirs.logged("ERROR: no magic number"));
}

TEST(UntarStream, BadMagicOnTheFirstBlockFails) {
  RecordingOutput out;
  EXPECT_FALSE(untar(headerBlock("f", octal(1), '0', "nope!") + padded("x"), out));
  EXPECT_TRUE(out.logged("ERROR: no magic number"));
  EXPECT_TRUE(out.actions.empty());
}

TEST(UntarStream, FileBeforeItsDirectoryFailsWithoutOpeningIt) {
  RecordingOutput out;
  EXPECT_FALSE(untar(fileEntry("bin/java.exe", "x") + dirEntry("bin/") + endBlocks(), out));
  EXPECT_TRUE(out.actions.empty());
  EXPECT_TRUE(out.logged("ERROR: directory of bin\\java.exe not listed before it"));
}

TEST(UntarStream, DirectoriesMatchWhateverTheCaseAndDotPrefix) {
  RecordingOutput out;
  EXPECT_TRUE(untar(dirEntry("./Lib/") + fileEntry("lib/rt.jar", "r") + endBlocks(), out));
  EXPECT_EQ(out.files["lib\\rt.jar"], "r");
}

TEST(UntarStream, HostileNameFailsBeforeAnythingOfItIsWritten) {
  for (const char* name : {"../evil.dll", "/evil", "C:\\evil", "sub\\..\\..\\evil", "x:stream", "NUL"}) {
    RecordingOutput out;
    EXPECT_FALSE(untar(fileEntry("ok", "1") + fileEntry(name, "evil") + endBlocks(), out)) << name;
    EXPECT_EQ(out.actions, (std::vector<std::string>{"open ok", "keep ok"})) << name;
    RecordingOutput dirs;
    EXPECT_FALSE(untar(dirEntry(std::string(name) + "/") + fileEntry("f", "x") + endBlocks(), dirs)) << name;
    EXPECT_TRUE(dirs.directories.empty()) << name;
  }
}

TEST(UntarStream, RegularFileNamingTheTargetItselfFails) {
  RecordingOutput out;
  EXPECT_FALSE(untar(fileEntry("./", "x") + endBlocks(), out));
  EXPECT_TRUE(out.actions.empty());
}

TEST(UntarStream, SizePastTheEndFailsAndRemovesThePartialFile) {
  std::string archive = headerBlock("f", octal(5000), '0') + padded(std::string(1000, 'x'));
  RecordingOutput out;
  EXPECT_FALSE(untar(archive, out));
  EXPECT_TRUE(out.logged("ERROR: sizes don't match: 1024, 5000"));
  EXPECT_TRUE(out.logged("ERROR: extract file failed"));
  EXPECT_EQ(out.actions, (std::vector<std::string>{"open f", "remove f"}));
}

TEST(UntarStream, SkippedEntryOrPaddingPastTheEndFails) {
  RecordingOutput link;
  EXPECT_FALSE(untar(fileEntry("f", "x") + headerBlock("l", octal(1 << 20), '2') + padded("short"), link));
  EXPECT_TRUE(link.logged("ERROR: gzseek 2 failed"));
  RecordingOutput padding;
  EXPECT_FALSE(untar(fileEntry("f", "x") + headerBlock("g", octal(3), '0') + "abc", padding));
  EXPECT_TRUE(padding.logged("ERROR: gzseek 3 failed"));
}

TEST(UntarStream, DirectoryDataIsSkippedNotTakenForAHeader) {
  std::string inner = fileEntry("../../evil", "e");
  std::string archive = headerBlock("d/", octal(inner.size()), '5') + inner + fileEntry("d/f", "ok") + endBlocks();
  RecordingOutput out;
  EXPECT_TRUE(untar(archive, out));
  EXPECT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.files["d\\f"], "ok");
}

TEST(UntarStream, TruncatedHeaderAndBadSizeFieldFail) {
  RecordingOutput truncated;
  EXPECT_FALSE(untar(fileEntry("f", "x") + std::string(100, 'h'), truncated));
  RecordingOutput badSize;
  EXPECT_FALSE(untar(fileEntry("f", "x") + headerBlock("g", "0000000009  ", '0') + padded("x"), badSize));
  EXPECT_TRUE(badSize.logged("ERROR: bad size field: g"));
}

TEST(UntarStream, ReadErrorFailsTheArchive) {
  std::string archive = fileEntry("f", std::string(3000, 'x')) + endBlocks();
  RecordingOutput inHeader;
  MemoryInput failFirst(archive, 0);
  EXPECT_FALSE(untarStream(failFirst, inHeader));
  EXPECT_TRUE(inHeader.logged("ERROR: gzread failed"));
  RecordingOutput inData;
  MemoryInput failInData(archive, 1500);
  EXPECT_FALSE(untarStream(failInData, inData));
  EXPECT_TRUE(inData.logged("ERROR: sizes don't match: 0, 3000"));
  EXPECT_EQ(inData.actions.back(), "remove f");
}

TEST(UntarStream, WriteAndOpenFailuresFailTheArchive) {
  RecordingOutput writes;
  writes.failWrites = true;
  EXPECT_FALSE(untar(fileEntry("f", "x") + endBlocks(), writes));
  EXPECT_TRUE(writes.logged("ERROR: stream error"));
  EXPECT_EQ(writes.actions.back(), "remove f");
  RecordingOutput opens;
  opens.refuseOpen = true;
  EXPECT_FALSE(untar(fileEntry("f", "x") + endBlocks(), opens));
  EXPECT_TRUE(opens.logged("ERROR: Could not open file f"));
}

TEST(UntarStream, EmptyRegularFileIsCreated) {
  RecordingOutput out;
  EXPECT_TRUE(untar(fileEntry("empty", "") + endBlocks(), out));
  EXPECT_EQ(out.files.count("empty"), 1u);
  EXPECT_EQ(out.files["empty"], "");
}
