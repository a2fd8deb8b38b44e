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
  locateAppendedData(media.h);
  if (static_cast<uint32_t>(readInt(media.h)) != kMediaMagic) fatalError("Internal Error: magic");
  readInt(media.h);   // checksum flag, stored checksum and checked length belong to the
  readInt(media.h);   // integrity check
  readLong(media.h);
  MediaFileReader reader(media.h);
  ConfigRecord record = readConfigRecord(reader);
  std::string locale = userLocaleCode();
  applyConfigRecord(record, locale.empty() ? nullptr : locale.c_str(), g_config);
  state.configEnd = mediaFilePosition(media.h);
  media.close();

  int executableType = getConfigInt(entry::kExecutableType);
  if (executableType != 1 && executableType != 5) useConsoleErrors();
  return executableType;
}
