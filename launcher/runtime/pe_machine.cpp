#include "runtime/pe_machine.h"

#include <cstdio>

namespace {

uint32_t littleEndian(const uint8_t* bytes, std::size_t count) {
  uint32_t value = 0;
  for (std::size_t i = count; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

constexpr std::size_t kPeOffsetField = 60;

}  // namespace

std::optional<uint32_t> peHeaderOffset(const uint8_t* bytes, std::size_t size) {
  if (bytes == nullptr || size < kDosHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z') return std::nullopt;
  return littleEndian(bytes + kPeOffsetField, 4);
}

std::optional<uint16_t> peMachineAt(const uint8_t* bytes, std::size_t size) {
  if (bytes == nullptr || size < kPeSignatureAndMachineSize) return std::nullopt;
  if (bytes[0] != 'P' || bytes[1] != 'E' || bytes[2] != 0 || bytes[3] != 0) return std::nullopt;
  return static_cast<uint16_t>(littleEndian(bytes + 4, 2));
}

std::string machineName(uint16_t machine) {
  if (machine == kMachineI386) return "i386";
  if (machine == kMachineAmd64) return "x86-64";
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(machine));
  return text;
}
