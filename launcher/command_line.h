// Splits a launcher command line into arguments the way the launcher's users write them:
// blanks separate, double or single quotes group, and a quoted part merges with the text before it.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// Appends the arguments of line to args. Returns false when a quote is never closed (args then
// holds the arguments before it).
bool splitCommandLine(std::u16string_view line, std::vector<std::u16string>& args);
