// A runtime whose large Java archives were shipped pack200-compressed: which archives, where
// each unpacks to, and how unpack200 is told to do it.
#pragma once
#include <array>
#include <string>
#include <string_view>

// Relative to the runtime home, in unpacking order. Each is shipped as the name plus ".pack";
// "lib\jsse.jar" comes last, so its presence marks a finished preparation.
constexpr std::array<const char*, 6> kPackedArchives = {"lib\\rt.jar",   "lib\\charsets.jar",
                                                         "lib\\plugin.jar", "lib\\deploy.jar",
                                                         "lib\\ext\\localedata.jar", "lib\\jsse.jar"};

// The archive a ".pack" file unpacks to (the path without ".pack"); "" for any other name.
std::string unpackTargetPath(std::string_view packPath);

// unpack200's command line: its own path, then -r (remove the ".pack" once unpacked), the
// ".pack" file and the target, each path quoted.
std::string unpack200CommandLine(std::string_view program, std::string_view packPath, std::string_view target);
