// Texts of the launcher's error reporting: configured messages with their argument, the
// message with the log path, and the rule that keeps the log.
#pragma once
#include <string>
#include <string_view>

// The codes that message 1009 ("An internal error occurred (error code: {0})") shows. Users
// report them from the message box, so each keeps its number.
enum class InternalError {
  TempDirNotCreated = 7,
  ExtractedFileNotCreated = 11,
  FirstRunClassMissing = 14,
  FirstRunMethodMissing = 15,
  ArgumentsNotAllocated = 16,
  Unpack200NotStarted = 20,
  PayloadNotReadable = 34,
  WorkThreadNotStarted = 40,
};
// The code as the message shows it.
std::string internalErrorCode(InternalError error);

// The first "{0}" replaced by the argument; later ones stay. Without an argument, or
// without "{0}", the message is returned unchanged. Cut to the 8191-character limit.
std::string replaceFirstPlaceholder(std::string_view message, const char* argument);

// "<message>\n\nLog: <logPath>", or the message alone when there is no log path; cut to 8191.
std::string composeErrorText(std::string_view message, std::string_view logPath);
std::u16string composeErrorText(std::u16string_view message, std::u16string_view logPath);

// Only the exact value "yes" of NIMBO_LOG or TESSAR_LOG keeps the log.
bool isKeepLogValue(const char* value);
