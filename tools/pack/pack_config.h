// Turns a packaging configuration (JSON) into the launcher's configuration record and the list
// of files to include, refusing anything the launcher could not read back as written.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "media/media_format.h"

// A refusal of the packaging tool; what() is the message for the release engineer.
struct PackError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The name under which the launcher's Java classes travel.
constexpr const char* kLauncherClassesName = "tsrlauncher.jar";

struct PackConfig {
  ConfigRecord record;
  std::vector<std::string> files;     // names as the record stores them ("\" separators), UTF-8
  std::vector<std::string> warnings;  // accepted, but probably not what was meant
  bool addedLauncherClasses = false;  // the last of `files` is the tool's own launcher jar
};

struct PackConfigOptions {
  // Writes explicit entries 2002 and 2003 as given, without checking the names or their agreement
  // with `files` (a disagreement is only a warning), so that launcher tests can build payloads
  // whose table names a hostile or two-level path or miscounts the files. The `files` list is
  // always checked.
  bool uncheckedNames = false;
  // Accepts numeric ids outside the table of entries, written as they stand.
  bool unknownEntries = false;
  // Fills entries with a built-in default (messages, executable type) that the configuration
  // leaves out.
  bool defaults = false;
  // Appends the launcher's Java classes to `files` unless the configuration includes a
  // tsrlauncher.jar or sets entries 2002/2003 itself.
  bool addLauncherClasses = false;
};

// Parses the JSON text. Keys are entry names or ids of the table of entries (pack_entries.h).
// Entries keep their order of appearance, defaults follow; entries 2002 and 2003 are appended
// from `files` unless the configuration sets them itself. Throws PackError.
PackConfig parsePackConfig(std::string_view jsonText, const PackConfigOptions& options = {});

// Why an included-file name cannot be stored, or "" when it can. The launcher creates only the
// first directory level and joins names with "\", so "/" and deeper names cannot work.
std::string includedNameProblem(std::string_view name);

// Narrow entries are ANSI text in Windows-1252. Throws PackError naming the first character
// (as U+XXXX) that the code page cannot hold, or on malformed UTF-8.
std::string utf8ToAnsi(std::string_view utf8);
// The inverse, for display; the five bytes that Windows-1252 leaves unassigned map to the C1
// control of the same value, as Windows itself maps them.
std::string ansiToUtf8(std::string_view ansi);
std::u16string utf8ToUtf16(std::string_view utf8);
// Unpaired surrogates, which a record may hold, become U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

// Size limit of a value in the launcher: bytes for narrow values, code units for wide ones,
// since the launcher's buffers hold 8192 of either.
std::size_t valueLimit(int32_t id);
