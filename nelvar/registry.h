// Registry: owner of one open registry key, with operations on its subkeys and on its string and
// 32-bit integer values. Exported by Nelvar.dll for other native code; narrow (ANSI) names.
//
// No operation reports a failure to its caller or throws: a failed call leaves a description in
// lastFailure() and returns normally (false, empty, 0, or nothing written). Two conditions are
// noted there although the operation goes on: setLongValue/setStringValue on a missing value
// create it, and createLongValue/createStringValue replace an existing value. Running out of
// memory is such a failure too, described as "out of memory"; an object whose path could not
// be stored opens no key.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#ifdef NELVAR_BUILDING_DLL
#define NELVAR_API __declspec(dllexport)
#else
#define NELVAR_API __declspec(dllimport)
#endif

namespace nelvar {
enum class RegistryOperation;
enum class RequiredType;
}

class NELVAR_API Registry {
 public:
  enum EKeyHandleType { eClassesRoot = 0, eCurrentConfig = 1, eCurrentUser = 2, eLocalMachine = 3, eUsers = 4 };
  enum EValueType { eLongValue = 0, eStringValue = 1, eOtherValue = 2 };
  // How a key is opened: eReadWrite asks for the rights every operation needs (and the
  // constructors with a create flag use it); eReadOnly asks only for query and enumeration,
  // which users without write access to the key are granted, and never creates the key.
  // A scoped enumeration: a plain one would convert to bool, and Registry(path, eReadOnly)
  // would silently mean Registry(path, create = true).
  enum class EAccessMode { eReadWrite = 0, eReadOnly = 1 };

  static const int cCannotOpenKeyIRC = 3331;
  static const int cCannotRemoveValueIRC = 3332;
  static const int cCannotGetValueIRC = 3333;
  static const int cCannotSetValueIRC = 3334;
  static const int cWrongValueTypeIRC = 3335;
  static const int cWrongValueSizeIRC = 3336;
  static const int cCannotCreateValueIRC = 3337;
  static const int cCannotCreateKeyIRC = 3338;
  static const int cValueNotExistsIRC = 3339;
  static const int cCannotRemoveKeyIRC = 3340;
  static const int cCannotFlushKeyIRC = 3341;

  // The last failure an object met; code 0 while none has occurred.
  struct Failure {
    std::string origin;     // "BaseFW::Registry"
    std::string operation;  // the member's name, e.g. "getLongValue"
    int code = 0;           // one of the c…IRC constants
    std::string text;       // the description, e.g. Failed to open key "X": Win32 error 2: …
  };

  Registry(EKeyHandleType root, const std::string& keyPath, bool create);
  Registry(const std::string& keyPath, bool create);  // root eLocalMachine
  Registry(EKeyHandleType root, const std::string& keyPath, EAccessMode access);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // A new object (owned by the caller) for keyPath\name, same root, created if missing;
  // null only when the object cannot be made.
  Registry* createKey(const std::string& name) const;
  bool existsKey(const std::string& name) const;  // exact, case-sensitive
  void removeKey(const std::string& name) const;  // refuses a subkey that has subkeys
  bool existsValue(const std::string& name, EValueType* type = nullptr) const;
  void removeValue(const std::string& name) const;
  std::vector<std::string> listSubkeys() const;
  std::vector<std::pair<std::string, EValueType> > listValues() const;
  long getLongValue(const std::string& name) const;  // 0 when the value cannot be read
  void setLongValue(const std::string& name, long value) const;  // writes only a change
  void createLongValue(const std::string& name, long value) const;
  std::string getStringValue(const std::string& name) const;  // "" when it cannot be read
  void setStringValue(const std::string& name, const std::string& value) const;  // writes only a change
  void createStringValue(const std::string& name, const std::string& value) const;
  void flush();

  bool isOpen() const { return hKey_ != nullptr; }
  const std::string& keyPath() const { return keyPath_; }
  const Failure& lastFailure() const { return lastFailure_; }

 private:
  void openRegistry(EKeyHandleType root, const std::string& keyPath, bool create);
  void openReadOnly(EKeyHandleType root, const std::string& keyPath);
  bool storePath(const std::string& keyPath) noexcept;
  void fail(nelvar::RegistryOperation operation, int code, const std::string& text) const;
  void failOutOfMemory(nelvar::RegistryOperation operation, int code) const noexcept;
  bool queryValueSize(const std::string& name, DWORD wantedType, nelvar::RequiredType required,
                      nelvar::RegistryOperation operation, DWORD& size) const;
  bool readLong(const std::string& name, long& value, nelvar::RegistryOperation operation) const;
  bool readString(const std::string& name, std::string& value, nelvar::RegistryOperation operation) const;
  void writeValue(const std::string& name, DWORD type, const BYTE* data, DWORD size, nelvar::RegistryOperation operation) const;

  HKEY hKey_ = nullptr;
  std::string keyPath_;
  EKeyHandleType root_;
  mutable Failure lastFailure_;
};
