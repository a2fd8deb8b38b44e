// Texts that describe a failed registry operation of the Registry class: its origin and
// operation names, registry type names and the one-line failure descriptions.
#pragma once
#include <cstdint>
#include <string>

namespace nelvar {

// Origin of every failure description ("BaseFW::Registry").
const std::string& registryOriginName();

// The class's operations, named in failure records as the class spells them.
enum class RegistryOperation {
  construct,
  destruct,
  openRegistry,
  createKey,
  existsKey,
  removeKey,
  existsValue,
  removeValue,
  listSubkeys,
  listValues,
  getLongValue,
  setLongValue,
  createLongValue,
  getStringValue,
  setStringValue,
  createStringValue,
  flush,
};
const std::string& registryOperationName(RegistryOperation operation);

// "REG_SZ", "REG_DWORD", … for the registry's type numbers; "Unknown type" for the rest.
std::string registryTypeName(std::uint32_t type);

// "Win32 error <n>: <message>" with the system's message (trailing line breaks dropped), or
// "Win32 error <n> : <<no message text>>" when the system has none.
std::string systemErrorText(std::uint32_t error, const std::string& systemMessage);

// The failure descriptions: an opening text, the subject in double quotes, a closing text.
// Arguments named systemText take the result of systemErrorText.
std::string describeOpenFailure(const std::string& keyPath, const std::string& systemText);
std::string describeSubkeyObjectFailure(const std::string& subkeyPath);
std::string describeMissingSubkey(const std::string& name);
std::string describeRemoveKeyFailure(const std::string& name, const std::string& systemText);
std::string describeMissingValueOnRemove(const std::string& name);
std::string describeRemoveValueFailure(const std::string& name, const std::string& systemText);
std::string describeQueryFailure(const std::string& name, const std::string& systemText);
enum class RequiredType { dword, string };
std::string describeWrongType(const std::string& name, std::uint32_t actualType, RequiredType required);
std::string describeWrongSize(const std::string& name, std::uint32_t actualSize);
std::string describeMissingValueOnSet(const std::string& name);
std::string describeSetFailure(const std::string& name, const std::string& systemText);
std::string describeExistingValueOnCreate(const std::string& name);
std::string describeCreateValueFailure(const std::string& name, const std::string& systemText);
std::string describeFlushFailure(const std::string& keyPath, const std::string& systemText);

// The path of a direct subkey: parent + "\" + name, without doubling a backslash that ends the
// parent (the class key's path is written with one), since an empty path element opens nothing.
std::string joinKeyPath(const std::string& parent, const std::string& name);

// The text of a REG_SZ value from the bytes the registry returned: up to the first zero byte,
// or all of them when there is none (a value stored without its terminator).
std::string stringFromRegistryBytes(const char* bytes, std::size_t size);

}  // namespace nelvar
