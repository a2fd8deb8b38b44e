#include "pack/pack_resources.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <nlohmann/json.hpp>

#include "pack/pack_config.h"
#include "pack/pack_media.h"

namespace {
constexpr uint32_t kIcon = 3, kGroupIcon = 14, kVersion = 16;
constexpr uint16_t kEnglishUs = 0x0409;

struct Key {
  bool named = false;
  uint32_t id = 0;
  std::u16string name;
  // Windows wants named entries first, then ids in ascending order.
  bool operator<(const Key& other) const {
    if (named != other.named) return named;
    return named ? name < other.name : id < other.id;
  }
};
Key idKey(uint32_t id) { return Key{false, id, {}}; }

struct Leaf {
  std::string data;
  uint32_t codePage = 0;
};
using Languages = std::map<Key, Leaf>;
using Names = std::map<Key, Languages>;
using Tree = std::map<Key, Names>;

uint32_t loadLE(const std::string& bytes, std::size_t at, int width) {
  if (at > bytes.size() || bytes.size() - at < static_cast<std::size_t>(width)) throw PackError("the PE image is cut short");
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}
void storeLE(std::string& bytes, std::size_t at, uint32_t value, int width) {
  // Every position written is derived from the input; one computed wrong must not write past it.
  if (at > bytes.size() || bytes.size() - at < static_cast<std::size_t>(width)) throw PackError("a write outside the image");
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}
void appendLE(std::string& bytes, uint32_t value, int width) {
  bytes.append(width, '\0');
  storeLE(bytes, bytes.size() - width, value, width);
}
uint64_t alignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// What a resource section may hold: far more than any stub needs, little enough that every sum
// below stays exact in 32 bits.
constexpr uint64_t kMaxSectionSize = 256u << 20;
constexpr uint64_t kMaxIconBytes = 16u << 20;
constexpr uint64_t kMaxEntries = 65536, kMaxNameLength = 256, kMaxNameCharacters = 1u << 20;
constexpr unsigned kMaxVersionBlocks = 4096;

bool allZero(const std::string& bytes, uint64_t from, uint64_t to) {
  to = std::min<uint64_t>(to, bytes.size());
  for (uint64_t i = from; i < to; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

struct Section {
  std::size_t header;  // file position of its table entry
  std::string name;
  uint32_t virtualSize, virtualAddress, rawSize, rawPointer, characteristics;
  uint64_t rawEnd() const { return uint64_t(rawPointer) + rawSize; }
  bool holds(uint32_t rva) const {
    return rva >= virtualAddress && rva - virtualAddress < std::max(virtualSize, rawSize);
  }
};

// An image without the headers that locate resources: inspect shows none, build refuses it.
struct NotAnImage : PackError {
  using PackError::PackError;
};

struct Image {
  std::size_t optional = 0, directories = 0, tableEnd = 0;
  uint32_t sectionAlignment = 0, fileAlignment = 0, directoryCount = 0, sizeOfHeaders = 0;
  std::vector<Section> sections;

  explicit Image(const std::string& bytes) {
    auto header = [&](std::size_t at, int width) {
      if (at > bytes.size() || bytes.size() - at < static_cast<std::size_t>(width)) throw NotAnImage("not a PE image");
      return loadLE(bytes, at, width);
    };
    if (header(0, 2) != 0x5A4D) throw NotAnImage("not a PE image");
    std::size_t pe = header(60, 4);
    if (header(pe, 4) != 0x4550) throw NotAnImage("not a PE image");
    uint32_t count = header(pe + 6, 2), optionalSize = header(pe + 20, 2);
    optional = pe + 24;
    uint32_t magic = header(optional, 2);
    if (magic != 0x10b && magic != 0x20b) throw NotAnImage("neither a PE32 nor a PE32+ image");
    sectionAlignment = loadLE(bytes, optional + 32, 4);
    fileAlignment = loadLE(bytes, optional + 36, 4);
    sizeOfHeaders = loadLE(bytes, optional + 60, 4);
    std::size_t countField = optional + (magic == 0x10b ? 92 : 108);
    directoryCount = loadLE(bytes, countField, 4);
    directories = countField + 4;
    // Directories beyond the optional header would be read from the section table.
    std::size_t room = optional + optionalSize > directories ? (optional + optionalSize - directories) / 8 : 0;
    directoryCount = static_cast<uint32_t>(std::min<std::size_t>(directoryCount, room));
    if (fileAlignment == 0 || sectionAlignment == 0) throw NotAnImage("an image without alignments");
    std::size_t table = optional + optionalSize;
    tableEnd = table + std::size_t(40) * count;
    if (tableEnd > bytes.size()) throw PackError("the section table runs past the end of the file");
    for (uint32_t i = 0; i < count; ++i) {
      std::size_t at = table + 40 * i;
      std::string name;
      for (std::size_t c = 0; c < 8 && bytes[at + c] != '\0'; ++c) name.push_back(bytes[at + c]);
      sections.push_back({at, name, loadLE(bytes, at + 8, 4), loadLE(bytes, at + 12, 4), loadLE(bytes, at + 16, 4),
                          loadLE(bytes, at + 20, 4), loadLE(bytes, at + 36, 4)});
    }
  }
  uint32_t directoryRva(const std::string& bytes, uint32_t index) const {
    return index < directoryCount ? loadLE(bytes, directories + 8 * index, 4) : 0;
  }
  int sectionOf(uint32_t rva) const {
    for (std::size_t i = 0; i < sections.size(); ++i) {
      if (sections[i].holds(rva)) return static_cast<int>(i);
    }
    return -1;
  }
  std::size_t checksumField() const { return optional + 64; }
};

// Reads the three levels (type, name, language) of a resource section; positions are checked
// against the section's bytes in the file, and the fixed depth keeps a looping directory from
// recursing. A linker writes each folder once: one reached again is refused, so that entries
// pointing at shared folders cannot multiply the work, and all entries together are budgeted.
class TreeReader {
 public:
  TreeReader(const std::string& bytes, const Section& section) : bytes_(bytes), section_(section) {
    // Only what the file holds of the section can be read.
    uint64_t inFile = section.rawPointer < bytes.size() ? bytes.size() - section.rawPointer : 0;
    extent_ = static_cast<uint32_t>(std::min<uint64_t>(section.rawSize, inFile));
  }

  Tree read() {
    Tree tree;
    uint64_t total = 0;
    for (const auto& [type, typeDir] : entries(0, true)) {
      for (const auto& [name, nameDir] : entries(typeDir, true)) {
        for (const auto& [language, leaf] : entries(nameDir, false)) {
          uint32_t rva = at(leaf, 4), size = at(leaf + 4, 4);
          if (rva < section_.virtualAddress || rva - section_.virtualAddress > extent_ ||
              size > extent_ - (rva - section_.virtualAddress)) {
            throw PackError("a resource lies outside the resource section");
          }
          // Leaves may share data: bound what a hostile file can make us copy.
          total += size;
          if (total > (64u << 20)) throw PackError("a resource directory with too many entries");
          tree[type][name][language] =
              Leaf{bytes_.substr(section_.rawPointer + std::size_t(rva - section_.virtualAddress), size), at(leaf + 8, 4)};
        }
      }
    }
    return tree;
  }

 private:
  uint32_t at(uint64_t offset, int width) const {
    if (offset > extent_ || extent_ - offset < static_cast<uint32_t>(width)) throw PackError("a damaged resource directory");
    return loadLE(bytes_, section_.rawPointer + offset, width);
  }
  std::vector<std::pair<Key, uint32_t>> entries(uint32_t dir, bool subdirectories) {
    if (!folders_.insert(dir).second) throw PackError("a damaged resource directory (a folder reached twice)");
    uint32_t count = at(uint64_t(dir) + 12, 2) + at(uint64_t(dir) + 14, 2);
    visited_ += count;
    if (visited_ > kMaxEntries) throw PackError("a resource directory with too many entries");
    std::vector<std::pair<Key, uint32_t>> out;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t name = at(uint64_t(dir) + 16 + 8 * i, 4), target = at(uint64_t(dir) + 20 + 8 * i, 4);
      if (((target >> 31) != 0) != subdirectories) throw PackError("a damaged resource directory");
      Key key = idKey(name & 0xFFFF);
      if (name >> 31) {
        uint32_t text = name & 0x7FFFFFFF, length = at(text, 2);
        nameCharacters_ += length;
        if (length > kMaxNameLength || nameCharacters_ > kMaxNameCharacters) {
          throw PackError("a resource name longer than " + std::to_string(kMaxNameLength) + " characters");
        }
        key = Key{true, 0, {}};
        for (uint32_t c = 0; c < length; ++c) key.name.push_back(static_cast<char16_t>(at(uint64_t(text) + 2 + 2 * c, 2)));
      }
      out.emplace_back(key, target & 0x7FFFFFFF);
    }
    return out;
  }
  const std::string& bytes_;
  const Section& section_;
  uint32_t extent_ = 0;
  std::set<uint32_t> folders_;
  uint64_t visited_ = 0, nameCharacters_ = 0;
};

std::string writeTree(const Tree& tree, uint32_t sectionRva) {
  auto dirSize = [](std::size_t n) { return 16 + 8 * uint64_t(n); };
  uint64_t dirs = dirSize(tree.size()), leaves = 0, strings = 0, data = 0;
  for (const auto& [type, names] : tree) {
    dirs += dirSize(names.size());
    for (const auto& [name, languages] : names) dirs += dirSize(languages.size());
  }
  auto stringsOf = [&](const Key& key) {
    if (key.named) strings += 2 + 2 * uint64_t(key.name.size());
  };
  for (const auto& [type, names] : tree) {
    stringsOf(type);
    for (const auto& [name, languages] : names) {
      stringsOf(name);
      for (const auto& [language, leaf] : languages) {
        stringsOf(language);
        leaves += 16;
        data += alignUp(leaf.data.size(), 8);
      }
    }
  }
  uint64_t stringStart = dirs, leafStart = alignUp(stringStart + strings, 8), dataStart = leafStart + leaves;
  if (dataStart + data > kMaxSectionSize || sectionRva + dataStart + data > 0xFFFFFFFFu) {
    throw PackError("the resources would need " + std::to_string(dataStart + data) + " bytes, more than a resource section holds");
  }
  std::string out(dataStart + data, '\0');
  uint32_t nextDir = 0, nextString = static_cast<uint32_t>(stringStart), nextLeaf = static_cast<uint32_t>(leafStart),
           nextData = static_cast<uint32_t>(dataStart);
  auto keyField = [&](const Key& key) {
    if (!key.named) return key.id;
    uint32_t offset = nextString;
    storeLE(out, offset, static_cast<uint32_t>(key.name.size()), 2);
    for (std::size_t c = 0; c < key.name.size(); ++c) storeLE(out, offset + 2 + 2 * c, key.name[c], 2);
    nextString += 2 + 2 * static_cast<uint32_t>(key.name.size());
    return offset | 0x80000000u;
  };
  // A directory of the map's entries, each pointing at what writeChild wrote for its value;
  // directories are laid out in the order they are reached, depth first.
  auto writeDirectory = [&](const auto& map, auto writeChild) {
    uint32_t dir = nextDir;
    nextDir += dirSize(map.size());
    uint32_t named = static_cast<uint32_t>(std::count_if(map.begin(), map.end(), [](const auto& e) { return e.first.named; }));
    storeLE(out, dir + 12, named, 2);
    storeLE(out, dir + 14, static_cast<uint32_t>(map.size()) - named, 2);
    uint32_t index = 0;
    for (const auto& [key, child] : map) {
      storeLE(out, dir + 16 + 8 * index, keyField(key), 4);
      storeLE(out, dir + 20 + 8 * index++, writeChild(child), 4);
    }
    return dir | 0x80000000u;
  };
  auto writeLeaf = [&](const Leaf& leaf) {
    uint32_t at = nextLeaf;
    storeLE(out, at, sectionRva + nextData, 4);
    storeLE(out, at + 4, static_cast<uint32_t>(leaf.data.size()), 4);
    storeLE(out, at + 8, leaf.codePage, 4);
    if (leaf.data.size() > out.size() - nextData) throw PackError("a write outside the image");
    std::memcpy(&out[nextData], leaf.data.data(), leaf.data.size());
    nextLeaf += 16;
    nextData += static_cast<uint32_t>(alignUp(leaf.data.size(), 8));
    return at;
  };
  writeDirectory(tree, [&](const Names& names) {
    return writeDirectory(names, [&](const Languages& languages) { return writeDirectory(languages, writeLeaf); });
  });
  return out;
}

// The configuration's names of the version strings, and the names Windows shows.
const std::map<std::string, std::string>& versionNames() {
  static const std::map<std::string, std::string> kNames = {
      {"productName", "ProductName"}, {"companyName", "CompanyName"},       {"fileDescription", "FileDescription"},
      {"fileVersion", "FileVersion"}, {"productVersion", "ProductVersion"}, {"legalCopyright", "LegalCopyright"}};
  return kNames;
}

// One node of a version resource: length, value length, type, key, value, children, each
// aligned to 32 bits. Lengths are 16-bit: what does not fit is refused, naming what (in the
// configuration's terms) made it too long.
std::string versionBlock(const std::u16string& key, const std::string& value, uint16_t valueLength, bool text,
                         const std::vector<std::string>& children, const std::string& what) {
  std::string out(6, '\0');
  for (char16_t c : key + u'\0') appendLE(out, c, 2);
  out.resize(alignUp(out.size(), 4), '\0');
  out += value;
  for (const std::string& child : children) {
    out.resize(alignUp(out.size(), 4), '\0');
    out += child;
  }
  if (out.size() > 0xFFFF) {
    throw PackError("\"versionInfo\": " + what + " too long: a version resource holds at most 65535 bytes");
  }
  storeLE(out, 0, static_cast<uint32_t>(out.size()), 2);
  storeLE(out, 2, valueLength, 2);
  storeLE(out, 4, text ? 1 : 0, 2);
  return out;
}

void parseVersion(const std::string& text, uint32_t& high, uint32_t& low) {
  uint32_t parts[4] = {0, 0, 0, 0};
  std::size_t index = 0, start = 0;
  bool ok = !text.empty();
  while (ok && start <= text.size() && index < 4) {
    std::size_t end = std::min(text.find('.', start), text.size());
    std::string part = text.substr(start, end - start);
    ok = !part.empty() && part.size() <= 5 && std::all_of(part.begin(), part.end(), ::isdigit) && std::stoul(part) <= 0xFFFF;
    if (ok) parts[index++] = static_cast<uint32_t>(std::stoul(part));
    start = end + 1;
    if (end == text.size()) break;
  }
  if (!ok || start <= text.size()) throw PackError("\"versionInfo\": \"" + text + "\" is not a version of one to four numbers up to 65535");
  high = parts[0] << 16 | parts[1];
  low = parts[2] << 16 | parts[3];
}

std::string versionResource(const VersionInfo& info) {
  std::string fixed;
  uint32_t fileHigh = 0, fileLow = 0, productHigh = 0, productLow = 0;
  if (!info.fileVersion.empty()) parseVersion(info.fileVersion, fileHigh, fileLow);
  if (!info.productVersion.empty()) parseVersion(info.productVersion, productHigh, productLow);
  for (uint32_t value : {0xFEEF04BDu, 0x00010000u, fileHigh, fileLow, productHigh, productLow, 0x3Fu, 0u, 0x40004u, 1u, 0u,
                         0u, 0u}) {
    appendLE(fixed, value, 4);
  }
  std::vector<std::string> strings;
  for (const auto& [name, value] : info.strings) {
    std::u16string wide = utf8ToUtf16(value) + u'\0';
    std::string bytes;
    for (char16_t c : wide) appendLE(bytes, c, 2);
    std::string member = name;
    for (const auto& [configName, windowsName] : versionNames()) {
      if (windowsName == name) member = configName;
    }
    strings.push_back(versionBlock(utf8ToUtf16(name), bytes, static_cast<uint16_t>(std::min<std::size_t>(wide.size(), 0xFFFF)),
                                   true, {}, "\"" + member + "\" is"));
  }
  std::string translation;
  appendLE(translation, kEnglishUs, 2);
  appendLE(translation, 1200, 2);
  const std::string together = "the strings together are";
  std::string table = versionBlock(u"040904b0", "", 0, true, strings, together);
  std::string stringInfo = versionBlock(u"StringFileInfo", "", 0, true, {table}, together);
  std::string var = versionBlock(u"Translation", translation, 4, false, {}, together);
  std::string varInfo = versionBlock(u"VarFileInfo", "", 0, true, {var}, together);
  return versionBlock(u"VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), false, {stringInfo, varInfo}, together);
}

// An .ico file as the icons and the group entry that names them (ids from firstId on).
void replaceIcons(Tree& tree, const std::string& ico) {
  if (ico.size() < 6 || loadLE(ico, 0, 2) != 0 || loadLE(ico, 2, 2) != 1 || loadLE(ico, 4, 2) == 0) {
    throw PackError("--icon: not an .ico file");
  }
  uint32_t count = loadLE(ico, 4, 2);
  if (ico.size() < 6 + 16 * count) throw PackError("--icon: the icon directory is cut short");
  Key language = idKey(kEnglishUs);
  std::vector<Key> groups;
  for (const auto& [name, languages] : tree[idKey(kGroupIcon)]) groups.push_back(name);
  if (groups.empty()) groups.push_back(idKey(1));
  if (!tree[idKey(kGroupIcon)].empty() && !tree[idKey(kGroupIcon)].begin()->second.empty()) {
    language = tree[idKey(kGroupIcon)].begin()->second.begin()->first;
  }
  tree.erase(idKey(kIcon));
  std::string group(6, '\0');
  storeLE(group, 2, 1, 2);
  storeLE(group, 4, count, 2);
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    std::size_t entry = 6 + 16 * i;
    uint32_t size = loadLE(ico, entry + 8, 4), offset = loadLE(ico, entry + 12, 4);
    if (offset > ico.size() || ico.size() - offset < size || size == 0) throw PackError("--icon: an image lies outside the file");
    // Entries may name the same image: it is the copies that count.
    total += size;
    if (total > kMaxIconBytes) {
      throw PackError("--icon: its images come to more than " + std::to_string(kMaxIconBytes >> 20) + " MiB");
    }
    tree[idKey(kIcon)][idKey(i + 1)][language] = Leaf{ico.substr(offset, size), 0};
    group += ico.substr(entry, 12);
    appendLE(group, i + 1, 2);
  }
  for (const Key& name : groups) tree[idKey(kGroupIcon)][name] = Languages{{language, Leaf{group, 0}}};
}

}  // namespace

bool parseVersionInfo(const std::string& configJson, VersionInfo& info) {
  using Json = nlohmann::ordered_json;
  Json root = Json::parse(configJson, nullptr, false, true);
  if (!root.is_object() || !root.contains("versionInfo")) return false;
  const Json& object = root["versionInfo"];
  if (!object.is_object()) throw PackError("\"versionInfo\" must be a JSON object");
  const std::map<std::string, std::string>& kNames = versionNames();
  for (const auto& [key, value] : object.items()) {
    auto known = kNames.find(key);
    if (known == kNames.end()) throw PackError("\"versionInfo\" has an unknown member \"" + key + "\"");
    if (!value.is_string()) throw PackError("\"versionInfo\": \"" + key + "\" must be a JSON string");
    info.strings[known->second] = value.get<std::string>();
  }
  info.fileVersion = info.strings.count("FileVersion") ? info.strings["FileVersion"] : "";
  info.productVersion = info.strings.count("ProductVersion") ? info.strings["ProductVersion"] : "";
  uint32_t high, low;
  for (const std::string* version : {&info.fileVersion, &info.productVersion}) {
    if (!version->empty()) parseVersion(*version, high, low);
  }
  versionResource(info);  // refuses here, before the stub is read, what a version resource cannot hold
  return true;
}

std::string rewriteResources(const std::string& bytes, const ResourceChanges& changes) {
  Image image(bytes);
  uint32_t resourceRva = image.directoryRva(bytes, 2);
  int index = resourceRva ? image.sectionOf(resourceRva) : -1;
  int last = static_cast<int>(image.sections.size()) - 1;
  if (index < 0) throw PackError("the stub has no resource section");
  bool relocAfter = index == last - 1 && image.sections[last].name == ".reloc";
  if (index != last && !relocAfter) {
    throw PackError("the stub's resources are not in its last section (nor followed only by .reloc): they cannot be rewritten");
  }
  // The file alignment pads the new section: a linker's is a power of two up to 64 KiB.
  auto powerOfTwo = [](uint32_t value) { return value != 0 && (value & (value - 1)) == 0; };
  if (!powerOfTwo(image.fileAlignment) || image.fileAlignment > 0x10000 || !powerOfTwo(image.sectionAlignment) ||
      image.sectionAlignment < image.fileAlignment) {
    throw PackError("the stub's alignments are not powers of two, the file's at most 65536 and the sections' at least as large");
  }
  const Section resources = image.sections[index];
  if (resourceRva != resources.virtualAddress) throw PackError("the stub's resource directory does not open its section");
  // The section is cut off and written anew, growing into the file and into memory: everything
  // else must lie before it, in the file and in memory, or be the .reloc that moves behind it.
  if (resources.rawPointer < std::max<uint64_t>(image.tableEnd, image.sizeOfHeaders) || resources.rawEnd() > bytes.size()) {
    throw PackError("the stub's resource section does not lie between its headers and the end of the file");
  }
  for (int i = 0; i < static_cast<int>(image.sections.size()); ++i) {
    const Section& other = image.sections[i];
    if (i == index || (relocAfter && i == last)) continue;
    if ((other.rawSize != 0 && other.rawEnd() > resources.rawPointer) ||
        uint64_t(other.virtualAddress) + std::max(other.virtualSize, other.rawSize) > resources.virtualAddress) {
      throw PackError("the stub's section \"" + other.name + "\" lies after its resources: they cannot be rewritten");
    }
  }
  const Section* reloc = relocAfter ? &image.sections[last] : nullptr;
  uint64_t keptEnd = resources.rawEnd();
  if (reloc) {
    if (reloc->rawPointer < resources.rawEnd() || reloc->rawEnd() > bytes.size() ||
        reloc->virtualAddress < uint64_t(resources.virtualAddress) + std::max(resources.virtualSize, resources.rawSize)) {
      throw PackError("the stub's .reloc does not follow its resources");
    }
    if (!allZero(bytes, resources.rawEnd(), reloc->rawPointer)) {
      throw PackError("the stub holds data between its resources and its .reloc: it cannot be rewritten");
    }
    keptEnd = reloc->rawEnd();
  }
  if (!allZero(bytes, keptEnd, bytes.size())) throw PackError("the stub holds data after its last section: it cannot be rewritten");
  // Only the resource and relocation directories are moved; any other pointing at or beyond the
  // resources would be left pointing at something else.
  for (uint32_t d = 0; d < image.directoryCount; ++d) {
    uint32_t rva = image.directoryRva(bytes, d);
    if (d == 2 || d == 4 || rva == 0) continue;  // 4, the signature, holds a file position
    if (rva >= resources.virtualAddress && !(reloc && d == 5 && reloc->holds(rva))) {
      throw PackError("the stub's data directory " + std::to_string(d) + " points into the section that moves");
    }
  }

  Tree tree = TreeReader(bytes, resources).read();
  if (changes.icon) replaceIcons(tree, *changes.icon);
  if (changes.version) {
    tree.erase(idKey(kVersion));
    tree[idKey(kVersion)][idKey(1)][idKey(kEnglishUs)] = Leaf{versionResource(*changes.version), 0};
  }
  std::string section = writeTree(tree, resources.virtualAddress);
  uint64_t rawSize = alignUp(section.size(), image.fileAlignment);
  uint64_t end = uint64_t(resources.virtualAddress) + alignUp(section.size(), image.sectionAlignment);
  uint64_t relocSize = reloc ? alignUp(reloc->virtualSize, image.sectionAlignment) : 0;
  if (resources.rawPointer + rawSize + (reloc ? reloc->rawSize : 0) > 0xFFFFFFFFu || end + relocSize > 0xFFFFFFFFu) {
    throw PackError("the rewritten stub would be too large");
  }
  std::string out = bytes.substr(0, resources.rawPointer) + section;
  out.resize(resources.rawPointer + rawSize, '\0');
  storeLE(out, resources.header + 8, static_cast<uint32_t>(section.size()), 4);
  storeLE(out, resources.header + 16, static_cast<uint32_t>(rawSize), 4);
  storeLE(out, image.directories + 8 * 2 + 4, static_cast<uint32_t>(section.size()), 4);
  if (reloc) {
    uint32_t relocRva = image.directoryRva(bytes, 5);
    uint32_t newAddress = static_cast<uint32_t>(end);
    out += bytes.substr(reloc->rawPointer, reloc->rawSize);
    storeLE(out, reloc->header + 12, newAddress, 4);
    storeLE(out, reloc->header + 20, static_cast<uint32_t>(resources.rawPointer + rawSize), 4);
    if (relocRva != 0 && reloc->holds(relocRva)) {
      storeLE(out, image.directories + 8 * 5, newAddress + (relocRva - reloc->virtualAddress), 4);
    }
    end += relocSize;
  }
  storeLE(out, image.optional + 56, static_cast<uint32_t>(end), 4);  // SizeOfImage
  if (resources.characteristics & 0x40) {  // initialized data: counted in SizeOfInitializedData
    int64_t initialized = int64_t(loadLE(bytes, image.optional + 8, 4)) + int64_t(rawSize) - int64_t(resources.rawSize);
    storeLE(out, image.optional + 8, static_cast<uint32_t>(std::clamp<int64_t>(initialized, 0, 0xFFFFFFFF)), 4);
  }
  // A checksum the stub carried stays true of the new image (0 means none was computed).
  if (loadLE(bytes, image.checksumField(), 4) != 0) {
    PeChecksum checksum(image.checksumField());
    checksum.addBytes(0, out.data(), out.size());
    storeLE(out, image.checksumField(), checksum.sumFor(out.size()), 4);
  }
  return out;
}

ResourceView readResources(const std::string& bytes) {
  ResourceView view;
  std::unique_ptr<Image> parsed;
  try {
    parsed = std::make_unique<Image>(bytes);
  } catch (const NotAnImage&) {
    return view;  // no optional header with data directories: nothing to show, no problem
  }
  const Image& image = *parsed;
  uint32_t rva = image.directoryRva(bytes, 2);
  int index = rva ? image.sectionOf(rva) : -1;
  if (index < 0) return view;
  Tree tree = TreeReader(bytes, image.sections[index]).read();
  auto first = [&](uint32_t type) -> const std::string* {
    auto names = tree.find(idKey(type));
    if (names == tree.end() || names->second.empty() || names->second.begin()->second.empty()) return nullptr;
    return &names->second.begin()->second.begin()->second.data;
  };
  if (const std::string* group = first(kGroupIcon)) {
    uint32_t count = group->size() < 6 ? 0 : loadLE(*group, 4, 2);
    if (group->size() < 6 + 14 * std::size_t(count)) throw PackError("a damaged icon group");
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t width = loadLE(*group, 6 + 14 * i, 1), height = loadLE(*group, 7 + 14 * i, 1), bits = loadLE(*group, 12 + 14 * i, 2);
      view.icons.push_back(std::to_string(width ? width : 256) + "x" + std::to_string(height ? height : 256) + " " +
                           std::to_string(bits) + "-bit");
    }
  }
  if (const std::string* version = first(kVersion)) {
    // Walks the blocks; strings are the leaves with type 1 under a string table. A child must
    // end inside its parent, so blocks nest and each starts where no other does; the count of
    // blocks is bounded as well.
    std::vector<std::pair<std::size_t, std::size_t>> pending;
    std::size_t rootLength = loadLE(*version, 0, 2);
    if (rootLength <= version->size()) pending.emplace_back(0, rootLength);
    std::set<std::size_t> seen;
    while (!pending.empty()) {
      auto [at, length] = pending.back();
      pending.pop_back();
      if (length < 6 || !seen.insert(at).second) continue;
      if (seen.size() > kMaxVersionBlocks) throw PackError("a version resource with too many blocks");
      std::size_t end = at + length;
      uint32_t valueLength = loadLE(*version, at + 2, 2), type = loadLE(*version, at + 4, 2);
      std::u16string key;
      std::size_t pos = at + 6;
      while (pos + 2 <= end && loadLE(*version, pos, 2) != 0) key.push_back(static_cast<char16_t>(loadLE(*version, pos, 2))), pos += 2;
      pos = alignUp(pos + 2, 4);
      std::size_t valueBytes = type == 1 ? 2 * std::size_t(valueLength) : valueLength;
      if (key == u"VS_VERSION_INFO" && valueLength >= 52 && pos + 52 <= end) {
        auto text = [&](std::size_t off) {
          uint32_t high = loadLE(*version, off, 4), low = loadLE(*version, off + 4, 4);
          return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." + std::to_string(low >> 16) + "." +
                 std::to_string(low & 0xFFFF);
        };
        view.fileVersion = text(pos + 8);
        view.productVersion = text(pos + 16);
      } else if (type == 1 && valueLength > 0 && pos + valueBytes <= end) {
        std::u16string value;
        for (std::size_t c = 0; c + 1 < valueLength; ++c) value.push_back(static_cast<char16_t>(loadLE(*version, pos + 2 * c, 2)));
        view.versionStrings[utf16ToUtf8(key)] = utf16ToUtf8(value);
        continue;
      }
      for (std::size_t child = alignUp(pos + valueBytes, 4); child + 6 <= end;) {
        std::size_t childLength = loadLE(*version, child, 2);
        if (childLength == 0 || child + childLength > end) break;
        pending.emplace_back(child, childLength);
        child = alignUp(child + childLength, 4);
      }
    }
  }
  return view;
}
