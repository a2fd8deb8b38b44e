#include "registry_failure.h"

#include <cstring>

namespace nelvar {

namespace {

std::string describe(const char* opening, const std::string& subject, const std::string& closing) {
  return opening + ('"' + subject + '"') + closing;
}

}  // namespace

const std::string& registryOriginName() {
  static const std::string origin = "BaseFW::Registry";
  return origin;
}

const std::string& registryOperationName(RegistryOperation operation) {
  // Indexed by the enumerators, in their order.
  static const std::string names[] = {
      "Registry",       "~Registry",       "openRegistry",   "createKey",       "existsKey",
      "removeKey",      "existsValue",     "removeValue",    "listSubkeys",     "listValues",
      "getLongValue",   "setLongValue",    "createLongValue", "getStringValue", "setStringValue",
      "createStringValue", "flush",
  };
  static_assert(sizeof names / sizeof names[0] == static_cast<std::size_t>(RegistryOperation::flush) + 1,
                "one name per operation");
  return names[static_cast<std::size_t>(operation)];
}

std::string registryTypeName(std::uint32_t type) {
  switch (type) {
    case 0: return "REG_NONE";
    case 1: return "REG_SZ";
    case 2: return "REG_EXPAND_SZ";
    case 3: return "REG_BINARY";
    case 4: return "REG_DWORD";
    case 5: return "REG_DWORD_BIG_ENDIAN";
    case 7: return "REG_MULTI_SZ";
    case 8: return "REG_RESOURCE_LIST";
    default: return "Unknown type";  // REG_LINK (6) included
  }
}

std::string systemErrorText(std::uint32_t error, const std::string& systemMessage) {
  std::string message = systemMessage;
  // System messages end with a line break; a description is one line.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  std::string text = "Win32 error " + std::to_string(error);
  if (message.empty()) return text + " : <<no message text>>";
  return text + ": " + message;
}

std::string describeOpenFailure(const std::string& keyPath, const std::string& systemText) {
  return describe("Failed to open key ", keyPath, ": " + systemText);
}

std::string describeSubkeyObjectFailure(const std::string& subkeyPath) {
  return describe("Cannot create the subkey ", subkeyPath, "");
}

std::string describeMissingSubkey(const std::string& name) {
  return describe("Failed to remove subkey: Key ", name, " does not exist.");
}

std::string describeRemoveKeyFailure(const std::string& name, const std::string& systemText) {
  return describe("Failed to remove subkey ", name, ": " + systemText);
}

std::string describeMissingValueOnRemove(const std::string& name) {
  return describe("Failed to remove value: Value ", name, " does not exist.");
}

std::string describeRemoveValueFailure(const std::string& name, const std::string& systemText) {
  return describe("Failed to remove value ", name, ": " + systemText);
}

std::string describeQueryFailure(const std::string& name, const std::string& systemText) {
  return describe("Failed to get value of ", name, ": " + systemText);
}

std::string describeWrongType(const std::string& name, std::uint32_t actualType, RequiredType required) {
  const char* requiredName = required == RequiredType::dword ? "REG_DWORD" : "REG_SZ";
  return describe("Value ", name,
                  " in registry has wrong type (" + registryTypeName(actualType) + "); " + requiredName +
                      " required for this operation.");
}

std::string describeWrongSize(const std::string& name, std::uint32_t actualSize) {
  return describe("Value ", name,
                  " in registry has wrong size (" + std::to_string(actualSize) + "); 4 required for this operation.");
}

std::string describeMissingValueOnSet(const std::string& name) {
  return describe("Failed to set value of ", name, ": Value does not exist.");
}

std::string describeSetFailure(const std::string& name, const std::string& systemText) {
  return describe("Failed to set value of ", name, ": " + systemText);
}

std::string describeExistingValueOnCreate(const std::string& name) {
  return describe("Failed to create value: Value ", name, " already exists.");
}

std::string describeCreateValueFailure(const std::string& name, const std::string& systemText) {
  return describe("Failed to create value ", name, ": " + systemText);
}

std::string describeFlushFailure(const std::string& keyPath, const std::string& systemText) {
  return describe("Failed to flush the key ", keyPath, ": " + systemText);
}

std::string joinKeyPath(const std::string& parent, const std::string& name) {
  if (parent.empty()) return name;
  if (parent.back() == '\\') return parent + name;
  return parent + '\\' + name;
}

std::string stringFromRegistryBytes(const char* bytes, std::size_t size) {
  if (bytes == nullptr) return {};
  const void* zero = std::memchr(bytes, 0, size);
  return std::string(bytes, zero ? static_cast<const char*>(zero) - bytes : size);
}

}  // namespace nelvar
