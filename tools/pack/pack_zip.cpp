#include "pack/pack_zip.h"

#include <algorithm>
#include <cstdint>

#include "pack/pack_config.h"

namespace {
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kEntrySignature = 0x02014b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kEntrySize = 46;
constexpr std::size_t kLongestComment = 0xFFFF;

uint32_t le(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}
}  // namespace

std::vector<std::string> zipEntryNames(ByteSource& source) {
  uint64_t size = source.byteLength();
  if (size < kEndSize) throw PackError("too short for a zip archive");
  // The end record sits at the end, followed only by an archive comment of at most 64 KiB.
  std::size_t tail = static_cast<std::size_t>(std::min<uint64_t>(size, kEndSize + kLongestComment));
  std::vector<uint8_t> end(tail);
  if (!source.bytesAt(size - tail, end.data(), tail)) throw PackError("cannot read the zip end record");
  std::size_t at = tail - kEndSize + 1;
  do {
    --at;
    if (le(&end[at], 4) == kEndSignature && at + kEndSize + le(&end[at + 20], 2) == tail) break;
  } while (at > 0);
  if (le(&end[at], 4) != kEndSignature) throw PackError("no zip end record");
  const uint8_t* record = &end[at];
  uint32_t entries = le(record + 10, 2);
  uint32_t directorySize = le(record + 12, 4);
  uint32_t directoryOffset = le(record + 16, 4);
  if (le(record + 4, 2) != 0 || le(record + 6, 2) != 0 || entries != le(record + 8, 2)) {
    throw PackError("a multi-disk zip archive");
  }
  if (entries == 0xFFFF || directoryOffset == 0xFFFFFFFF || directorySize == 0xFFFFFFFF) {
    throw PackError("a zip64 archive");
  }
  if (uint64_t(directoryOffset) + directorySize > size - tail + at) throw PackError("the zip directory lies outside the file");
  std::vector<uint8_t> directory(directorySize);
  if (directorySize && !source.bytesAt(directoryOffset, directory.data(), directorySize)) {
    throw PackError("cannot read the zip directory");
  }
  std::vector<std::string> names;
  std::size_t pos = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    if (directory.size() - pos < kEntrySize || le(&directory[pos], 4) != kEntrySignature) {
      throw PackError("a damaged zip directory");
    }
    std::size_t nameLength = le(&directory[pos + 28], 2);
    std::size_t rest = nameLength + le(&directory[pos + 30], 2) + le(&directory[pos + 32], 2);
    if (directory.size() - pos - kEntrySize < rest) throw PackError("a damaged zip directory");
    names.emplace_back(reinterpret_cast<const char*>(&directory[pos + kEntrySize]), nameLength);
    pos += kEntrySize + rest;
  }
  return names;
}

std::string mainClassProblem(const std::string& mainClass,
                             const std::vector<std::pair<std::string, ByteSource*>>& files) {
  if (mainClass.empty()) return "no main class (entry 122, mainClass): the launcher has no Java program to start";
  std::string classFile = mainClass;
  std::replace(classFile.begin(), classFile.end(), '.', '/');
  classFile += ".class";
  auto endsWith = [](const std::string& name, const char* suffix) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    std::string tail = suffix;
    return lower.size() >= tail.size() && lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
  };
  std::string unreadable;
  for (const auto& [name, source] : files) {
    if (endsWith(name, ".pack")) return "";
    if (!endsWith(name, ".jar") && !endsWith(name, ".zip")) continue;
    try {
      std::vector<std::string> names = zipEntryNames(*source);
      if (std::find(names.begin(), names.end(), classFile) != names.end()) return "";
    } catch (const PackError& e) {
      unreadable += "; " + name + " could not be read (" + e.what() + ")";
    }
  }
  return "the main class " + mainClass + " (" + classFile + ") is in none of the included jars" + unreadable;
}
