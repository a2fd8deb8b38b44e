// The names in a zip archive (a jar), read from its central directory, for the main-class check.
#pragma once
#include <string>
#include <vector>

#include "pack/pack_media.h"

// The entry names of the archive; throws PackError when the source is no zip archive the reader
// understands (zip64 and multi-disk archives included: jars of an installer are small).
std::vector<std::string> zipEntryNames(ByteSource& source);

// Why the main class will not be found among the included files, or "". Jars and zips are on
// the launcher's class path; pack200 archives become jars only on the user's machine and are not
// looked into, so with one of them present nothing is said.
std::string mainClassProblem(const std::string& mainClass,
                             const std::vector<std::pair<std::string, ByteSource*>>& files);
