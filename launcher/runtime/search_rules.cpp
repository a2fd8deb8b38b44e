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

std::string locatedRuntimeKey(const std::string& exePath) {
  return "SOFTWARE\\harwell\\nimbo\\locatedjvms\\" + slashesTo(exePath, '\\', '/');
}

std::string locatedRuntimeExecutable(std::string_view subkeyName) { return slashesTo(subkeyName, '/', '\\'); }

std::string javaSoftCurrentKey(const std::string& jdkVersion, const std::string& jreVersion) {
  if (jdkVersion > jreVersion) return std::string(kJavaSoftJdkKey) + "\\" + jdkVersion;
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
  for (const char* type : {"hotspot", "client", "server", "classic", "jrockit"}) types.emplace_back(type);
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
