// Hostile search lists (entry 128) and runtime paths: items must cover the list exactly, and
// every path cut must check its length first and cut only what it names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/search_rules.h"

namespace {

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool endsWithNoCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = text[text.size() - tail.size() + i];
    if ((c >= 'A' && c <= 'Z' ? c + 32 : c) != tail[i]) return false;
  }
  return true;
}

void checkCut(const std::optional<std::string>& cut, std::string_view path, std::size_t cutLength,
              std::string_view appended) {
  if (path.size() < cutLength) {
    if (cut) std::abort();
    return;
  }
  if (!cut || cut->size() != path.size() - cutLength + appended.size() || !startsWith(path, cut->substr(0, path.size() - cutLength)) ||
      cut->compare(path.size() - cutLength, std::string::npos, appended) != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is the search list, and also a path and a separator for the other rules.
  std::string_view list(reinterpret_cast<const char*>(data), size);

  std::vector<SearchItem> items = parseSearchList(list);
  std::string joined;
  for (const SearchItem& item : items) {
    if (item.kind == ';' || item.argument.find(';') != std::string::npos) std::abort();
    if (item.kind == 'B' && !triedInRelativePass(item)) std::abort();
    if (isAbsoluteSearchArgument(item.argument) && item.kind != 'B' && triedInRelativePass(item)) std::abort();
    if (!joined.empty()) joined += ';';
    joined += item.kind;
    joined += item.argument;
  }
  std::string expected;
  for (char c : list) {
    if (c == ';' && (expected.empty() || expected.back() == ';')) continue;
    expected += c;
  }
  if (!expected.empty() && expected.back() == ';') expected.pop_back();
  if (joined != expected) std::abort();

  char separator = size > 0 ? static_cast<char>(data[0]) : ';';
  std::size_t total = 0;
  for (const std::string& element : splitNonEmpty(list, separator)) {
    if (element.empty() || element.find(separator) != std::string::npos) std::abort();
    total += element.size();
  }
  if (total > list.size()) std::abort();

  bool windowed = endsWithNoCase(list, "javaw.exe");
  checkCut(binDirectoryOf(list), list, windowed ? 10 : 9, "");
  checkCut(embeddedRuntimeExecutable(list), list, windowed ? 9 : 8, "..\\jre\\bin\\java.exe");
  checkCut(windowedExecutable(list), list, 4, "w.exe");

  std::string path(list);
  std::string key = locatedRuntimeKey(path);
  if (key.size() < path.size() || key.find('\\', key.size() - path.size()) != std::string::npos) std::abort();
  if (path.find('/') == std::string::npos && locatedRuntimeExecutable(std::string_view(key).substr(key.size() - path.size())) != path) {
    std::abort();
  }
  if (vmTypeOrder(path).size() != (path.empty() ? 6u : 7u)) std::abort();
  for (const std::string& folder : searchPathFolders(path)) {
    if (folder.empty() || folder.find('"') != std::string::npos) std::abort();
  }
  std::string current = javaSoftCurrentKey(path, items.empty() ? std::string() : items[0].argument);
  if (!startsWith(current, kJavaSoftJdkKey) && !startsWith(current, kJavaSoftJreKey)) std::abort();
  return 0;
}
