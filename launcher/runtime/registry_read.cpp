#include "runtime/registry_read.h"

#include "base/handles.h"

bool queryRegistryString(HKEY key, const char* value, char* buffer, DWORD size) {
  if (size == 0) return false;
  buffer[0] = '\0';
  // One byte stays free for the terminator that a value stored without one lacks.
  DWORD bytes = size - 1;
  DWORD type = REG_NONE;
  LONG status = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    buffer[0] = '\0';
    return false;
  }
  buffer[bytes] = '\0';
  return true;
}

bool readRegistryString(HKEY root, const char* key, const char* value, char* buffer, DWORD size) {
  if (size > 0) buffer[0] = '\0';
  RegKey opened;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &opened.h) != ERROR_SUCCESS) {
    opened.h = nullptr;
    return false;
  }
  return queryRegistryString(opened.h, value, buffer, size);
}
