// String values of the registry as the runtime search and the version cache read them.
#pragma once
#include <windows.h>

// Opens root\key read-only, reads the string value into buffer (size bytes) and closes the key.
// False when the key or value is missing, is not a string, or does not fit; the buffer is then
// left holding "" (size permitting). A stored value without a terminating zero is terminated.
bool readRegistryString(HKEY root, const char* key, const char* value, char* buffer, DWORD size);

// The same on an open key.
bool queryRegistryString(HKEY key, const char* value, char* buffer, DWORD size);
