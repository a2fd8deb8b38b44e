#include "runtime/pack200_archives.h"

namespace {
constexpr std::string_view kPackSuffix = ".pack";

std::string quoted(std::string_view path) { return "\"" + std::string(path) + "\""; }
}  // namespace

std::string unpackTargetPath(std::string_view packPath) {
  if (packPath.size() <= kPackSuffix.size() ||
      packPath.compare(packPath.size() - kPackSuffix.size(), kPackSuffix.size(), kPackSuffix) != 0) {
    return "";
  }
  return std::string(packPath.substr(0, packPath.size() - kPackSuffix.size()));
}

std::string unpack200CommandLine(std::string_view program, std::string_view packPath, std::string_view target) {
  return quoted(program) + " -r " + quoted(packPath) + " " + quoted(target);
}
