#include "runtime/vm_library.h"

bool LoadDLL(bool, const char*, bool) { return false; }
