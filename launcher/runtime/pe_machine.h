// Reads which processor a Windows image (a VM library) is built for from its header bytes, so
// that a runtime of the other architecture is refused before it is loaded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

inline constexpr uint16_t kMachineI386 = 0x014c;
inline constexpr uint16_t kMachineAmd64 = 0x8664;

// The DOS header at the start of every image, and the "PE\0\0" signature with the machine field
// that follows it at the offset the DOS header names.
inline constexpr std::size_t kDosHeaderSize = 64;
inline constexpr std::size_t kPeSignatureAndMachineSize = 6;

// The offset of the PE signature named by a DOS header ("MZ", offset at byte 60); none when the
// bytes are too few or no DOS header.
std::optional<uint32_t> peHeaderOffset(const uint8_t* bytes, std::size_t size);

// The machine field of the bytes read at that offset; none without the "PE\0\0" signature.
std::optional<uint16_t> peMachineAt(const uint8_t* bytes, std::size_t size);

// "i386", "x86-64", or the hexadecimal value for any other machine.
std::string machineName(uint16_t machine);
