// The configuration entries the launcher knows: one table that drives parsing, inspect, the
// reference page, the JSON Schema and the built-in defaults.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class EntryType { Text, Flag, Number, Wide };

struct EntryInfo {
  int32_t id;
  const char* name;
  EntryType type;  // Wide entries live in the wide map, all others in the narrow one
  // Written by `build` when the configuration leaves the entry out (unless --no-defaults);
  // nullptr: nothing is written and the launcher reads "" or 0. "{appTitle}" becomes entry 101's
  // value, or "Setup".
  const char* defaultValue;
  const char* meaning;
  bool readByLauncher;
};

const std::vector<EntryInfo>& entryTable();
const EntryInfo* findEntry(int32_t id);
const EntryInfo* findEntryByName(const std::string& name);
// The known ids and names closest to what was written, for a refusal ("122 mainClass").
std::vector<std::string> nearestEntries(const std::string& key, std::size_t count = 3);
const char* entryTypeName(EntryType type);

// The reference page (Markdown) and the JSON Schema of the configuration, both from the table.
std::string configurationReference();
std::string configurationSchema();
