// Errors that show a configured message: the entry's text, its "{0}" filled in, with the log path.
#pragma once
#include <cstdint>
#include <string>

#include "base/error_text.h"

// Shows the configured narrow message of entryId with the first "{0}" replaced by argument.
void showConfigError(int32_t entryId, const char* argument = nullptr);

// The same, then the immediate process exit with code 1.
[[noreturn]] void fatalConfigError(int32_t entryId, const char* argument = nullptr);
[[noreturn]] void fatalMessage(int32_t wideMessageId);
// Message 1009 with the error's code.
[[noreturn]] void fatalInternalError(InternalError error);

// The configured titles of the launcher's narrow and wide message boxes.
std::string configuredErrorCaption();
std::u16string configuredWizardCaption();
