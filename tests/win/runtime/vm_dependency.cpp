// The library the importing VM library needs, found in its runtime's bin directory.
extern "C" __declspec(dllexport) int vmDependencyMark() { return 1; }
