// The launcher's configuration: entry id -> narrow and wide text, filled once at start-up.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "config/config_record.h"
#include "config/entry_ids.h"

// Two separate maps: the same id may name a narrow and a wide value without conflict.
// Filled on the main thread before any other thread starts; read-only afterwards.
struct LauncherConfig {
  std::map<int32_t, std::string> narrow;
  std::map<int32_t, std::u16string> wide;
};

extern LauncherConfig g_config;

// Largest value, in bytes, that the launcher's callers of an entry can hold (terminator excluded):
// the entry's limit (entry 152 is read into a 200-byte buffer, entry 2001 into a 2-byte one),
// everything else 8192.
std::size_t configValueLimit(int32_t id);

// Copies the narrow value of id into buf (cut to fit, always terminated); absent ids give "".
void getConfigString(int32_t id, char* buf, std::size_t size);
// The narrow value of id, cut to the product's 8191-byte limit; absent ids give "".
std::string getConfigString(int32_t id);

// Copies the wide value of id into buf (cut to fit, always terminated); absent ids give u"".
void getConfigWString(int32_t id, char16_t* buf, std::size_t size);
std::u16string getConfigWString(int32_t id);

// The narrow value read as a decimal integer the way the C runtime's atoi reads it
// (leading white space, optional sign, digits up to the first other character);
// absent or non-numeric values give 0, values beyond int saturate.
int getConfigInt(int32_t id);

// The integer rule of getConfigInt, for any text.
int parseConfigInt(const std::string& text);

// One accessor per entry, named and typed by its row: config::minJavaVersion() is the narrow text
// of entry 126, config::jrePacked() the number of entry 153, config::wizardCaption() wide text.
namespace config {
#define PATHMERE_ENTRY_Text(symbol, accessor) \
  inline std::string accessor() { return getConfigString(entry::symbol); }
#define PATHMERE_ENTRY_Flag(symbol, accessor) \
  inline int accessor() { return getConfigInt(entry::symbol); }
#define PATHMERE_ENTRY_Number(symbol, accessor) PATHMERE_ENTRY_Flag(symbol, accessor)
#define PATHMERE_ENTRY_Wide(symbol, accessor) \
  inline std::u16string accessor() { return getConfigWString(entry::symbol); }
#define PATHMERE_ENTRY(symbol, accessor, id, name, type, ...) PATHMERE_ENTRY_##type(symbol, accessor)
#include "config/entries.def"
#undef PATHMERE_ENTRY
#undef PATHMERE_ENTRY_Text
#undef PATHMERE_ENTRY_Flag
#undef PATHMERE_ENTRY_Number
#undef PATHMERE_ENTRY_Wide
}  // namespace config

// Stores a record read from the media file: later entries with the same id replace earlier ones,
// and each language group whose code is a prefix of userLocale (none when null) replaces the
// wide texts it carries, in file order.
void applyConfigRecord(const ConfigRecord& record, const char* userLocale, LauncherConfig& config);
