#include "registry.h"

#include <memory>
#include <new>

#include "registry_failure.h"

using nelvar::RegistryOperation;

// Out-of-class definitions give the constants an address in the DLL, so importers can bind them.
const int Registry::cCannotOpenKeyIRC;
const int Registry::cCannotRemoveValueIRC;
const int Registry::cCannotGetValueIRC;
const int Registry::cCannotSetValueIRC;
const int Registry::cWrongValueTypeIRC;
const int Registry::cWrongValueSizeIRC;
const int Registry::cCannotCreateValueIRC;
const int Registry::cCannotCreateKeyIRC;
const int Registry::cValueNotExistsIRC;
const int Registry::cCannotRemoveKeyIRC;
const int Registry::cCannotFlushKeyIRC;

namespace {

// Query value, set value, create subkey, enumerate subkeys, notify and write DAC: what the
// read-write operations need (RegDeleteKeyA asks for DELETE on the subkey by itself).
constexpr REGSAM kReadWriteAccess = 0x4001F;
// Enumeration buffers hold 260 characters; a longer name ends the enumeration there.
constexpr DWORD kNameChars = 260;

HKEY rootKey(Registry::EKeyHandleType root) {
  switch (root) {
    case Registry::eClassesRoot: return HKEY_CLASSES_ROOT;
    case Registry::eCurrentConfig: return HKEY_CURRENT_CONFIG;
    case Registry::eCurrentUser: return HKEY_CURRENT_USER;
    case Registry::eUsers: return HKEY_USERS;
    default: return HKEY_LOCAL_MACHINE;
  }
}

// A registry call's error is the LONG it returned, never GetLastError().
std::string systemText(LONG error) {
  char* message = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                reinterpret_cast<char*>(&message), 0, nullptr);
  std::string text = length && message ? std::string(message, length) : std::string();
  if (message) LocalFree(message);
  return nelvar::systemErrorText(static_cast<std::uint32_t>(error), text);
}

Registry::EValueType classify(DWORD type) {
  if (type == REG_DWORD) return Registry::eLongValue;
  if (type == REG_SZ) return Registry::eStringValue;
  return Registry::eOtherValue;
}

}  // namespace

// Every exported member catches std::bad_alloc itself: the caller is native code that expects
// no exception, and the class promises that every call returns normally.

Registry::Registry(EKeyHandleType root, const std::string& keyPath, bool create) : root_(root) {
  if (storePath(keyPath)) openRegistry(root, keyPath, create);
}

Registry::Registry(const std::string& keyPath, bool create) : Registry(eLocalMachine, keyPath, create) {}

Registry::Registry(EKeyHandleType root, const std::string& keyPath, EAccessMode access) : root_(root) {
  if (!storePath(keyPath)) return;
  if (access == EAccessMode::eReadOnly) openReadOnly(root, keyPath);
  else openRegistry(root, keyPath, false);
}

// Without its path an object cannot name its subkeys or describe its failures: it stays closed.
bool Registry::storePath(const std::string& keyPath) noexcept {
  try {
    keyPath_ = keyPath;
    return true;
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::openRegistry, cCannotOpenKeyIRC);
    return false;
  }
}

Registry::~Registry() {
  if (hKey_ != nullptr) {
    RegCloseKey(hKey_);
    hKey_ = nullptr;
  }
}

void Registry::openRegistry(EKeyHandleType root, const std::string& keyPath, bool create) {
  LONG rc = RegOpenKeyExA(rootKey(root), keyPath.c_str(), 0, kReadWriteAccess, &hKey_);
  if (rc != ERROR_SUCCESS && create) {
    rc = RegCreateKeyExA(rootKey(root), keyPath.c_str(), 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, &hKey_, nullptr);
  }
  if (rc != ERROR_SUCCESS) {
    hKey_ = nullptr;
    try {
      fail(RegistryOperation::openRegistry, cCannotOpenKeyIRC, nelvar::describeOpenFailure(keyPath, systemText(rc)));
    } catch (const std::bad_alloc&) {
      failOutOfMemory(RegistryOperation::openRegistry, cCannotOpenKeyIRC);
    }
  }
}

void Registry::openReadOnly(EKeyHandleType root, const std::string& keyPath) {
  LONG rc = RegOpenKeyExA(rootKey(root), keyPath.c_str(), 0, KEY_READ, &hKey_);
  if (rc != ERROR_SUCCESS) {
    hKey_ = nullptr;
    try {
      fail(RegistryOperation::openRegistry, cCannotOpenKeyIRC, nelvar::describeOpenFailure(keyPath, systemText(rc)));
    } catch (const std::bad_alloc&) {
      failOutOfMemory(RegistryOperation::openRegistry, cCannotOpenKeyIRC);
    }
  }
}

void Registry::fail(RegistryOperation operation, int code, const std::string& text) const {
  lastFailure_.origin = nelvar::registryOriginName();
  lastFailure_.operation = nelvar::registryOperationName(operation);
  lastFailure_.code = code;
  lastFailure_.text = text;
}

// Records what it can without memory: the code always, the names when they still fit.
void Registry::failOutOfMemory(RegistryOperation operation, int code) const noexcept {
  lastFailure_.code = code;
  try {
    lastFailure_.text = "out of memory";  // short enough for the string's own storage
    lastFailure_.origin = nelvar::registryOriginName();
    lastFailure_.operation = nelvar::registryOperationName(operation);
  } catch (const std::bad_alloc&) {
    lastFailure_.origin.clear();
    lastFailure_.operation.clear();
  }
}

Registry* Registry::createKey(const std::string& name) const {
  std::string subkeyPath;
  try {
    subkeyPath = nelvar::joinKeyPath(keyPath_, name);
    std::unique_ptr<Registry> subkey(new Registry(root_, subkeyPath, true));
    // An object that could not keep its path stands for no key: as good as not made.
    if (subkey->keyPath_ == subkeyPath) return subkey.release();
  } catch (const std::bad_alloc&) {
  }
  try {
    fail(RegistryOperation::createKey, cCannotCreateKeyIRC, nelvar::describeSubkeyObjectFailure(subkeyPath));
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::createKey, cCannotCreateKeyIRC);
  }
  return nullptr;
}

bool Registry::existsKey(const std::string& name) const {
  try {
    for (const std::string& subkey : listSubkeys()) {
      if (subkey == name) return true;
    }
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::existsKey, cCannotGetValueIRC);
  }
  return false;
}

void Registry::removeKey(const std::string& name) const {
  LONG rc = RegDeleteKeyA(hKey_, name.c_str());
  try {
    if (rc == ERROR_FILE_NOT_FOUND) {
      fail(RegistryOperation::removeKey, cCannotRemoveKeyIRC, nelvar::describeMissingSubkey(name));
    } else if (rc != ERROR_SUCCESS) {
      fail(RegistryOperation::removeKey, cCannotRemoveKeyIRC, nelvar::describeRemoveKeyFailure(name, systemText(rc)));
    }
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::removeKey, cCannotRemoveKeyIRC);
  }
}

bool Registry::existsValue(const std::string& name, EValueType* type) const {
  DWORD valueType = REG_NONE;
  if (RegQueryValueExA(hKey_, name.c_str(), nullptr, &valueType, nullptr, nullptr) != ERROR_SUCCESS) return false;
  if (type != nullptr) *type = classify(valueType);
  return true;
}

void Registry::removeValue(const std::string& name) const {
  LONG rc = RegDeleteValueA(hKey_, name.c_str());
  try {
    if (rc == ERROR_FILE_NOT_FOUND) {
      fail(RegistryOperation::removeValue, cValueNotExistsIRC, nelvar::describeMissingValueOnRemove(name));
    } else if (rc != ERROR_SUCCESS) {
      fail(RegistryOperation::removeValue, cCannotRemoveValueIRC,
           nelvar::describeRemoveValueFailure(name, systemText(rc)));
    }
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::removeValue, cCannotRemoveValueIRC);
  }
}

// Out of memory ends an enumeration like any other failure: with what was collected so far.
std::vector<std::string> Registry::listSubkeys() const {
  std::vector<std::string> names;
  char name[kNameChars];
  try {
    for (DWORD index = 0;; ++index) {
      DWORD length = kNameChars;
      if (RegEnumKeyExA(hKey_, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::listSubkeys, cCannotGetValueIRC);
  }
  return names;
}

std::vector<std::pair<std::string, Registry::EValueType> > Registry::listValues() const {
  std::vector<std::pair<std::string, EValueType> > values;
  char name[kNameChars];
  try {
    for (DWORD index = 0;; ++index) {
      DWORD length = kNameChars;
      DWORD type = REG_NONE;
      if (RegEnumValueA(hKey_, index, name, &length, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) break;
      values.emplace_back(std::string(name, length), classify(type));
    }
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::listValues, cCannotGetValueIRC);
  }
  return values;
}

// Asks for a value's type and size. A failure is recorded under the calling operation; for a set,
// a missing value is worded as such (the set then creates it).
bool Registry::queryValueSize(const std::string& name, DWORD wantedType, nelvar::RequiredType required,
                              RegistryOperation operation, DWORD& size) const {
  bool forSet = operation == RegistryOperation::setLongValue || operation == RegistryOperation::setStringValue;
  DWORD type = REG_NONE;
  size = 0;
  LONG rc = RegQueryValueExA(hKey_, name.c_str(), nullptr, &type, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND && forSet) {
    fail(operation, cValueNotExistsIRC, nelvar::describeMissingValueOnSet(name));
    return false;
  }
  if (rc != ERROR_SUCCESS) {
    fail(operation, rc == ERROR_FILE_NOT_FOUND ? cValueNotExistsIRC : cCannotGetValueIRC,
         nelvar::describeQueryFailure(name, systemText(rc)));
    return false;
  }
  if (type != wantedType) {
    fail(operation, cWrongValueTypeIRC, nelvar::describeWrongType(name, type, required));
    return false;
  }
  return true;
}

// Reads a REG_DWORD of exactly four bytes.
bool Registry::readLong(const std::string& name, long& value, RegistryOperation operation) const {
  DWORD type = REG_DWORD;
  DWORD size = 0;
  if (!queryValueSize(name, REG_DWORD, nelvar::RequiredType::dword, operation, size)) return false;
  if (size != sizeof(DWORD)) {
    fail(operation, cWrongValueSizeIRC, nelvar::describeWrongSize(name, size));
    return false;
  }
  DWORD data = 0;
  size = sizeof data;
  LONG rc = RegQueryValueExA(hKey_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (rc != ERROR_SUCCESS) {
    fail(operation, cCannotGetValueIRC, nelvar::describeQueryFailure(name, systemText(rc)));
    return false;
  }
  value = static_cast<long>(data);
  return true;
}

// Reads a REG_SZ into a buffer of exactly the size the registry reports; the text ends at the
// first zero byte within the bytes returned, so a value stored without its terminator is not
// read past its end.
bool Registry::readString(const std::string& name, std::string& value, RegistryOperation operation) const {
  DWORD type = REG_SZ;
  DWORD size = 0;
  if (!queryValueSize(name, REG_SZ, nelvar::RequiredType::string, operation, size)) return false;
  std::string buffer(size, '\0');
  DWORD returned = size;
  LONG rc = RegQueryValueExA(hKey_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &returned);
  if (rc != ERROR_SUCCESS) {
    fail(operation, cCannotGetValueIRC, nelvar::describeQueryFailure(name, systemText(rc)));
    return false;
  }
  value = nelvar::stringFromRegistryBytes(buffer.data(), returned < size ? returned : size);
  return true;
}

void Registry::writeValue(const std::string& name, DWORD type, const BYTE* data, DWORD size,
                          RegistryOperation operation) const {
  LONG rc = RegSetValueExA(hKey_, name.c_str(), 0, type, data, size);
  if (rc == ERROR_SUCCESS) return;
  bool create = operation == RegistryOperation::createLongValue || operation == RegistryOperation::createStringValue;
  if (create) fail(operation, cCannotCreateValueIRC, nelvar::describeCreateValueFailure(name, systemText(rc)));
  else fail(operation, cCannotSetValueIRC, nelvar::describeSetFailure(name, systemText(rc)));
}

long Registry::getLongValue(const std::string& name) const {
  long value = 0;
  try {
    readLong(name, value, RegistryOperation::getLongValue);
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::getLongValue, cCannotGetValueIRC);
  }
  return value;
}

void Registry::setLongValue(const std::string& name, long value) const {
  try {
    long current = 0;
    if (readLong(name, current, RegistryOperation::setLongValue) && current == value) return;
    DWORD data = static_cast<DWORD>(value);
    writeValue(name, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data, RegistryOperation::setLongValue);
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::setLongValue, cCannotSetValueIRC);
  }
}

void Registry::createLongValue(const std::string& name, long value) const {
  try {
    if (existsValue(name)) {
      fail(RegistryOperation::createLongValue, cCannotCreateValueIRC, nelvar::describeExistingValueOnCreate(name));
    }
    DWORD data = static_cast<DWORD>(value);
    writeValue(name, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data, RegistryOperation::createLongValue);
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::createLongValue, cCannotCreateValueIRC);
  }
}

std::string Registry::getStringValue(const std::string& name) const {
  std::string value;
  try {
    readString(name, value, RegistryOperation::getStringValue);
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::getStringValue, cCannotGetValueIRC);
  }
  return value;
}

void Registry::setStringValue(const std::string& name, const std::string& value) const {
  try {
    std::string current;
    if (readString(name, current, RegistryOperation::setStringValue) && current == value) return;
    writeValue(name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1),
               RegistryOperation::setStringValue);
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::setStringValue, cCannotSetValueIRC);
  }
}

void Registry::createStringValue(const std::string& name, const std::string& value) const {
  try {
    if (existsValue(name)) {
      fail(RegistryOperation::createStringValue, cCannotCreateValueIRC, nelvar::describeExistingValueOnCreate(name));
    }
    writeValue(name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1),
               RegistryOperation::createStringValue);
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::createStringValue, cCannotCreateValueIRC);
  }
}

void Registry::flush() {
  LONG rc = RegFlushKey(hKey_);
  if (rc == ERROR_SUCCESS) return;
  try {
    fail(RegistryOperation::flush, cCannotFlushKeyIRC, nelvar::describeFlushFailure(keyPath_, systemText(rc)));
  } catch (const std::bad_alloc&) {
    failOutOfMemory(RegistryOperation::flush, cCannotFlushKeyIRC);
  }
}
