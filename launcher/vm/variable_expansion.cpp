#include "vm/variable_expansion.h"

#include <cctype>

#include "base/log.h"
#include "base/text_limits.h"
#include "vm/vm_platform.h"


namespace {

// Fixed tokens in the order they are replaced; later tokens also apply to text inserted earlier.
enum class Value { ExecutableDirectory, TempDirectory, Separator, JvmHome, SystemTemp };
struct FixedToken {
  const char* token;
  Value value;
};
constexpr FixedToken kFixedTokens[] = {
    {"%NIMBO_EXEDIR%", Value::ExecutableDirectory},
    {"%TESSAR_EXEDIR%", Value::ExecutableDirectory},
    {"%NIMBO_TEMPDIR%", Value::TempDirectory},
    {"%TESSAR_TEMPDIR%", Value::TempDirectory},
    {"%NIMBO_PATHLIST_SEPARATOR%", Value::Separator},
    {"%TESSAR_PATHLIST_SEPARATOR%", Value::Separator},
    {"%NIMBO_JVM_HOME%", Value::JvmHome},
    {"%TESSAR_JVM_HOME%", Value::JvmHome},
    {"${NIMBO_EXEDIR}", Value::ExecutableDirectory},
    {"${TESSAR_EXEDIR}", Value::ExecutableDirectory},
    {"${NIMBO_TEMPDIR}", Value::TempDirectory},
    {"${TESSAR_TEMPDIR}", Value::TempDirectory},
    {"${NIMBO_PATHLIST_SEPARATOR}", Value::Separator},
    {"${TESSAR_PATHLIST_SEPARATOR}", Value::Separator},
    {"${NIMBO_JVM_HOME}", Value::JvmHome},
    {"${TESSAR_JVM_HOME}", Value::JvmHome},
    {"${launcher:sys.launcherDirectory}", Value::ExecutableDirectory},
    {"${launcher:sys.launcherTempDirectory}", Value::TempDirectory},
    {"${launcher:sys.pathlistSeparator}", Value::Separator},
    {"${launcher:sys.jvmHome}", Value::JvmHome},
    {"${launcher:sys.tempDir}", Value::SystemTemp},
};

std::string valueOf(Value value, const ExpansionValues& values) {
  switch (value) {
    case Value::ExecutableDirectory: return values.executableDirectory;
    case Value::TempDirectory: return values.tempDirectory;
    case Value::Separator: return std::string(1, kPathListSeparator);
    case Value::JvmHome: return values.jvmHome;
    case Value::SystemTemp: return values.systemTempDirectory;
  }
  return std::string();
}

}  // namespace

bool replaceAll(std::string& text, std::string_view token, std::string_view value) {
  if (token.empty()) return true;
  bool fits = true;
  std::size_t at = text.find(token);
  while (at != std::string::npos) {
    text.replace(at, token.size(), value);
    std::size_t resume = at + value.size();
    if (text.size() > kTextBufferSize - 1) {
      fitTextBuffer(text);
      fits = false;
    }
    logInfo("expanding %.*s to %.*s in %s.", static_cast<int>(token.size()), token.data(),
            static_cast<int>(value.size()), value.data(), text.c_str());
    if (resume >= text.size()) break;
    at = text.find(token, resume);
  }
  return fits;
}

bool expandVariablesWith(std::string& text, const ExpansionValues& values, const std::vector<std::string>& environment) {
  bool fits = true;
  for (const FixedToken& fixed : kFixedTokens) fits = replaceAll(text, fixed.token, valueOf(fixed.value, values)) && fits;
  for (const std::string& whole : environment) {
    std::string entry = whole;
    if (entry.size() > kTextBufferSize - 1) {
      fitTextBuffer(entry);
      fits = false;
    }
    std::size_t equals = entry.find('=');
    // Entries without "=" are not variables; those with an empty name are the system's hidden
    // per-drive directories ("=C:=C:\dir"), which no "${}" form may stand for.
    if (equals == std::string::npos || equals == 0) continue;
    std::string name = entry.substr(0, equals);
    std::string value = entry.substr(equals + 1);
    std::string token = "${" + name + "}";
    fits = replaceAll(text, token, value) && fits;
    for (char& c : token) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    fits = replaceAll(text, token, value) && fits;
  }
  return fits;
}

void expandVariables(std::string& text) {
  // A text without "$" or "%" names no variable; skipping it spares the system temporary
  // directory probe and its log lines.
  if (text.find_first_of("$%") == std::string::npos) return;
  ExpansionValues values;
  values.executableDirectory = vmResolveAgainstExeDir("", nullptr);
  values.tempDirectory = vmTempDir();
  values.jvmHome = vmRuntimeHome();
  values.systemTempDirectory = vmSystemTempPath();
  if (!expandVariablesWith(text, values, vmEnvironmentBlock())) {
    logError("Expanded text cut to %u bytes: %s", static_cast<unsigned>(kTextBufferSize - 1), text.c_str());
  }
}

std::string javaHomeForExecutable(std::string_view javaExecutablePath) {
  std::string_view path = javaExecutablePath;
  std::size_t cut = path.size() >= 9 && path.substr(path.size() - 9) == "javaw.exe" ? 9 : 8;
  if (cut > path.size()) cut = path.size();
  return std::string(path.substr(0, path.size() - cut)) + "..";
}

