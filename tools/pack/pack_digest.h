// The runtime archive's SHA-256, which the launcher checks after downloading it.
#pragma once
#include <string>

#include "media/media_format.h"

// The SHA-256 of the file as 64 lower-case hexadecimal digits, read in blocks. Throws PackError.
std::string fileSha256Hex(const std::string& path);

// Sets the configuration entry of the runtime archive's digest, replacing any earlier value.
void setRuntimeDigest(ConfigRecord& record, const std::string& hexDigest);

// Why the record's runtime download would be used unverified (an address in entry 150 without a
// digest in entry 162), or "".
std::string unverifiedDownload(const ConfigRecord& record);
