#include "runtime/vm_library.h"
#include "runtime/runtime_search.h"

bool LoadDLL(bool, const char*, bool) { return false; }

void rememberLocatedRuntime(const char*) {}
