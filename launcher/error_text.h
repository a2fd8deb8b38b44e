// Texts of the launcher's error reporting: configured messages with their argument, the
// message with the log path, and the rule that keeps the log.
#pragma once
#include <string>
#include <string_view>

// The first "{0}" replaced by the argument; later ones stay. Without an argument, or
// without "{0}", the message is returned unchanged. Cut to the 8191-character limit.
std::string replaceFirstPlaceholder(std::string_view message, const char* argument);

// "<message>\n\nLog: <logPath>", or the message alone when there is no log path; cut to 8191.
std::string composeErrorText(std::string_view message, std::string_view logPath);
std::u16string composeErrorText(std::u16string_view message, std::u16string_view logPath);

// Only the exact value "yes" of NIMBO_LOG or TESSAR_LOG keeps the log.
bool isKeepLogValue(const char* value);
