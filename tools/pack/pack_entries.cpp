#include "pack/pack_entries.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "config/entry_ids.h"

namespace {
constexpr EntryType T = EntryType::Text, F = EntryType::Flag, N = EntryType::Number, W = EntryType::Wide;

// Meanings are what the launcher does with the value; defaults are what a minimal configuration
// needs to reach the Java program with readable messages.
const std::vector<EntryInfo> kEntries = {
    {entry::kAppTitle, "appTitle", T, nullptr, "product title; the built-in messages name the product with it", false},
    {entry::kRedirectStderr, "redirectStderr", F, nullptr, "1: the Java program's standard error goes to the file of entry 103", true},
    {entry::kStderrFile, "stderrFile", T, nullptr, "error-log file; variables expanded; unless it starts with \"$\" it is made absolute against the installer's folder", true},
    {entry::kRedirectStdout, "redirectStdout", F, nullptr, "1: the Java program's standard output goes to the file of entry 105", true},
    {entry::kStdoutFile, "stdoutFile", T, nullptr, "output-log file, treated like entry 103", true},
    {entry::kLauncherFlag106, "launcherFlag106", F, nullptr, "passed to the Java launcher class as \"true\" or \"false\"", true},
    {entry::kExecutableType, "executableType", N, "5", "1 or 5: GUI launcher (message boxes; 1 also requires javaw.exe); other values: console launcher (messages on standard error)", true},
    {entry::kEntry108, "entry108", N, nullptr, "not read", false},
    {entry::kClassPath, "classPath", T, nullptr, "further class path items of the application (the included jars are on the class path already)", true},
    {entry::kMainClass, "mainClass", T, nullptr, "the Java program's main class, dotted (com.example.Setup)", true},
    {entry::kVmParameters, "vmParameters", T, nullptr, "fixed VM options, split like a command line", true},
    {entry::kAppArguments, "appArguments", T, nullptr, "further arguments for the Java program: variables expanded, then split like a command line", true},
    {entry::kDropJArguments, "dropJArguments", F, nullptr, "1: command-line arguments beginning with \"-J\" are not passed on to the Java program", true},
    {entry::kMinJavaVersion, "minJavaVersion", T, nullptr, "lowest acceptable Java version (\"1.6\"); empty: no lower bound", true},
    {entry::kMaxJavaVersion, "maxJavaVersion", T, nullptr, "highest acceptable Java version (\"1.8\"); empty: no upper bound", true},
    {entry::kJreSearchSequence, "jreSearchSequence", T, nullptr, "\";\"-separated runtime search steps, each a one-letter kind and its argument: A, B, R a runtime folder; E an environment variable naming one; S java.exe on PATH; P every folder on PATH whose java.exe has a VM library beside it; Y the JavaSoft keys and runtimes picked by hand; M every runtime a vendor's installer registered (the highest acceptable version wins)", true},
    {entry::kAllowBetaJre, "allowBetaJre", F, nullptr, "0: pre-release Java runtimes are refused", true},
    {entry::kRequireJdk, "requireJdk", F, nullptr, "1: only development kits count as Java runtimes", true},
    {entry::kEntry141, "entry141", F, nullptr, "not read", false},
    {entry::kEntry142, "entry142", F, nullptr, "not read", false},
    {entry::kEntry145, "entry145", F, nullptr, "not read", false},
    {entry::kWorkingDirectory, "workingDirectory", T, nullptr, "working directory, resolved against the installer's folder; empty: unchanged", true},
    {entry::kEntry147, "entry147", F, nullptr, "not read", false},
    {entry::kEntry149, "entry149", T, nullptr, "not read", false},
    {entry::kJreDownloadUrl, "jreDownloadUrl", T, nullptr, "HTTP address of the downloadable runtime archive (explicit port, path ending in the file name); needs entry 162", true},
    {entry::kJreDownloadSize, "jreDownloadSize", N, nullptr, "uncompressed size of the runtime's tar archive; only scales the unpack progress (set by --jre)", true},
    {entry::kPreferredVmType, "preferredVmType", T, nullptr, "VM subdirectory tried first for jvm.dll (at most 199 bytes)", true},
    {entry::kJrePacked, "jrePacked", F, nullptr, "1: the carried runtime's jars are pack200-packed and are unpacked first (set by --jre)", true},
    {entry::kEntry154, "entry154", F, nullptr, "not read", false},
    {entry::kNoProgressDialog, "entry155", F, nullptr, "1: no progress dialog; the launch runs without a window", true},
    {entry::kEntry156, "entry156", F, nullptr, "not read", false},
    {entry::kDownloadJreWithoutAsking, "downloadJreWithoutAsking", F, nullptr, "1: without a suitable runtime, download at once; in quiet mode 0 ends with exit code 83", true},
    {entry::kGlobalSemaphore, "globalSemaphore", F, nullptr, "1: the single-instance semaphore is session-global (\"Global\\\" prefix)", true},
    {entry::kNoWindowTimeout, "entry159", F, nullptr, "0: waiting too long for the Java program's window shows message 20014; 1: no timeout", true},
    {entry::kApplicationId, "applicationId", T, nullptr, "application id looked up among previous installations in the registry", true},
    {entry::kPreferInstalledJre, "preferInstalledJre", F, nullptr, "1: with a carried runtime, an installed suitable one is searched first", true},
    {entry::kJreDownloadSha256, "jreDownloadSha256", T, nullptr, "SHA-256 of the runtime archive at entry 150, 64 hexadecimal digits; a download with another digest is refused (set by --jre-download)", true},
    {entry::kVersionScheme, "versionScheme", N, nullptr, "0: versions compared byte by byte, a bound matched as a text prefix; 1: compared as numbers (\"1.8.0_401\" is 8.0.401, a bound of \"8\" covers all of 8), and a runtime's release file gives its version without starting it", true},
    {entry::kErrorCaption, "errorCaption", T, "Error", "caption of every narrow error box", true},
    {entry::kNoJvmText, "noJvmText", T, "No JVM could be found on your system.\nPlease define NIMBO_JAVA_HOME\nto point to an installed JDK or JRE or download a JRE from www.java.com.", "message (not shown by this launcher)", false},
    {entry::kDamagedPathJvmText, "damagedPathJvmText", T, "The JVM found in your path is damaged.\nPlease reinstall or define NIMBO_JAVA_HOME\nto point to an installed JDK or JRE.", "message (not shown by this launcher)", false},
    {entry::kBadJavaHomeText, "badJavaHomeText", T, "The {0} environment variable does not\npoint to a working JDK or JRE.", "message (not shown by this launcher)", false},
    {entry::kDamagedJvmText, "damagedJvmText", T, "The JVM found at {0} is damaged.\nPlease reinstall or define NIMBO_JAVA_HOME\nto point to an installed JDK or JRE.", "message (not shown by this launcher)", false},
    {entry::kVmStartFailedText, "vmStartFailedText", T, "The JVM could not be started. The maximum heap size (-Xmx) might be too large or an antivirus or firewall tool could block the execution.", "message: the VM could not be created", true},
    {entry::kFileNotFoundText, "fileNotFoundText", T, "File or directory {0} not found or empty\n", "message: a class path or options file is missing; {0} the path", true},
    {entry::kWrongParameterText, "wrongParameterText", T, "Wrong Parameter Usage", "message: a bad command-line switch", true},
    {entry::kUndefinedVariableText, "undefinedVariableText", T, "The environment variable {0} has to be defined", "message: a variable in a configured value is not defined", true},
    {entry::kInternalErrorText, "internalErrorText", T, "An internal error occurred (error code: {0})", "message: internal error; {0} the code", true},
    {entry::kMainClassNotLoadedText, "mainClassNotLoadedText", T, "Couldn't load main class.", "message: the Java launcher class is missing", true},
    {entry::kMainMethodNotFoundText, "mainMethodNotFoundText", T, "Main method not found.", "message: the Java launcher class has no main", true},
    {entry::kErrorText1012, "errorText1012", T, "Error", "message (not shown by this launcher)", false},
    {entry::kOkText, "okText", T, "Ok", "message (not shown by this launcher)", false},
    {entry::kStartupErrorText, "startupErrorText", T, "An error occurred while starting up {0}:", "message (not shown by this launcher)", false},
    {entry::kPowerUserText, "powerUserText", T, "You must be at least Poweruser to run this program.", "message: no writable temporary folder", true},
    {entry::kNoJvmBitsText, "noJvmBitsText", T, "No JVM could be found on your system.\nPlease define NIMBO_JAVA_HOME\nto point to an installed {0}-bit JDK or JRE or download a JRE from www.java.com.", "message: no usable runtime; {0} the bit count", true},
    {entry::kBadJavaHome32Text, "badJavaHome32Text", T, "The {0} environment variable does not\npoint to a working 32-bit JDK or JRE.", "message: NIMBO_JAVA_HOME or TESSAR_JAVA_HOME names no usable runtime", true},
    {entry::kBadJavaHome64Text, "badJavaHome64Text", T, "The {0} environment variable does not\npoint to a working 64-bit JDK or JRE.", "message (not shown by this launcher)", false},
    {entry::kDamagedJvm32Text, "damagedJvm32Text", T, "The JVM found at {0} is damaged.\nPlease reinstall or define NIMBO_JAVA_HOME\nto point to an installed 32-bit JDK or JRE.", "message: a found runtime cannot be loaded", true},
    {entry::kDamagedJvm64Text, "damagedJvm64Text", T, "The JVM found at {0} is damaged.\nPlease reinstall or define NIMBO_JAVA_HOME\nto point to an installed 64-bit JDK or JRE.", "message (not shown by this launcher)", false},
    {entry::kProductKind, "productKind", T, nullptr, "one character: \"e\" launcher family (nimbo names), anything else installer family (tessar names)", true},
    {entry::kIncludedFileCount, "includedFileCount", N, nullptr, "number of included files (written from \"files\")", true},
    {entry::kIncludedFileNames, "includedFileNames", T, nullptr, "\";\"-separated included file names in storage order (written from \"files\")", true},
    {entry::kInstallDirectory, "installDirectory", T, nullptr, "base folder of the first-run marker, resolved against the installer's folder", true},
    {entry::kNativeDllDirectory, "nativeDllDirectory", T, nullptr, "folder put in front of PATH for native libraries", true},
    {entry::kSingleInstance, "singleInstance", F, nullptr, "1: the process communication file name is handed to the Java program", true},
    {entry::kSplashText10109, "splashText10109", T, nullptr, "splash-screen layout (no splash screen is shown)", false},
    {entry::kSplashText10110, "splashText10110", T, nullptr, "splash-screen layout", false},
    {entry::kSplashText10111, "splashText10111", T, nullptr, "splash-screen layout", false},
    {entry::kSplashText10112, "splashText10112", T, nullptr, "splash-screen font name", false},
    {entry::kSplashText10113, "splashText10113", T, nullptr, "splash-screen font size", false},
    {entry::kSplashText10114, "splashText10114", T, nullptr, "splash-screen colour \"r,g,b\"", false},
    {entry::kSplashText10115, "splashText10115", T, nullptr, "splash-screen font weight", false},
    {entry::kSplashText10116, "splashText10116", T, nullptr, "splash-screen position", false},
    {entry::kSplashText10117, "splashText10117", T, nullptr, "splash-screen position", false},
    {entry::kSplashText10118, "splashText10118", T, nullptr, "splash-screen version text", false},
    {entry::kSplashText10119, "splashText10119", T, nullptr, "splash-screen second font name", false},
    {entry::kSplashText10120, "splashText10120", T, nullptr, "splash-screen second font size", false},
    {entry::kSplashText10121, "splashText10121", T, nullptr, "splash-screen second colour", false},
    {entry::kSplashText10122, "splashText10122", T, nullptr, "splash-screen second font weight", false},
    {entry::kSplashEnabled, "splashEnabled", F, nullptr, "splash-screen switch (no splash screen is shown)", false},
    {entry::kDownloadingText, "downloadingText", W, "{appTitle} is downloading the Java(TM) Runtime Environment. Please wait.", "progress text while the runtime downloads", true},
    {entry::kWininetMissingText, "wininetMissingText", W, "Cannot initialize wininet.dll. Please install\nInternet Explorer 3.0 or higher.", "message: the download library is missing", true},
    {entry::kDownloadFailedText, "downloadFailedText", W, "Error downloading the Java(TM) Runtime Environment.\nPlease check your internet connection and start setup again.", "message: the download failed", true},
    {entry::kChooseJavaExeText, "chooseJavaExeText", W, "Please choose the file \"java.exe\" of the JRE", "title of the file chooser for Locate", true},
    {entry::kNoJreDownloadText, "noJreDownloadText", W, "{appTitle} could not find a Java(TM) Runtime Environment on your system. You can locate or download a suitable %S-bit JRE.", "runtime-missing dialog with a download address; %S the bit count", true},
    {entry::kNoJreLocateText, "noJreLocateText", W, "{appTitle} could not find a Java(TM) Runtime Environment on your system. Please locate a suitable %S-bit JRE.", "runtime-missing dialog without a download address; %S the bit count", true},
    {entry::kPreparingText, "preparingText", W, "{appTitle} is preparing the setup wizard which will guide you through the rest of the setup process.", "progress dialog text", true},
    {entry::kDownloadProgressText, "downloadProgressText", W, "%.2f MB of %.2f MB (%.1f%%) at %.1f kB/s", "download progress line (printf format)", true},
    {entry::kConnectingText, "connectingText", W, "Initializing connection ...", "download status before the first bytes", true},
    {entry::kDownloadButton, "downloadButton", W, "&Download", "runtime-missing dialog button (\"&\" marks the Alt key letter)", true},
    {entry::kLocateButton, "locateButton", W, "&Locate", "runtime-missing dialog button (\"&\" marks the Alt key letter)", true},
    {entry::kCancelButton, "cancelButton", W, "&Cancel", "Cancel button (\"&\" marks the Alt key letter)", true},
    {entry::kWizardCaption, "wizardCaption", W, "{appTitle}", "caption of the dialogs and of every wide message box", true},
    {entry::kVmNotStartedText, "vmNotStartedText", W, "The Java(TM) VM could not be started. Please restart\nthe installation. You may use the parameter \"/manual\"\nto download or manually select a different VM.", "message: the Java program showed no window in time", true},
    {entry::kLastRunFailedText, "lastRunFailedText", W, "The installer did not start up correctly on the last run.\nThis is probably caused by a corrupted Java VM.\nDo you want to download or manually select the JVM?", "recovery question when the last start did not reach the Java program", true},
    {entry::kCorruptedFileText, "corruptedFileText", W, "The installation file is corrupted. If it is a download please try it again.", "message: checksum or extraction failed", true},
    {entry::kDiskFullText, "diskFullText", W, "Not Enough Disk Space", "message: extraction could not write", true},
    {entry::kMinVersionLabel, "minVersionLabel", W, "minimum version:", "runtime-missing dialog label", true},
    {entry::kMaxVersionLabel, "maxVersionLabel", W, "maximum version:", "runtime-missing dialog label", true},
};

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) == std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string markdownCell(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '|') out += "\\|";
    else out.push_back(c);
  }
  return out;
}
}  // namespace

const std::vector<EntryInfo>& entryTable() { return kEntries; }

const EntryInfo* findEntry(int32_t id) {
  for (const EntryInfo& entry : kEntries) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

const EntryInfo* findEntryByName(const std::string& name) {
  for (const EntryInfo& entry : kEntries) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

std::vector<std::string> nearestEntries(const std::string& key, std::size_t count) {
  std::vector<std::pair<std::size_t, const EntryInfo*>> ranked;
  for (const EntryInfo& entry : kEntries) {
    std::size_t distance = std::min(editDistance(key, entry.name), editDistance(key, std::to_string(entry.id)));
    ranked.emplace_back(distance, &entry);
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (std::size_t i = 0; i < ranked.size() && i < count; ++i) {
    out.push_back(std::to_string(ranked[i].second->id) + " " + ranked[i].second->name);
  }
  return out;
}

const char* entryTypeName(EntryType type) {
  switch (type) {
    case EntryType::Text: return "text";
    case EntryType::Flag: return "flag";
    case EntryType::Number: return "number";
    case EntryType::Wide: return "wide text";
  }
  return "";
}

std::string configurationReference() {
  std::string out =
      "# Installer configuration reference\n\n"
      "Generated by `pathmere-pack reference` from the tool's table of entries; do not edit by hand.\n\n"
      "A configuration is a JSON object with `narrow` and `wide` entries (keyed by name or by id),\n"
      "`languages` (groups of translated wide entries: `{\"code\": \"de\", \"wide\": {...}}`), the\n"
      "`files` list in storage order and an optional `versionInfo` object. Flags and numbers may be\n"
      "written as JSON numbers or as decimal text (flags also as `true`/`false`). `build` refuses an\n"
      "unknown name or id (naming the nearest known ones) and an entry under the wrong kind;\n"
      "`--unknown-entries` lets ids outside this table through, as they stand.\n\n"
      "The default column is what `build` writes when the configuration leaves an entry out\n"
      "(`--no-defaults` writes only what the configuration holds). `{appTitle}` stands for the\n"
      "value of `appTitle`, or \"Setup\". Without a default, the launcher reads an absent entry as\n"
      "empty text or 0.\n\n"
      "| Id | Name | Kind | Type | Default | Meaning |\n"
      "|---|---|---|---|---|---|\n";
  for (const EntryInfo& entry : kEntries) {
    out += "| " + std::to_string(entry.id) + " | `" + entry.name + "` | " +
           (entry.type == EntryType::Wide ? "wide" : "narrow") + " | " + entryTypeName(entry.type) + " | " +
           (entry.defaultValue ? "\"" + markdownCell(entry.defaultValue) + "\"" : std::string()) + " | " +
           markdownCell(entry.meaning) + (entry.readByLauncher ? "" : " (not read by the launcher)") + " |\n";
  }
  out +=
      "\n## versionInfo\n\n"
      "`\"versionInfo\": {\"productName\", \"companyName\", \"fileDescription\", \"fileVersion\",\n"
      "\"productVersion\", \"legalCopyright\"}` replaces the stub's version resource (what Windows\n"
      "shows in the file's properties); versions are one to four dot-separated numbers. `--icon\n"
      "FILE.ico` replaces its icon. Both are written before the payload, so the checksum and a\n"
      "later signature hold.\n";
  return out;
}

std::string configurationSchema() {
  using Json = nlohmann::ordered_json;
  Json narrow = {{"type", "object"}, {"additionalProperties", false}, {"properties", Json::object()}};
  Json wide = narrow;
  for (const EntryInfo& entry : kEntries) {
    Json value;
    if (entry.type == EntryType::Flag) {
      value = {{"oneOf", Json::array({Json{{"type", "string"}, {"pattern", "^-?[0-9]+$"}},
                                      Json{{"type", "integer"}}, Json{{"type", "boolean"}}})}};
    } else if (entry.type == EntryType::Number) {
      value = {{"oneOf", Json::array({Json{{"type", "string"}, {"pattern", "^-?[0-9]+$"}}, Json{{"type", "integer"}}})}};
    } else {
      value = {{"type", "string"}};
    }
    value["description"] = std::to_string(entry.id) + ": " + entry.meaning;
    if (entry.defaultValue) value["default"] = entry.defaultValue;
    Json& into = entry.type == EntryType::Wide ? wide : narrow;
    into["properties"][entry.name] = value;
    into["properties"][std::to_string(entry.id)] = value;
  }
  Json text = {{"type", "string"}};
  Json version = {{"type", "string"}, {"pattern", "^[0-9]+(\\.[0-9]+){0,3}$"}};
  Json schema = {
      {"$schema", "http://json-schema.org/draft-07/schema#"},
      {"title", "pathmere-pack installer configuration"},
      {"type", "object"},
      {"additionalProperties", false},
      {"properties",
       {{"narrow", narrow},
        {"wide", wide},
        {"languages",
         {{"type", "array"},
          {"items",
           {{"type", "object"},
            {"required", {"code"}},
            {"additionalProperties", false},
            {"properties", {{"code", {{"type", "string"}, {"minLength", 1}}}, {"wide", wide}}}}}}},
        {"files", {{"type", "array"}, {"items", {{"type", "string"}, {"minLength", 1}}}}},
        {"versionInfo",
         {{"type", "object"},
          {"additionalProperties", false},
          {"properties",
           {{"productName", text},
            {"companyName", text},
            {"fileDescription", text},
            {"fileVersion", version},
            {"productVersion", version},
            {"legalCopyright", text}}}}}}}};
  return schema.dump(2) + "\n";
}
