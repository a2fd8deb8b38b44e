#include "pack/pack_runtime.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "pack/pack_config.h"
#include "runtime/tar_archive.h"

namespace {

class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/pack_runtime_XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~ScratchDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  void file(const std::string& name, const std::string& data) const {
    std::ofstream(*this / name, std::ios::binary) << data;
  }
  void dir(const std::string& name) const { ::mkdir((*this / name).c_str(), 0755); }

 private:
  std::string path_;
};

std::string gunzip(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  std::string out;
  char buffer[65536];
  int got;
  while ((got = gzread(file, buffer, sizeof buffer)) > 0) out.append(buffer, got);
  gzclose(file);
  return out;
}

void gzipTo(const std::string& path, const std::string& data) {
  gzFile file = gzopen(path.c_str(), "wb");
  gzwrite(file, data.data(), static_cast<unsigned>(data.size()));
  gzclose(file);
}

// Walks an archive as the launcher does and lists what it would do, in order.
struct Walk : TarInput, TarOutput {
  explicit Walk(std::string bytes) : data(std::move(bytes)) {}
  int read(void* dst, unsigned n) override {
    std::size_t take = std::min<std::size_t>(n, data.size() - pos);
    std::memcpy(dst, data.data() + pos, take);
    pos += take;
    return static_cast<int>(take);
  }
  void info(const std::string&) override {}
  void error(const std::string& line) override { errors.push_back(line); }
  void createDirectory(const std::string& path) override { actions.push_back("dir " + path); }
  bool openFile(const std::string& path) override {
    actions.push_back("file " + path);
    current = path;
    return true;
  }
  bool writeFile(const void* bytes, std::size_t n) override {
    contents[current].append(static_cast<const char*>(bytes), n);
    return true;
  }
  bool closeFile(bool) override { return true; }
  void progress(uint64_t, bool) override {}
  std::string data;
  std::size_t pos = 0;
  std::vector<std::string> actions, errors;
  std::map<std::string, std::string> contents;
  std::string current;
};

}  // namespace

TEST(UstarHeader, HoldsNameSizeTypeMagicAndAValidChecksum) {
  std::string block = ustarHeader("bin/java.exe", 1000, false, 0);
  ASSERT_EQ(block.size(), kTarBlockSize);
  TarHeader header = parseTarHeader(reinterpret_cast<const unsigned char*>(block.data()));
  EXPECT_TRUE(header.magic);
  EXPECT_EQ(header.name, "bin/java.exe");
  EXPECT_EQ(header.size, 1000u);
  EXPECT_EQ(header.type, TarEntryType::File);
  unsigned sum = 0;
  for (std::size_t i = 0; i < block.size(); ++i) sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(block[i]);
  EXPECT_EQ(parseOctalField(&block[148], 8), sum);
  EXPECT_EQ(parseTarHeader(reinterpret_cast<const unsigned char*>(ustarHeader("lib/", 0, true, 0).data())).type,
            TarEntryType::Directory);
}

TEST(UstarHeader, RefusesNamesPastTheFieldAndSizesPastTheOctalDigits) {
  EXPECT_NO_THROW(ustarHeader(std::string(100, 'a'), 0, false, 0));
  EXPECT_THROW(ustarHeader(std::string(101, 'a'), 0, false, 0), PackError);
  EXPECT_NO_THROW(ustarHeader("big", 077777777777ull, false, 0));
  EXPECT_THROW(ustarHeader("big", 0100000000000ull, false, 0), PackError);
}

TEST(IsPackedRuntime, RtPackWithoutJsseAtTheTopOrBelowJre) {
  EXPECT_TRUE(isPackedRuntime({"lib/", "lib/rt.jar.pack"}));
  EXPECT_FALSE(isPackedRuntime({"lib/", "lib/rt.jar.pack", "lib/jsse.jar"}));
  EXPECT_TRUE(isPackedRuntime({"jre/lib/rt.jar.pack"}));
  EXPECT_FALSE(isPackedRuntime({"lib/rt.jar"}));
}

TEST(WriteRuntimeArchive, ListsEachDirectoryBeforeItsContentsAndRoundTrips) {
  ScratchDir src, out;
  src.dir("bin");
  src.dir("bin/server");
  src.dir("lib");
  src.file("bin/java.exe", "MZjava");
  src.file("bin/server/jvm.dll", std::string(3000, 'v'));
  src.file("lib/rt.jar.pack", "pack");
  src.file("lib/charsets.jar.pack", "pack");
  src.file("lib/a.properties", "a");
  src.file("bin/unpack200.exe", "MZunpack");
  src.file("release", "JAVA_VERSION=\"1.7.0\"");
  RuntimeArchive archive = writeRuntimeArchive(src / "", out / "jre.tar.gz");
  EXPECT_EQ(archive.fileCount, 7u);
  EXPECT_TRUE(archive.packed);
  std::string tar = gunzip(out / "jre.tar.gz");
  EXPECT_EQ(archive.uncompressedSize, tar.size());
  EXPECT_EQ(tar.size() % 10240, 0u);
  Walk walk(tar);
  ASSERT_TRUE(untarStream(walk, walk));
  // A packed runtime's pack200 archives, rt.jar's first, lead their directory.
  EXPECT_EQ(walk.actions,
            (std::vector<std::string>{"dir bin", "file bin\\java.exe", "dir bin\\server", "file bin\\server\\jvm.dll",
                                      "file bin\\unpack200.exe", "dir lib", "file lib\\rt.jar.pack",
                                      "file lib\\charsets.jar.pack", "file lib\\a.properties", "file release"}));
  EXPECT_EQ(walk.contents["bin\\server\\jvm.dll"], std::string(3000, 'v'));
  EXPECT_TRUE(walk.errors.empty());
  RuntimeArchive checked = checkRuntimeArchive(out / "jre.tar.gz");
  EXPECT_EQ(checked.uncompressedSize, archive.uncompressedSize);
  EXPECT_EQ(checked.fileCount, 7u);
  EXPECT_TRUE(checked.packed);

  // Not packed: name order only.
  src.file("lib/jsse.jar", "jar");
  writeRuntimeArchive(src / "", out / "plain.tar.gz");
  Walk plain(gunzip(out / "plain.tar.gz"));
  ASSERT_TRUE(untarStream(plain, plain));
  EXPECT_EQ(plain.actions[6], "file lib\\a.properties");
}

TEST(WriteRuntimeArchive, StoresLinkedFilesAndRefusesWhatTheLauncherCannotTake) {
  ScratchDir src, out;
  src.file("real", "content");
  ASSERT_EQ(::symlink("real", (src / "alias").c_str()), 0);
  RuntimeArchive archive = writeRuntimeArchive(src / "", out / "a.tar.gz");
  EXPECT_EQ(archive.fileCount, 2u);
  EXPECT_FALSE(archive.packed);

  ScratchDir linkedDir;
  linkedDir.dir("d");
  linkedDir.file("d/f", "x");
  ASSERT_EQ(::symlink("d", (linkedDir / "e").c_str()), 0);
  EXPECT_THROW(writeRuntimeArchive(linkedDir / "", out / "b.tar.gz"), PackError);

  for (const std::string& bad : {std::string("a:b"), std::string("back\\slash"), std::string("nul.txt"),
                                 std::string(101, 'n')}) {
    ScratchDir dir;
    dir.file(bad, "x");
    EXPECT_THROW(writeRuntimeArchive(dir / "", out / "c.tar.gz"), PackError) << bad;
  }
  ScratchDir empty;
  EXPECT_THROW(writeRuntimeArchive(empty / "", out / "d.tar.gz"), PackError);
  EXPECT_THROW(writeRuntimeArchive(empty / "missing", out / "e.tar.gz"), PackError);
}

TEST(CheckRuntimeArchive, RefusesArchivesTheLauncherWouldFailOn) {
  ScratchDir dir;
  std::string data = "x";
  data.resize(512, '\0');
  std::string fileFirst = ustarHeader("bin/java.exe", 1, false, 0) + data + ustarHeader("bin/", 0, true, 0) +
                          std::string(1024, '\0');
  gzipTo(dir / "order.tar.gz", fileFirst);
  EXPECT_THROW(checkRuntimeArchive(dir / "order.tar.gz"), PackError);

  std::string good = ustarHeader("bin/", 0, true, 0) + ustarHeader("bin/java.exe", 1, false, 0) + data +
                     std::string(1024, '\0');
  gzipTo(dir / "good.tar.gz", good);
  EXPECT_EQ(checkRuntimeArchive(dir / "good.tar.gz").uncompressedSize, good.size());
  std::ofstream(dir / "plain.tar", std::ios::binary) << good;
  EXPECT_THROW(checkRuntimeArchive(dir / "plain.tar"), PackError);

  gzipTo(dir / "long.tar.gz", good + std::string(200000, 'z'));
  std::ifstream in(dir / "long.tar.gz", std::ios::binary);
  std::string compressed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(dir / "cut.tar.gz", std::ios::binary) << compressed.substr(0, compressed.size() - 20);
  EXPECT_THROW(checkRuntimeArchive(dir / "cut.tar.gz"), PackError);
}

TEST(AddCarriedRuntime, AppendsTheArchiveAndSetsSizeAndPackedFlag) {
  RuntimeArchive runtime;
  runtime.uncompressedSize = 204800;
  runtime.packed = true;
  std::vector<std::string> warnings;
  auto config = nlohmann::json::parse(
      addCarriedRuntime(R"({"narrow": {"101": "x"}, "files": ["a.jar"]})", runtime, warnings));
  EXPECT_EQ(config["files"], nlohmann::json({"a.jar", "jre.tar.gz"}));
  EXPECT_EQ(config["narrow"]["151"], "204800");
  EXPECT_EQ(config["narrow"]["153"], "1");
  EXPECT_TRUE(warnings.empty());
  PackConfig parsed = parsePackConfig(config.dump());
  EXPECT_EQ(parsed.files.back(), "jre.tar.gz");

  runtime.packed = false;
  config = nlohmann::json::parse(addCarriedRuntime(R"({"files": []})", runtime, warnings));
  EXPECT_FALSE(config["narrow"].contains("153"));
}

TEST(AddCarriedRuntime, KeepsConfiguredEntriesAndWarnsWhenTheyDisagree) {
  RuntimeArchive runtime;
  runtime.uncompressedSize = 10240;
  std::vector<std::string> warnings;
  auto config = nlohmann::json::parse(addCarriedRuntime(
      R"({"narrow": {"151": "37038080", "153": "1", "2002": "1", "2003": "a.jar;"}, "files": ["a.jar"]})", runtime,
      warnings));
  EXPECT_EQ(config["narrow"]["151"], "37038080");
  EXPECT_EQ(config["narrow"]["153"], "1");
  EXPECT_EQ(config["narrow"]["2002"], "2");
  EXPECT_EQ(config["narrow"]["2003"], "a.jar;jre.tar.gz;");
  EXPECT_EQ(warnings.size(), 2u);
  EXPECT_NO_THROW(parsePackConfig(config.dump()));
}

TEST(AddCarriedRuntime, RefusesASecondRuntimeArchive) {
  std::vector<std::string> warnings;
  EXPECT_THROW(addCarriedRuntime(R"({"files": ["JRE.tar.gz"]})", RuntimeArchive{}, warnings), PackError);
  EXPECT_THROW(addCarriedRuntime("[1]", RuntimeArchive{}, warnings), PackError);
}
