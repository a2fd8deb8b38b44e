#include "pack/pack_config.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>

#include "base/path_text.h"
#include "config/launcher_config.h"
#include "pack/pack_entries.h"

namespace {
using Json = nlohmann::ordered_json;


// Windows-1252 code points of bytes 0x80..0x9F; 0 marks the five unassigned bytes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string codePointName(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

// Decodes UTF-8 strictly: overlong forms, surrogates and truncated sequences are refused, since
// a value that does not decode cannot be the text the engineer meant.
std::u32string decodeUtf8(std::string_view text) {
  std::u32string out;
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) throw PackError("malformed UTF-8 text");
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) throw PackError("malformed UTF-8 text");
      c = (c << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) throw PackError("malformed UTF-8 text");
    out.push_back(c);
    i += extra + 1;
  }
  return out;
}

void encodeUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Keys name an entry of the table or give its decimal id; ids outside the table pass only when
// the caller asks for them.
int32_t parseEntryKey(const std::string& key, bool wide, const PackConfigOptions& options) {
  const EntryInfo* entry = findEntryByName(key);
  std::size_t digits = key.size() - (!key.empty() && key[0] == '-');
  bool numeric = digits > 0 && digits <= 10 &&
                 std::all_of(key.end() - digits, key.end(), [](char c) { return c >= '0' && c <= '9'; });
  long long id = numeric ? std::stoll(key) : 0;
  if (numeric && (id < INT32_MIN || id > INT32_MAX)) numeric = false;
  if (!entry && numeric) entry = findEntry(static_cast<int32_t>(id));
  if (!entry) {
    if (numeric && options.unknownEntries) return static_cast<int32_t>(id);
    std::string nearest;
    for (const std::string& near : nearestEntries(key)) nearest += (nearest.empty() ? "" : ", ") + near;
    throw PackError(std::string(numeric ? "unknown entry id " : "unknown entry name ") + "\"" + key +
                    "\" (nearest: " + nearest + ")" +
                    (numeric ? "; --unknown-entries writes ids outside the table as they stand" : ""));
  }
  if ((entry->type == EntryType::Wide) != wide) {
    throw PackError("entry " + std::to_string(entry->id) + " (" + entry->name + ") is a " +
                    (wide ? "narrow" : "wide") + " entry: put it under \"" + (wide ? "narrow" : "wide") + "\"");
  }
  return entry->id;
}

std::string entryLabel(const std::string& kind, int32_t id) {
  const EntryInfo* entry = findEntry(id);
  return kind + " entry " + std::to_string(id) + (entry ? std::string(" (") + entry->name + ")" : "");
}

const std::string& stringValue(const Json& value, const std::string& label) {
  if (!value.is_string()) throw PackError(label + ": the value must be a JSON string");
  return value.get_ref<const std::string&>();
}

// Flags and numbers may be JSON numbers (and flags booleans); the record stores decimal text,
// which must read back as the number meant.
std::string numericText(int32_t id, const Json& value, const std::string& label) {
  const EntryInfo* entry = findEntry(id);
  bool numeric = entry && (entry->type == EntryType::Flag || entry->type == EntryType::Number);
  if (!numeric) return stringValue(value, label);
  if (value.is_boolean() && entry->type == EntryType::Flag) return value.get<bool>() ? "1" : "0";
  if (value.is_number_integer()) {
    long long number = value.get<long long>();
    if (number < INT32_MIN || number > INT32_MAX) throw PackError(label + ": " + value.dump() + " is outside 32 bits");
    return std::to_string(number);
  }
  if (!value.is_string()) {
    throw PackError(label + ": the value must be a whole number" +
                    std::string(entry->type == EntryType::Flag ? ", true/false" : "") + " or decimal text");
  }
  const std::string& text = value.get_ref<const std::string&>();
  std::size_t digits = text.size() - (!text.empty() && text[0] == '-');
  bool decimal = digits <= 10 && std::all_of(text.end() - digits, text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!text.empty() && (!decimal || digits == 0)) {
    throw PackError(label + ": \"" + text + "\" is not a decimal number (the launcher would read " +
                    std::to_string(parseConfigInt(text)) + ")");
  }
  return text;
}

std::string narrowValue(int32_t id, const Json& value, const std::string& label) {
  std::string text = numericText(id, value, label);
  std::string ansi;
  try {
    ansi = utf8ToAnsi(text);
  } catch (const PackError& e) {
    throw PackError(label + ": " + e.what());
  }
  if (ansi.size() > valueLimit(id)) {
    throw PackError(label + ": " + std::to_string(ansi.size()) + " bytes, the launcher holds at most " +
                    std::to_string(valueLimit(id)));
  }
  return ansi;
}

std::u16string wideValue(int32_t id, const Json& value, const std::string& label) {
  const std::string& text = stringValue(value, label);
  std::u16string wide;
  try {
    wide = utf8ToUtf16(text);
  } catch (const PackError& e) {
    throw PackError(label + ": " + e.what());
  }
  if (wide.size() > valueLimit(id)) {
    throw PackError(label + ": " + std::to_string(wide.size()) + " UTF-16 units, the launcher holds at most " +
                    std::to_string(valueLimit(id)));
  }
  return wide;
}

std::vector<std::pair<int32_t, std::u16string>> wideEntries(const Json& object, const std::string& where,
                                                             const PackConfigOptions& options) {
  if (!object.is_object()) throw PackError(where + " must be a JSON object keyed by entry name or id");
  std::vector<std::pair<int32_t, std::u16string>> entries;
  for (const auto& [key, value] : object.items()) {
    int32_t id = parseEntryKey(key, true, options);
    entries.emplace_back(id, wideValue(id, value, entryLabel(where, id)));
  }
  return entries;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The built-in values for what the configuration leaves out, after its own entries.
void addDefaults(ConfigRecord& record) {
  auto has = [](const auto& entries, int32_t id) {
    return std::any_of(entries.begin(), entries.end(), [id](const auto& entry) { return entry.first == id; });
  };
  const std::string* title = nullptr;
  for (const auto& [id, value] : record.narrow) {
    if (id == entry::kAppTitle && !value.empty()) title = &value;
  }
  std::string titleUtf8 = title ? ansiToUtf8(*title) : "Setup";
  for (const EntryInfo& entry : entryTable()) {
    if (!entry.defaultValue) continue;
    std::string text = replaceAll(entry.defaultValue, "{appTitle}", titleUtf8);
    if (entry.type == EntryType::Wide) {
      if (!has(record.wide, entry.id)) record.wide.emplace_back(entry.id, utf8ToUtf16(text));
    } else if (!has(record.narrow, entry.id)) {
      record.narrow.emplace_back(entry.id, narrowValue(entry.id, Json(text), entryLabel("narrow", entry.id)));
    }
  }
}

void checkNames(const std::vector<std::string>& names, const std::string& where) {
  std::vector<std::string> seen;
  for (const std::string& name : names) {
    std::string problem = includedNameProblem(name);
    if (!problem.empty()) throw PackError(where + ": \"" + name + "\" " + problem);
    // Windows names are case-insensitive: a second "A.txt" would overwrite "a.txt" on extraction.
    std::string folded = lowerAscii(name);
    if (std::find(seen.begin(), seen.end(), folded) != seen.end()) {
      throw PackError(where + ": \"" + name + "\" is listed twice");
    }
    seen.push_back(folded);
  }
}
}  // namespace

std::size_t valueLimit(int32_t id) { return configValueLimit(id); }

std::string includedNameProblem(std::string_view name) {
  if (name.empty()) return "is empty (an empty name ends the launcher's list)";
  if (name.find(';') != std::string_view::npos) return "contains \";\", the list separator";
  if (name.find('/') != std::string_view::npos) return "contains \"/\"; the launcher's separator is \"\\\"";
  for (std::size_t start = 0; start < name.size();) {
    std::size_t end = std::min(name.find('\\', start), name.size());
    std::string_view part = name.substr(start, end - start);
    if (isDeviceName(part)) {
      return "names the device \"" + std::string(part) + "\" (CON, PRN, AUX, NUL, COM1, LPT1 and the like)";
    }
    start = end + 1;
  }
  if (!isContainedFileName(name)) return "escapes the extraction directory (absolute, drive, UNC or \"..\")";
  if (directoryLevels(name) > 1) return "has more than one directory level; the launcher creates only the first";
  if (name.back() == '\\') return "names a directory, not a file";
  return "";
}

std::string utf8ToAnsi(std::string_view utf8) {
  std::string out;
  for (char32_t c : decodeUtf8(utf8)) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const char16_t* hit = std::find(std::begin(kCp1252High), std::end(kCp1252High), c);
    if (c > 0xFFFF || c < 0xA0 || hit == std::end(kCp1252High)) {
      throw PackError("character " + codePointName(c) + " has no Windows-1252 form");
    }
    out.push_back(static_cast<char>(0x80 + (hit - kCp1252High)));
  }
  return out;
}

std::string ansiToUtf8(std::string_view ansi) {
  std::string out;
  for (char raw : ansi) {
    unsigned char b = static_cast<unsigned char>(raw);
    char32_t c = b;
    if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0) c = kCp1252High[b - 0x80];
    encodeUtf8(out, c);
  }
  return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  for (char32_t c : decodeUtf8(utf8)) {
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    encodeUtf8(out, c);
  }
  return out;
}

PackConfig parsePackConfig(std::string_view jsonText, const PackConfigOptions& options) {
  Json root;
  try {
    root = Json::parse(jsonText.begin(), jsonText.end(), nullptr, true, true);
  } catch (const Json::parse_error& e) {
    throw PackError(std::string("configuration is not valid JSON: ") + e.what());
  }
  if (!root.is_object()) throw PackError("configuration must be a JSON object");
  for (const auto& [key, value] : root.items()) {
    (void)value;
    if (key != "narrow" && key != "wide" && key != "languages" && key != "files" && key != "versionInfo") {
      throw PackError("configuration has an unknown member \"" + key + "\"");
    }
  }

  PackConfig config;
  const Json empty = Json::object();
  const Json& narrow = root.contains("narrow") ? root["narrow"] : empty;
  if (!narrow.is_object()) throw PackError("\"narrow\" must be a JSON object keyed by entry name or id");
  bool explicitCount = false, explicitNames = false;
  for (const auto& [key, value] : narrow.items()) {
    int32_t id = parseEntryKey(key, false, options);
    config.record.narrow.emplace_back(id, narrowValue(id, value, entryLabel("narrow", id)));
    explicitCount |= id == entry::kIncludedFileCount;
    explicitNames |= id == entry::kIncludedFileNames;
  }
  config.record.wide = wideEntries(root.contains("wide") ? root["wide"] : empty, "\"wide\"", options);
  if (options.defaults) addDefaults(config.record);

  if (root.contains("languages")) {
    const Json& languages = root["languages"];
    if (!languages.is_array()) throw PackError("\"languages\" must be a JSON array");
    for (const Json& group : languages) {
      if (!group.is_object() || !group.contains("code")) throw PackError("each language group needs a \"code\"");
      LanguageGroup language;
      language.code = narrowValue(0, group["code"], "language code");
      if (language.code.empty()) throw PackError("a language group's code is empty: it would apply to every locale");
      std::string where = "language \"" + language.code + "\"";
      language.wide = wideEntries(group.contains("wide") ? group["wide"] : empty, where, options);
      config.record.languages.push_back(std::move(language));
    }
  }

  if (root.contains("files")) {
    const Json& files = root["files"];
    if (!files.is_array()) throw PackError("\"files\" must be a JSON array of names");
    for (const Json& name : files) {
      const std::string& utf8 = stringValue(name, "\"files\"");
      try {
        utf8ToAnsi(utf8);  // the launcher opens names in the ANSI code page
      } catch (const PackError& e) {
        throw PackError("\"files\": \"" + utf8 + "\": " + e.what());
      }
      config.files.push_back(utf8);
    }
  }
  bool ownsLauncherClasses = std::any_of(config.files.begin(), config.files.end(), [](const std::string& name) {
    return lowerAscii(name) == kLauncherClassesName;
  });
  if (options.addLauncherClasses && !ownsLauncherClasses && !explicitCount && !explicitNames) {
    config.files.push_back(kLauncherClassesName);
    config.addedLauncherClasses = true;
  }
  checkNames(config.files, "\"files\"");

  std::string joined;
  for (const std::string& name : config.files) joined += utf8ToAnsi(name) + ";";
  if (!explicitCount) config.record.narrow.emplace_back(entry::kIncludedFileCount, std::to_string(config.files.size()));
  if (!explicitNames) {
    if (joined.size() > valueLimit(entry::kIncludedFileNames)) {
      throw PackError("the included file names need " + std::to_string(joined.size()) +
                      " bytes in entry 2003, the launcher holds at most " +
                      std::to_string(valueLimit(entry::kIncludedFileNames)));
    }
    config.record.narrow.emplace_back(entry::kIncludedFileNames, joined);
  }

  // What the launcher will walk: the last value of each entry wins, as in its loader.
  std::string countText, namesText;
  for (const auto& [id, value] : config.record.narrow) {
    if (id == entry::kIncludedFileCount) countText = value;
    if (id == entry::kIncludedFileNames) namesText = value;
  }
  int count = parseConfigInt(countText);
  std::vector<std::string> walked = includedFileList(namesText, count);
  if (explicitNames && !options.uncheckedNames) {
    std::vector<std::string> listed = includedFileList(namesText, INT32_MAX);
    checkNames(listed, "entry 2003");
  }
  // The launcher walks the stored files by entries 2002/2003 alone: a table that disagrees with
  // what is stored makes it read sizes out of file contents or extract under the wrong names.
  std::string disagreement;
  if (walked.size() != config.files.size()) {
    disagreement = "the launcher will extract " + std::to_string(walked.size()) +
                   " files (entries 2002/2003) but \"files\" stores " + std::to_string(config.files.size());
  } else if (explicitNames && namesText != joined) {
    disagreement = "entry 2003 does not list the names of \"files\" in storage order";
  }
  if (!disagreement.empty()) {
    if (!options.uncheckedNames) throw PackError(disagreement);
    config.warnings.push_back(disagreement);
  }
  return config;
}
