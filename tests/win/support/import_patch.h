// Replaces one imported function of one loaded module by rewriting its import address table, so
// a test can give a DLL a fault the platform will not produce on demand (an allocation that
// fails, a write that leaves a last-error value behind). Only that module's calls are affected.
#pragma once
#include <windows.h>

class ImportPatch {
 public:
  // Patches `function` imported by `module` from `importedDll` (case-insensitive name); the
  // original is put back on destruction. ok() is false when the module does not import it.
  ImportPatch(HMODULE module, const char* importedDll, const char* function, void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  bool ok() const { return slot_ != nullptr; }
  // The function the module called before the patch.
  void* original() const { return original_; }

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

// Records the creation flags of every CreateProcessA call the program makes while it lives (all
// of them OR-ed together); the calls themselves go on as before.
class CreationFlagsRecorder {
 public:
  CreationFlagsRecorder();
  ~CreationFlagsRecorder();
  CreationFlagsRecorder(const CreationFlagsRecorder&) = delete;
  CreationFlagsRecorder& operator=(const CreationFlagsRecorder&) = delete;

  bool ok() const { return patch_.ok(); }
  DWORD flags() const;

 private:
  ImportPatch patch_;
};
