#include "import_patch.h"

#include <cstring>

namespace {

void writeSlot(void** slot, void* value) {
  DWORD previous = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous);
  *slot = value;
  VirtualProtect(slot, sizeof *slot, previous, &previous);
}

// The import address table slot of function in module's imports from importedDll.
void** findSlot(HMODULE module, const char* importedDll, const char* function) {
  if (module == nullptr) return nullptr;
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return nullptr;
  for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); import->Name;
       ++import) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), importedDll) != 0) continue;
    // The name table lists what the address table holds, entry for entry.
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
    auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++addresses) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
        return reinterpret_cast<void**>(&addresses->u1.Function);
      }
    }
  }
  return nullptr;
}

}  // namespace

ImportPatch::ImportPatch(HMODULE module, const char* importedDll, const char* function, void* replacement)
    : slot_(findSlot(module, importedDll, function)) {
  if (!slot_) return;
  original_ = *slot_;
  writeSlot(slot_, replacement);
}

ImportPatch::~ImportPatch() {
  if (slot_) writeSlot(slot_, original_);
}

namespace {

const ImportPatch* g_createProcessPatch = nullptr;
DWORD g_recordedCreationFlags = 0;

BOOL WINAPI recordingCreateProcess(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                                   LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                   LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
  g_recordedCreationFlags |= flags;
  using Original = decltype(&CreateProcessA);
  return reinterpret_cast<Original>(g_createProcessPatch->original())(application, commandLine, process, thread,
                                                                      inherit, flags, environment, directory,
                                                                      startup, info);
}

}  // namespace

CreationFlagsRecorder::CreationFlagsRecorder()
    : patch_(GetModuleHandleA(nullptr), "kernel32.dll", "CreateProcessA",
             reinterpret_cast<void*>(recordingCreateProcess)) {
  g_createProcessPatch = &patch_;
  g_recordedCreationFlags = 0;
}

CreationFlagsRecorder::~CreationFlagsRecorder() { g_createProcessPatch = nullptr; }

DWORD CreationFlagsRecorder::flags() const { return g_recordedCreationFlags; }
