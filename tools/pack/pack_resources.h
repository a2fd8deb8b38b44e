// The stub's Windows resources: its icon group and version resource replaced before the payload
// is appended, so that the checksum and a later signature cover the final image.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What Windows shows in the file's properties. Versions are "a[.b[.c[.d]]]".
struct VersionInfo {
  std::map<std::string, std::string> strings;  // "ProductName", "CompanyName", ... (UTF-8)
  std::string fileVersion, productVersion;
};

// Parses the configuration's "versionInfo" object (JSON text of the whole configuration);
// false when it has none. Throws PackError on unknown members or a malformed version.
bool parseVersionInfo(const std::string& configJson, VersionInfo& info);

struct ResourceChanges {
  const std::string* icon = nullptr;  // the bytes of an .ico file
  const VersionInfo* version = nullptr;
};

// The image with its resource section rebuilt. The resource section must be the last section,
// or be followed only by ".reloc", which moves behind it (its contents hold no position of its
// own). Throws PackError naming what stands in the way.
std::string rewriteResources(const std::string& image, const ResourceChanges& changes);

// What the image's resources say, for inspect: the version strings and fixed versions, and the
// icon sizes of the first icon group ("16x16 32-bit"). Empty when there are none.
struct ResourceView {
  std::map<std::string, std::string> versionStrings;
  std::string fileVersion, productVersion;
  std::vector<std::string> icons;
};
ResourceView readResources(const std::string& image);
