#include "command_line.h"

bool splitCommandLine(std::u16string_view line, std::vector<std::u16string>& args) {
  constexpr auto npos = std::u16string_view::npos;
  std::u16string_view rest = line;
  while (!rest.empty()) {
    std::size_t doubleQuote = rest.find(u'"');
    std::size_t singleQuote = rest.find(u'\'');
    std::size_t space = rest.find(u' ');
    if (rest[0] == u' ') {
      rest.remove_prefix(1);
      continue;
    }
    // Only the space separates; tabs are ordinary characters.
    if (space != npos && space < doubleQuote && space < singleQuote) {
      args.emplace_back(rest.substr(0, space));
      rest.remove_prefix(space + 1);
      continue;
    }
    std::size_t open = npos;
    if (doubleQuote != npos && (singleQuote == npos || singleQuote > doubleQuote)) open = doubleQuote;
    else if (singleQuote != npos) open = singleQuote;
    if (open == npos) {
      args.emplace_back(rest);
      break;
    }
    std::size_t close = rest.find(rest[open], open + 1);
    if (close == npos) return false;
    std::u16string arg(rest.substr(0, open));
    arg.append(rest.substr(open + 1, close - open - 1));
    args.push_back(std::move(arg));
    rest.remove_prefix(close + 1);
    if (!rest.empty() && rest[0] == u' ') rest.remove_prefix(1);
  }
  return true;
}
