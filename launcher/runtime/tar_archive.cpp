#include "runtime/tar_archive.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "base/path_text.h"

namespace {

constexpr std::size_t kSizeOffset = 124;
constexpr std::size_t kSizeLength = 12;
constexpr std::size_t kTypeOffset = 156;
constexpr std::size_t kMagicOffset = 257;
// Large enough that a file costs few calls into zlib and the file system.
constexpr std::size_t kCopyBlock = 256 * 1024;

// Windows opens these as devices whatever directory or extension goes with them.
bool isDeviceName(std::string_view component) {
  std::string base = lowerAscii(component.substr(0, component.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

bool isOnlyDotsAndSpaces(std::string_view component) {
  return component.find_first_not_of(". ") == std::string_view::npos;
}

std::string parentOf(const std::string& path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::optional<uint64_t> parseOctalField(const char* text, std::size_t length) {
  std::size_t i = 0;
  while (i < length && (text[i] == ' ' || text[i] == '0')) ++i;
  uint64_t value = 0;
  for (; i < length && text[i] != '\0' && text[i] != ' '; ++i) {
    if (text[i] < '0' || text[i] > '7') return std::nullopt;
    if (value > (UINT64_MAX >> 3)) return std::nullopt;
    value = value * 8 + static_cast<uint64_t>(text[i] - '0');
  }
  return value;
}

TarHeader parseTarHeader(const unsigned char* block) {
  TarHeader header;
  const char* text = reinterpret_cast<const char*>(block);
  header.magic = std::memcmp(text + kMagicOffset, "ustar", 5) == 0;
  const void* end = std::memchr(text, '\0', kTarNameLength);
  header.name.assign(text, end ? static_cast<const char*>(end) - text : kTarNameLength);
  header.size = parseOctalField(text + kSizeOffset, kSizeLength);
  char type = text[kTypeOffset];
  header.type = type == '5' ? TarEntryType::Directory : type == '0' ? TarEntryType::File : TarEntryType::Other;
  return header;
}

std::optional<std::string> tarEntryPath(std::string_view name) {
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return std::nullopt;
  std::string path;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    std::string_view part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (isOnlyDotsAndSpaces(part) || isDeviceName(part)) return std::nullopt;
    for (char c : part) {
      if (static_cast<unsigned char>(c) < 0x20 || std::strchr(":*?\"<>|", c)) return std::nullopt;
    }
    if (!path.empty()) path += '\\';
    path += part;
  }
  return path;
}

int untarProgressPosition(uint64_t done, uint64_t total) {
  if (total == 0) return 100;
  if (done >= total) return 200;
  uint64_t percent = total > UINT64_MAX / 100 ? done / (total / 100) : done * 100 / total;
  return 100 + static_cast<int>(std::min<uint64_t>(percent, 99));
}

long TarReader::read(void* dst, std::size_t n) {
  auto* out = static_cast<unsigned char*>(dst);
  std::size_t got = 0;
  while (got < n) {
    unsigned ask = static_cast<unsigned>(std::min<std::size_t>(n - got, kCopyBlock));
    int r = input_.read(out + got, ask);
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
    position_ += static_cast<uint64_t>(r);
  }
  return static_cast<long>(got);
}

bool TarReader::skip(uint64_t n) {
  unsigned char scratch[4096];
  while (n > 0) {
    std::size_t ask = static_cast<std::size_t>(std::min<uint64_t>(n, sizeof scratch));
    long got = read(scratch, ask);
    if (got != static_cast<long>(ask)) return false;
    n -= ask;
  }
  return true;
}

bool extractTarEntry(TarReader& reader, TarOutput& output, const std::string& path, uint64_t size) {
  output.info("extracting " + path + " (size " + std::to_string(size) + ")");
  if (!output.openFile(path)) {
    output.error("Could not open file " + path);
    return false;
  }
  std::unique_ptr<unsigned char[]> block(new unsigned char[kCopyBlock]);
  uint64_t written = 0;
  bool streamError = false;
  while (written < size) {
    std::size_t ask = static_cast<std::size_t>(std::min<uint64_t>(kCopyBlock, size - written));
    long got = reader.read(block.get(), ask);
    if (got <= 0) break;
    if (!output.writeFile(block.get(), static_cast<std::size_t>(got))) {
      streamError = true;
      break;
    }
    written += static_cast<uint64_t>(got);
    output.progress(reader.position(), false);
    if (static_cast<std::size_t>(got) < ask) break;
  }
  if (streamError) {
    output.error("stream error");
    output.closeFile(false);
    return false;
  }
  if (written == size) {
    if (output.closeFile(true)) return true;
    output.error("stream error");
    return false;
  }
  output.error("sizes don't match: " + std::to_string(written) + ", " + std::to_string(size));
  output.closeFile(false);
  return false;
}

bool untarStream(TarInput& input, TarOutput& output) {
  TarReader reader(input);
  bool extracted = false;
  // Directories the archive has listed so far (lower case): a file may only go into one of them.
  std::set<std::string> listed;
  for (;;) {
    unsigned char block[kTarBlockSize];
    long got = reader.read(block, sizeof block);
    if (got < 0) {
      output.error("gzread failed");
      return false;
    }
    if (got == 0) {
      if (!extracted) output.error("unexpected eof");
      return extracted;
    }
    if (got < static_cast<long>(sizeof block)) {
      output.error("unexpected eof in a header");
      return false;
    }
    TarHeader header = parseTarHeader(block);
    if (!header.magic) {
      if (!extracted) output.error("no magic number");
      return extracted;
    }
    if (!header.size) {
      output.error("bad size field: " + header.name);
      return false;
    }
    uint64_t size = *header.size;
    if (header.type == TarEntryType::Other) {
      if (!reader.skip(size)) {
        output.error("gzseek 2 failed");
        return false;
      }
    } else {
      std::optional<std::string> path = tarEntryPath(header.name);
      if (!path || (header.type == TarEntryType::File && path->empty())) {
        output.error("refusing entry \"" + header.name + "\": it would leave the target directory");
        return false;
      }
      if (header.type == TarEntryType::Directory) {
        if (!path->empty()) output.createDirectory(*path);
        listed.insert(lowerAscii(*path));
        if (!reader.skip(size)) {
          output.error("gzseek 2 failed");
          return false;
        }
      } else {
        std::string parent = parentOf(*path);
        if (!parent.empty() && listed.count(lowerAscii(parent)) == 0) {
          output.error("directory of " + *path + " not listed before it");
          return false;
        }
        output.progress(reader.position(), true);
        if (!extractTarEntry(reader, output, *path, size)) {
          output.error("extract file failed");
          return false;
        }
        extracted = true;
      }
    }
    uint64_t rest = size % kTarBlockSize;
    if (rest != 0 && !reader.skip(kTarBlockSize - rest)) {
      output.error("gzseek 3 failed");
      return false;
    }
  }
}
