// The launcher's command line in the forms the Win32 side needs.
#pragma once
#include <string>
#include <vector>

// Splits the wide line like splitCommandLine and converts every argument to the ANSI code page
// (characters without a mapping become "?"). False when a quote is never closed.
bool splitCommandLineNarrow(const wchar_t* line, std::vector<std::string>& args);
