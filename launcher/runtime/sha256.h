// SHA-256 (FIPS 180-4) in plain code, fed in pieces of any size: the same digest on every system
// without a crypto library to ship or link.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "runtime/download_transfer.h"

class Sha256 {
 public:
  Sha256();
  void update(const void* data, std::size_t n);
  // The digest of everything given; the object then starts afresh.
  Sha256Digest finish();

 private:
  void compress(const unsigned char* block);

  std::array<uint32_t, 8> state_;
  unsigned char pending_[64];
  std::size_t pendingSize_ = 0;
  uint64_t totalBytes_ = 0;
};
