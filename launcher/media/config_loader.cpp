#include "media/config_loader.h"

#include <windows.h>

#include "base/errors.h"
#include "base/launch_flags.h"
#include "config/launcher_config.h"
#include "media/media_file.h"

std::string userLocaleCode() {
  const char* code = localeCodeForLcid(GetUserDefaultLCID());
  return code ? code : "";
}

int loadLauncherConfig(LaunchState& state) {
  FileHandle media = openMediaFile();
  MediaFileSource source(media.h);
  SourceReader reader(source, static_cast<uint64_t>(locateAppendedData(source)));
  // Checksum flag, stored checksum and checked length belong to the integrity check.
  MediaHeader header = readOrEnd([&] { return readMediaHeader(reader); });
  if (header.magic != kMediaMagic) fatalError("Internal Error: magic");
  ConfigRecord record = readOrEnd([&] { return readConfigRecord(reader); });
  std::string locale = userLocaleCode();
  applyConfigRecord(record, locale.empty() ? nullptr : locale.c_str(), g_config);
  state.configEnd = static_cast<int64_t>(reader.position());
  media.close();

  int executableType = config::executableType();
  if (executableType != 1 && executableType != 5) useConsoleErrors();
  return executableType;
}
