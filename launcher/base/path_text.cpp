#include "base/path_text.h"

bool isRelativePath(std::string_view path) {
  if (path.size() < 3) return true;
  if (path[0] == '"') {
    path.remove_prefix(1);
    if (path.size() < 3) return true;
  }
  if (path[1] == ':' && path[2] == '\\') return false;
  if (path[0] == '\\' && path[1] == '\\') return false;
  return true;
}

std::u16string collapseBackslashes(std::u16string_view path) {
  std::u16string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i >= 2 && path[i] == u'\\' && path[i - 1] == u'\\') continue;
    out.push_back(path[i]);
  }
  return out;
}

bool isDriveRootSpec(std::string_view path) {
  if (path.size() < 3) return false;
  char letter = path[0];
  bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
  if (!isLetter || path.substr(1, 2) != ":\\") return false;
  std::string_view rest = path.substr(3);
  return rest.empty() || rest == "." || rest == ".\\.";
}

std::string joinPath(std::string_view directory, std::string_view name) {
  while (!directory.empty() && directory.back() == '\\') directory.remove_suffix(1);
  while (!name.empty() && name.front() == '\\') name.remove_prefix(1);
  std::string joined(directory);
  joined += '\\';
  joined += name;
  return joined;
}

std::string directoryPart(std::string_view path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::vector<std::string> splitPathList(std::string_view list) {
  std::vector<std::string> elements;
  while (true) {
    std::size_t end = list.find(';');
    std::string_view element = list.substr(0, end);
    if (element.empty()) break;
    elements.emplace_back(element);
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return elements;
}

std::string joinPathList(const std::vector<std::string>& elements) {
  std::string joined;
  for (const std::string& element : elements) {
    if (!joined.empty()) joined += ';';
    joined += element;
  }
  return joined;
}

std::string directorySearchPattern(std::string_view directory, std::string_view extension) {
  std::string pattern(directory);
  pattern += "\\*";
  if (extension.empty() || extension[0] != '.') pattern += '.';
  pattern += extension;
  return pattern;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}
