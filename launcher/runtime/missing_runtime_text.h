// The explanation of the runtime-missing dialog, composed from configured texts.
#pragma once
#include <string>
#include <string_view>

// Fills the configured template (message 20005 or 20006) with the bitness for its "%S" ("%%" is
// a percent sign; any other "%" stands as written), then appends the version bounds:
// " (" minLabel " " minVersion, ", " (or " (") maxLabel " " maxVersion, and ")" when anything
// was appended. Empty versions append nothing.
std::u16string composeRuntimeMissingText(std::u16string_view textTemplate, std::u16string_view bits,
                                         std::u16string_view minLabel, std::u16string_view minVersion,
                                         std::u16string_view maxLabel, std::u16string_view maxVersion);

// Why a java.exe the user picked cannot be used: without a version, that it is no Java runtime
// of this bitness; with one outside the bounds, the version and the bounds appended as above;
// with one inside them, that javaw.exe is missing. Ends by asking for another choice.
std::u16string composeLocatedRuntimeRefusal(std::u16string_view file, std::u16string_view version,
                                            bool versionAccepted, std::u16string_view bits,
                                            std::u16string_view minLabel, std::u16string_view minVersion,
                                            std::u16string_view maxLabel, std::u16string_view maxVersion);
