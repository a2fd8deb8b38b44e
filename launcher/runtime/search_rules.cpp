#include "runtime/search_rules.h"

#include <algorithm>

namespace {

bool endsWithNoCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  std::string_view end = text.substr(text.size() - tail.size());
  return std::equal(end.begin(), end.end(), tail.begin(), [](char a, char b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(a) == lower(b);
  });
}

std::string slashesTo(std::string_view text, char from, char to) {
  std::string out(text);
  std::replace(out.begin(), out.end(), from, to);
  return out;
}

}  // namespace

std::vector<SearchItem> parseSearchList(std::string_view list) {
  std::vector<SearchItem> items;
  for (const std::string& item : splitNonEmpty(list, ';')) items.push_back(SearchItem{item[0], item.substr(1)});
  return items;
}

bool isAbsoluteSearchArgument(std::string_view argument) {
  if (argument.size() < 2) return false;
  return argument[1] == ':' || (argument[0] == '\\' && argument[1] == '\\');
}

bool triedInRelativePass(const SearchItem& item) {
  if (item.kind == 'B') return true;
  return (item.kind == 'A' || item.kind == 'R') && !isAbsoluteSearchArgument(item.argument);
}

std::string jdkJavaExecutable(const std::string& home) { return home + "\\jre\\bin\\java.exe"; }

std::string jreJavaExecutable(const std::string& home) { return home + "\\bin\\java.exe"; }

std::string toolsJarPath(const std::string& home) { return home + "\\lib\\tools.jar"; }

std::string javacPath(const std::string& home) { return home + "\\bin\\javac.exe"; }

std::vector<std::string> releaseFileCandidates(std::string_view exePath) {
  std::vector<std::string> files;
  std::optional<std::string> binDir = binDirectoryOf(exePath);
  std::size_t cut = binDir ? binDir->rfind('\\') : std::string::npos;
  if (cut == std::string::npos) return files;
  std::string home = binDir->substr(0, cut);
  files.push_back(home + "\\release");
  std::size_t kitCut = home.rfind('\\');
  if (kitCut != std::string::npos && endsWithNoCase(home, "\\jre")) files.push_back(home.substr(0, kitCut) + "\\release");
  return files;
}

const std::vector<RegisteredRuntimeKey>& registeredRuntimeKeys() {
  // Java 8 and older, and Oracle's 9 and later, write JavaSoft keys; the OpenJDK vendors' MSI
  // packages write keys of their own and the JavaSoft ones only when asked to.
  static const std::vector<RegisteredRuntimeKey> keys = [] {
    std::vector<RegisteredRuntimeKey> list = {
        {"SOFTWARE\\JavaSoft\\Java Runtime Environment\\*", "JavaHome", true},
        {"SOFTWARE\\JavaSoft\\Java Development Kit\\*", "JavaHome", false},
        {"SOFTWARE\\JavaSoft\\JRE\\*", "JavaHome", true},
        {"SOFTWARE\\JavaSoft\\JDK\\*", "JavaHome", false},
    };
    // <vendor>\{JDK,JRE}\<version>\{hotspot,openj9}\MSI, value "Path".
    static const char* const vendorKeys[][2] = {
        {"SOFTWARE\\Eclipse Adoptium\\JDK\\*\\*\\MSI", "SOFTWARE\\Eclipse Adoptium\\JRE\\*\\*\\MSI"},
        {"SOFTWARE\\AdoptOpenJDK\\JDK\\*\\*\\MSI", "SOFTWARE\\AdoptOpenJDK\\JRE\\*\\*\\MSI"},
        {"SOFTWARE\\Eclipse Foundation\\JDK\\*\\*\\MSI", "SOFTWARE\\Eclipse Foundation\\JRE\\*\\*\\MSI"},
        {"SOFTWARE\\Microsoft\\JDK\\*\\*\\MSI", "SOFTWARE\\Microsoft\\JRE\\*\\*\\MSI"},
        {"SOFTWARE\\Semeru\\JDK\\*\\*\\MSI", "SOFTWARE\\Semeru\\JRE\\*\\*\\MSI"},
    };
    for (const auto& vendor : vendorKeys) {
      list.push_back({vendor[0], "Path", false});
      list.push_back({vendor[1], "Path", true});
    }
    // zulu-<N> (and the 32-bit packages' own names), jdk-<N>: one subkey per install.
    list.push_back({"SOFTWARE\\Azul Systems\\Zulu\\*", "InstallationPath", false});
    list.push_back({"SOFTWARE\\BellSoft\\Liberica\\*", "InstallationPath", false});
    return list;
  }();
  return keys;
}

std::vector<std::string> keyPatternLevels(std::string_view pattern) { return splitNonEmpty(pattern, '\\'); }

std::vector<std::string> searchPathFolders(std::string_view path) {
  std::vector<std::string> folders;
  std::string folder;
  bool quoted = false;
  auto finish = [&] {
    while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    if (!folder.empty()) folders.push_back(folder);
    folder.clear();
  };
  for (char c : path) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ';' && !quoted) {
      finish();
    } else {
      folder.push_back(c);
    }
  }
  finish();
  return folders;
}

std::string locatedRuntimeKey(const std::string& exePath) {
  return "SOFTWARE\\harwell\\nimbo\\locatedjvms\\" + slashesTo(exePath, '\\', '/');
}

std::string locatedRuntimeExecutable(std::string_view subkeyName) { return slashesTo(subkeyName, '/', '\\'); }

std::string javaSoftCurrentKey(const std::string& jdkVersion, const std::string& jreVersion, VersionScheme scheme) {
  if (compareVersions(jdkVersion, jreVersion, scheme) > 0) return std::string(kJavaSoftJdkKey) + "\\" + jdkVersion;
  return std::string(kJavaSoftJreKey) + "\\" + jreVersion;
}

std::optional<std::string> binDirectoryOf(std::string_view exePath) {
  std::size_t cut = endsWithNoCase(exePath, "javaw.exe") ? 10 : 9;
  if (exePath.size() < cut) return std::nullopt;
  return std::string(exePath.substr(0, exePath.size() - cut));
}

std::optional<std::string> embeddedRuntimeExecutable(std::string_view exePath) {
  std::size_t cut = endsWithNoCase(exePath, "javaw.exe") ? 9 : 8;
  if (exePath.size() < cut) return std::nullopt;
  return std::string(exePath.substr(0, exePath.size() - cut)) + "..\\jre\\bin\\java.exe";
}

std::optional<std::string> windowedExecutable(std::string_view exePath) {
  if (exePath.size() < 4) return std::nullopt;
  return std::string(exePath.substr(0, exePath.size() - 4)) + "w.exe";
}

std::vector<std::string> vmTypeOrder(const std::string& preferredVmType) {
  std::vector<std::string> types;
  if (!preferredVmType.empty()) types.push_back(preferredVmType);
  for (const char* type : {"hotspot", "client", "server", "classic", "jrockit", "j9vm"}) types.emplace_back(type);
  return types;
}

std::vector<std::string> vmLibraryCandidates(std::string_view exePath, const std::string& preferredVmType) {
  std::vector<std::string> candidates;
  std::optional<std::string> embedded = embeddedRuntimeExecutable(exePath);
  for (std::optional<std::string> exe : {std::optional<std::string>(std::string(exePath)), embedded}) {
    std::optional<std::string> binDir = exe ? binDirectoryOf(*exe) : std::nullopt;
    if (!binDir) continue;
    for (const std::string& type : vmTypeOrder(preferredVmType)) {
      candidates.push_back(*binDir + "\\" + type + "\\jvm.dll");
    }
  }
  return candidates;
}

std::vector<std::string> splitNonEmpty(std::string_view list, char sep) {
  std::vector<std::string> elements;
  while (!list.empty()) {
    std::size_t end = list.find(sep);
    std::string_view element = list.substr(0, end);
    if (!element.empty()) elements.emplace_back(element);
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return elements;
}
