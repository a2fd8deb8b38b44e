#include "process/instance_name.h"

std::string singleInstanceNameFor(std::string_view lowerCaseExePath, bool globalNamespace) {
  std::string name = globalNamespace ? "Global\\" : "";
  for (char c : lowerCaseExePath) name += c == '\\' ? '_' : c;
  return name;
}
