// Hostile bytes as a configuration record: the parser must refuse them with a reader failure,
// never crash, allocate without bound or hang.
#include <cstddef>
#include <cstdint>

#include "config/launcher_config.h"
#include "media/media_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BufferReader reader(data, size);
  try {
    ConfigRecord record = readConfigRecord(reader);
    LauncherConfig config;
    applyConfigRecord(record, "de_AT", config);
    std::string again = encodeConfigRecord(record);
    BufferReader second(reinterpret_cast<const uint8_t*>(again.data()), again.size());
    readConfigRecord(second);
  } catch (const MediaFormatError&) {
  }
  PeLayout layout;
  readPeLayout(data, size, layout);
  return 0;
}
