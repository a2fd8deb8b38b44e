#include "pack/pack_resources.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pack/pack_config.h"
#include "pack/pack_media.h"

namespace {
void put(std::string& bytes, std::size_t at, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}
uint32_t get(const std::string& bytes, std::size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

struct Sec {
  std::string name;
  uint32_t va, virtualSize, rawPointer, rawSize;
  std::string data;
  uint32_t flags = 0x40000040;  // initialized data, readable
};

// A PE32 image: headers with e_lfanew `pe`, 16 data directories (2 and 5 given), the sections'
// data at their raw pointers. Checksum and SizeOfInitializedData are set when asked.
struct Pe {
  std::vector<Sec> sections;
  uint32_t pe = 0x80, fileAlignment = 0x200, checksum = 0, initialized = 0x1000;
  std::vector<std::pair<int, uint32_t>> directories;  // index, rva (size 0x10)

  std::string bytes() const {
    std::size_t size = 0x400;
    for (const Sec& s : sections) size = std::max<std::size_t>(size, std::size_t(s.rawPointer) + s.rawSize);
    size = std::max<std::size_t>(size, pe + 24 + 224 + 40 * sections.size());
    std::string image(size, '\0');
    image[0] = 'M', image[1] = 'Z';
    put(image, 60, pe, 4);
    std::memcpy(&image[pe], "PE\0\0", 4);
    put(image, pe + 4, 0x14c, 2);
    put(image, pe + 6, static_cast<uint32_t>(sections.size()), 2);
    put(image, pe + 20, 224, 2);
    std::size_t opt = pe + 24;
    put(image, opt, 0x10b, 2);
    put(image, opt + 8, initialized, 4);
    put(image, opt + 32, 0x1000, 4);
    put(image, opt + 36, fileAlignment, 4);
    put(image, opt + 60, 0x200, 4);
    put(image, opt + 64, checksum, 4);
    put(image, opt + 92, 16, 4);
    for (const auto& [index, rva] : directories) {
      put(image, opt + 96 + 8 * index, rva, 4);
      put(image, opt + 100 + 8 * index, 0x10, 4);
    }
    for (std::size_t i = 0; i < sections.size(); ++i) {
      const Sec& s = sections[i];
      std::size_t entry = opt + 224 + 40 * i;
      std::memcpy(&image[entry], s.name.data(), std::min<std::size_t>(8, s.name.size()));
      put(image, entry + 8, s.virtualSize, 4);
      put(image, entry + 12, s.va, 4);
      put(image, entry + 16, s.rawSize, 4);
      put(image, entry + 20, s.rawPointer, 4);
      put(image, entry + 36, s.flags, 4);
      if (!s.data.empty()) std::memcpy(&image[s.rawPointer], s.data.data(), std::min<std::size_t>(s.data.size(), s.rawSize));
    }
    return image;
  }
};

const std::string kEmptyFolder(16, '\0');

// The refusal's text, or "accepted".
template <typename Call>
std::string refusal(Call call) {
  try {
    call();
  } catch (const PackError& e) {
    return e.what();
  }
  return "accepted";
}
#define EXPECT_REFUSED(call, text) EXPECT_NE(refusal([&] { call; }).find(text), std::string::npos) << refusal([&] { call; })

// .text, .rsrc (an empty resource directory) and .reloc, as a linker lays them out.
Pe threeSections() {
  Pe pe;
  pe.sections = {{".text", 0x1000, 0x100, 0x400, 0x200, "\xC3"},
                 {".rsrc", 0x2000, 0x10, 0x600, 0x400, kEmptyFolder},
                 {".reloc", 0x3000, 0x0C, 0xA00, 0x200, std::string("\x00\x10\x00\x00\x0C\x00\x00\x00\x05\x30\x00\x00", 12)}};
  pe.directories = {{2, 0x2000}, {5, 0x3000}};
  return pe;
}

// A stub whose resource section holds `section` (offsets from its start, section RVA 0x2000).
std::string withResources(const std::string& section) {
  Pe pe;
  uint32_t raw = static_cast<uint32_t>((section.size() + 0x1FF) / 0x200 * 0x200);
  pe.sections = {{".rsrc", 0x2000, static_cast<uint32_t>(section.size()), 0x400, raw, section}};
  pe.directories = {{2, 0x2000}};
  return pe.bytes();
}

// A folder at `at` of `count` id entries, all pointing at `target` (a folder when high-bit set).
void folder(std::string& section, std::size_t at, uint32_t count, uint32_t target) {
  if (section.size() < at + 16 + 8 * count) section.resize(at + 16 + 8 * count, '\0');
  put(section, at + 14, count, 2);
  for (uint32_t i = 0; i < count; ++i) {
    put(section, at + 16 + 8 * i, i + 1, 4);
    put(section, at + 20 + 8 * i, target, 4);
  }
}

// Type 16, name 1, language 0x409 holding `version` as its leaf.
std::string versionSection(const std::string& version) {
  std::string section;
  folder(section, 0, 1, 0x80000018);
  put(section, 16, 16, 4);
  folder(section, 24, 1, 0x80000030);
  folder(section, 48, 1, 72);
  section.resize(88, '\0');
  put(section, 72, 0x2000 + 88, 4);
  put(section, 76, static_cast<uint32_t>(version.size()), 4);
  return section + version;
}

// A version block (length, value length, type, key, aligned value) with children appended as
// given: `length` overrides the true length, to make a block claim more than it holds.
std::string block(const std::u16string& key, const std::u16string& value, const std::string& children = "",
                  uint32_t length = 0) {
  std::string out(6, '\0');
  for (char16_t c : key + u'\0') out.append({char(c), char(c >> 8)});
  out.resize((out.size() + 3) / 4 * 4, '\0');
  for (char16_t c : value) out.append({char(c), char(c >> 8)});
  out.resize((out.size() + 3) / 4 * 4, '\0');
  out += children;
  put(out, 0, length ? length : static_cast<uint32_t>(out.size()), 2);
  put(out, 2, static_cast<uint32_t>(value.size()), 2);
  put(out, 4, 1, 2);
  return out;
}

TEST(PackResourcesTest, RewriteRefusesWhatItCannotRewriteFaithfully) {
  // The resource data inside the headers, where the rewritten section would overwrite them.
  Pe inHeaders;
  inHeaders.pe = 0x10000;
  inHeaders.fileAlignment = 1;
  inHeaders.sections = {{".rsrc", 0x1000, 0x10, 0x40, 0x10, kEmptyFolder}};
  inHeaders.directories = {{2, 0x1000}};
  // .data listed before the resources, its data between them and .reloc.
  Pe between = threeSections();
  between.sections.insert(between.sections.begin() + 1, Sec{".data", 0x1800, 0x10, 0xA00, 0x200, "data"});
  between.sections[3].rawPointer = 0xC00;
  Pe intoReloc = threeSections();
  intoReloc.directories.push_back({6, 0x3004});  // debug directory inside .reloc
  Pe intoResources = threeSections();
  intoResources.directories.push_back({12, 0x2008});  // import address table inside .rsrc
  std::string trailing = threeSections().bytes() + "symbols";
  VersionInfo info;
  info.strings["ProductName"] = "x";
  ResourceChanges changes;
  changes.version = &info;
  EXPECT_REFUSED(rewriteResources(inHeaders.bytes(), changes), "does not lie between its headers and the end of the file");
  EXPECT_REFUSED(rewriteResources(between.bytes(), changes), "section \".data\" lies after its resources");
  EXPECT_REFUSED(rewriteResources(intoReloc.bytes(), changes), "data directory 6 points into the section that moves");
  EXPECT_REFUSED(rewriteResources(intoResources.bytes(), changes), "data directory 12 points into the section that moves");
  EXPECT_REFUSED(rewriteResources(trailing, changes), "data after its last section");
}

TEST(PackResourcesTest, RewriteKeepsChecksumSizesAndRelocationsTrue) {
  Pe pe = threeSections();
  pe.checksum = 0x1234;
  std::string stub = pe.bytes();
  VersionInfo info;
  info.strings = {{"ProductName", "Pathmere"}, {"FileVersion", "1.2.3.4"}};
  info.fileVersion = "1.2.3.4";
  ResourceChanges changes;
  changes.version = &info;
  std::string out = rewriteResources(stub, changes);
  std::size_t opt = 0x80 + 24, rsrc = opt + 224 + 40, reloc = rsrc + 40;
  uint32_t rawSize = get(out, rsrc + 16, 4);
  EXPECT_EQ(get(out, opt + 8, 4), 0x1000 - 0x400 + rawSize);  // SizeOfInitializedData follows the section
  EXPECT_EQ(get(out, reloc + 20, 4), 0x600 + rawSize);
  EXPECT_EQ(get(out, opt + 96 + 8 * 5, 4), get(out, reloc + 12, 4));
  EXPECT_EQ(out.substr(0x600 + rawSize, 12), stub.substr(0xA00, 12));
  PeChecksum checksum(opt + 64);
  checksum.addBytes(0, out.data(), out.size());
  EXPECT_EQ(get(out, opt + 64, 4), checksum.sumFor(out.size()));
  ResourceView view = readResources(out);
  EXPECT_EQ(view.versionStrings["ProductName"], "Pathmere");
  EXPECT_EQ(view.fileVersion, "1.2.3.4");
}

TEST(PackResourcesTest, PeChecksumIsTheFoldedWordSumPlusLength) {
  std::string bytes;
  for (int i = 0; i < 1001; ++i) bytes.push_back(static_cast<char>(0xF7 * i + 3));
  // The documented form: fold after every 16-bit word, the field's four bytes counted as zero.
  uint32_t expected = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    uint32_t word = static_cast<uint8_t>(bytes[i]) | (i + 1 < bytes.size() ? static_cast<uint8_t>(bytes[i + 1]) << 8 : 0);
    if (i >= 100 && i < 104) word = 0;
    expected += word;
    expected = (expected & 0xFFFF) + (expected >> 16);
  }
  expected += static_cast<uint32_t>(bytes.size());
  PeChecksum whole(100), pieces(100);
  whole.addBytes(0, bytes.data(), bytes.size());
  // In pieces at odd positions, out of order, as the media writer patches its header last.
  pieces.addBytes(501, bytes.data() + 501, 500);
  pieces.addBytes(0, bytes.data(), 101);
  pieces.addBytes(101, bytes.data() + 101, 400);
  EXPECT_EQ(whole.sumFor(bytes.size()), expected);
  EXPECT_EQ(pieces.sumFor(bytes.size()), expected);
}

TEST(PackResourcesTest, VersionWalkFollowsOnlyBlocksInsideTheirParent) {
  // A string block that claims to run past its table is not the table's.
  std::string strayString = block(u"ProductName", std::u16string(u"Stray") + u'\0');
  std::string table = block(u"040904b0", u"", block(u"CompanyName", std::u16string(u"Orvanta") + u'\0') + strayString);
  put(table, 0, static_cast<uint32_t>(table.size() - strayString.size() + 8), 2);  // ends inside the stray block
  std::string version = block(u"VS_VERSION_INFO", u"", block(u"StringFileInfo", u"", table) + std::string(64, '\0'));
  ResourceView view = readResources(withResources(versionSection(version)));
  EXPECT_EQ(view.versionStrings["CompanyName"], "Orvanta");
  EXPECT_EQ(view.versionStrings.count("ProductName"), 0u);

  // 1 KiB of blocks where every long block runs to the end and every short one's only child is
  // long: followed past their parents, offsets are reached along 2^60 paths.
  std::string tiles(1024, '\0');
  for (std::size_t at = 0; at < tiles.size(); at += 8) put(tiles, at, at == 0 ? 1024 : at % 16 ? 1024 - at : 16, 2);
  view = readResources(withResources(versionSection(tiles)));
  EXPECT_TRUE(view.versionStrings.empty());
}

TEST(PackResourcesTest, TreeReaderBoundsFoldersNamesAndEntries) {
  // Many entries pointing at one folder of many entries, which points at an empty folder.
  std::string shared;
  folder(shared, 0, 2000, 0x80000000 | (16 + 8 * 2000));
  folder(shared, 16 + 8 * 2000, 2000, 0x80000000 | (32 + 16 * 2000));
  folder(shared, 32 + 16 * 2000, 0, 0);
  // One type entry named by a string of 300 characters.
  std::string named;
  folder(named, 0, 1, 0x80000018);
  put(named, 16, 0x80000028, 4);
  folder(named, 24, 0, 0);
  named.resize(40 + 2 + 600, 'a');
  put(named, 40, 300, 2);
  EXPECT_REFUSED(readResources(withResources(shared)), "a folder reached twice");
  EXPECT_REFUSED(readResources(withResources(named)), "longer than 256 characters");
}

TEST(PackResourcesTest, DamagedFilesAreProblemsNotAborts) {
  std::string stub = threeSections().bytes();
  // The section table past the end of what inspect reads of the image.
  std::string cut = stub.substr(0, 0x80 + 24 + 224 + 20);
  // A resource whose data lies in the section as declared, but past the end of the file.
  std::string section = versionSection(std::string(8, '\0'));
  put(section, 72, 0x2000 + 0x300, 4);
  std::string beyond = withResources(section);
  put(beyond, 0x80 + 24 + 224 + 16, 0x400, 4);  // raw size runs past the file's end
  for (const std::string& image : {cut, beyond}) EXPECT_THROW(readResources(image), PackError);
}

TEST(PackResourcesTest, IconAndVersionTextsThatDoNotFitAreRefused) {
  // 300 entries naming one image of 64 KiB: 19 MiB of icons from a 69 KB file.
  std::string ico(6 + 16 * 300, '\0');
  put(ico, 2, 1, 2);
  put(ico, 4, 300, 2);
  for (std::size_t i = 0; i < 300; ++i) {
    put(ico, 6 + 16 * i + 8, 0x10000, 4);
    put(ico, 6 + 16 * i + 12, static_cast<uint32_t>(6 + 16 * 300), 4);
  }
  ico.resize(ico.size() + 0x10000, '\x11');
  ResourceChanges changes;
  changes.icon = &ico;
  EXPECT_REFUSED(rewriteResources(threeSections().bytes(), changes), "--icon: its images come to more than 16 MiB");
  const std::string longText(40000, 'x'), partText(9000, 'x');
  VersionInfo info;
  EXPECT_REFUSED(parseVersionInfo(R"({"versionInfo": {"productName": ")" + longText + "\"}}", info),
                 "\"versionInfo\": \"productName\" is too long");
  std::string four = R"({"versionInfo": {"companyName": "T", "productName": "T", "legalCopyright": "T", "fileDescription": "T"}})";
  for (std::size_t at = four.find('T'); at != std::string::npos; at = four.find('T', at + partText.size())) {
    four.replace(at, 1, partText);
  }
  EXPECT_REFUSED(parseVersionInfo(four, info), "\"versionInfo\": the strings together are too long");
}
}  // namespace
