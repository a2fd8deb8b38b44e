// Hostile installers handed to the packing tool's inspect, verify and extract: the walk must end,
// never read outside the file, never place a file or the Java-side data past its end, and every
// text it reports must be valid UTF-8, since inspect --json prints it as JSON.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pack/pack_config.h"
#include "pack/pack_media.h"
#include "pack/pack_resources.h"

namespace {

bool validUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    static const char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

void checkText(const std::string& text) {
  if (!validUtf8(text)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource source(data, size);
  MediaInspection info;
  try {
    info = inspectMedia(source);
  } catch (const PackError& e) {
    checkText(e.what());
    return 0;
  }
  if (info.fileSize != size || info.configEnd > size) std::abort();
  if (info.recordRead) {
    for (const auto& entry : info.record.narrow) checkText(ansiToUtf8(entry.second));
    for (const auto& entry : info.record.wide) checkText(utf16ToUtf8(entry.second));
    for (const LanguageGroup& group : info.record.languages) {
      checkText(ansiToUtf8(group.code));
      for (const auto& entry : group.wide) checkText(utf16ToUtf8(entry.second));
    }
  }
  uint64_t end = info.configEnd;
  for (const IncludedFileEntry& file : info.files) {
    if (file.sizeOffset != end) std::abort();
    checkText(ansiToUtf8(file.name));
    end = file.sizeOffset + 8 + (file.size > 0 ? uint64_t(file.size) : 0);
    // Only the last entry walked may be the one that runs past the end.
    if (end > size && &file != &info.files.back()) std::abort();
  }
  if (info.filesWalked) {
    if (end > size || info.javaDataOffset != end) std::abort();
    if (info.unextractedPosition != (info.files.empty() ? 0 : end)) std::abort();
  }
  for (const std::string& problem : info.problems) checkText(problem);

  // inspect also shows the resources of the image before the appended data.
  try {
    ResourceView view = readResources(std::string(reinterpret_cast<const char*>(data), std::min<uint64_t>(info.appendedStart, size)));
    for (const auto& [name, value] : view.versionStrings) checkText(name), checkText(value);
  } catch (const PackError& e) {
    checkText(e.what());
  }

  VerifyResult verdict = verifyMedia(source);
  checkText(verdict.message);
  // A checked length that is negative or runs past the end of the file cannot verify.
  if (verdict.ok && info.header.checksumFlag != 0 && (!info.checkedLengthValid || info.trailingBytes < 0)) std::abort();
  return 0;
}
