// Hostile configured texts of the runtime download: the progress format (message 20008) with
// any counts, and the archive's digest (entry 162). Composition must end, stay within a line per
// conversion, and show a text without conversions as written.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/download_transfer.h"

namespace {

uint32_t u32(const uint8_t* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is received, length and elapsed milliseconds (32 bits each, little-endian), then
  // the configured text as UTF-16LE.
  if (size < 12) return 0;
  uint32_t received = u32(data), length = u32(data + 4), elapsed = u32(data + 8);
  std::u16string format((size - 12) / 2, u'\0');
  for (std::size_t i = 0; i < format.size(); ++i) {
    format[i] = static_cast<char16_t>(data[12 + 2 * i] | (data[13 + 2 * i] << 8));
  }

  std::u16string line = formatDownloadProgress(format, received, length, elapsed);
  // Four conversions at most, each cut to the 255 characters of its buffer.
  if (line.size() > format.size() + 4 * 255) std::abort();
  if (format.find(u'%') == std::u16string::npos && line != format) std::abort();
  int position = downloadBarPosition(received, length);
  if (position < 0 || position > 100) std::abort();

  std::string narrow;
  for (char16_t c : format) narrow += static_cast<char>(c);
  Sha256Digest digest;
  if (parseSha256Hex(narrow, digest)) {
    std::string hex = sha256Hex(digest);
    std::string lower;
    for (char c : narrow) {
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (hex != lower) std::abort();
  }
  uint32_t timeout = receiveTimeoutMillis(narrow.c_str());
  if (timeout == 0 || timeout > kReceiveTimeoutMillis) std::abort();
  return 0;
}
