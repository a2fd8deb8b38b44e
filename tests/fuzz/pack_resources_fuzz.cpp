// Hostile stubs and icons handed to the packing tool's resource reader and writer: inspect's
// reading of an image must end with its view or a PackError; a rewrite either refuses or makes
// an image whose resources read back as written, whose PE checksum is true, and which a second
// rewrite leaves as it is.
// Input: one byte of flags (1 replaces the icon, 2 the version), the icon's length (4 bytes,
// little-endian), the icon, then the image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pack/pack_config.h"
#include "pack/pack_media.h"
#include "pack/pack_resources.h"

namespace {

uint32_t get32(const std::string& bytes, std::size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

bool readable(const std::string& image, ResourceView& view) {
  try {
    view = readResources(image);
    return true;
  } catch (const PackError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  unsigned flags = data[0];
  std::size_t iconLength = data[1] | data[2] << 8 | data[3] << 16 | uint32_t(data[4]) << 24;
  if (iconLength > size - 5) iconLength = size - 5;
  std::string icon(reinterpret_cast<const char*>(data) + 5, iconLength);
  std::string image(reinterpret_cast<const char*>(data) + 5 + iconLength, size - 5 - iconLength);

  ResourceView before;
  bool readBefore = readable(image, before);

  VersionInfo info;
  info.strings = {{"ProductName", flags & 4 ? "Pathmere \xC3\xBC" : ""}, {"FileVersion", "5.0.7.1"}};
  info.fileVersion = "5.0.7.1";
  ResourceChanges changes;
  if (flags & 1) changes.icon = &icon;
  if (flags & 2) changes.version = &info;
  std::string out;
  try {
    out = rewriteResources(image, changes);
  } catch (const PackError&) {
    return 0;
  }

  ResourceView after;
  // What could be read before can be read after; with both replaced, the rest was read to copy it.
  if (!readable(out, after)) {
    if (readBefore || ((flags & 3) == 3)) std::abort();
    return 0;
  }
  if ((flags & 2) && (after.versionStrings != info.strings || after.fileVersion != "5.0.7.1")) std::abort();
  if ((flags & 1) && after.icons.size() != (static_cast<uint8_t>(icon[4]) | static_cast<uint8_t>(icon[5]) << 8)) std::abort();
  if (!(flags & 3) && readBefore && (after.versionStrings != before.versionStrings || after.icons != before.icons)) std::abort();

  MemorySource source(out.data(), out.size());
  PeLayout layout;
  uint64_t field = 0;
  if (!readPeLayout(source, layout) || layout.appendedDataStart() != out.size()) std::abort();
  if (peChecksumField(source, layout, field) && get32(out, field) != 0) {
    PeChecksum checksum(field);
    checksum.addBytes(0, out.data(), out.size());
    if (checksum.sumFor(out.size()) != get32(out, field)) std::abort();
  }
  std::string again;
  try {
    again = rewriteResources(out, changes);
  } catch (const PackError&) {
    std::abort();
  }
  if (again != out) std::abort();
  return 0;
}
