// Hostile bytes as a configuration record, a PE image and an included-file entry: the reader must
// refuse them with a reader failure, never crash, allocate without bound or hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "config/launcher_config.h"
#include "media/media_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource source(data, size);
  SourceReader reader(source, 0);
  try {
    ConfigRecord record = readConfigRecord(reader);
    LauncherConfig config;
    applyConfigRecord(record, "de_AT", config);
    std::string again = encodeConfigRecord(record);
    MemorySource encoded(again.data(), again.size());
    SourceReader second(encoded, 0);
    readConfigRecord(second);
  } catch (const MediaFormatError&) {
  }
  PeLayout layout;
  readPeLayout(source, layout);
  try {
    FileTableEntry entry = readFileTableEntry(source, 0);
    if (entry.withinSource && entry.end > size) std::abort();
  } catch (const MediaFormatError&) {
  }
  return 0;
}
