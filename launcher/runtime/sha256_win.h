// SHA-256 of a byte stream through the system's CryptoAPI.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>

#include "runtime/download_transfer.h"

class Sha256Hasher {
 public:
  Sha256Hasher();
  ~Sha256Hasher();
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  // False when the system offers no SHA-256 (the error is then in error()).
  bool ready() const { return hash_ != 0; }
  DWORD error() const { return error_; }
  bool update(const void* data, std::size_t size);
  // The digest of everything updated so far; the hasher takes no more data afterwards.
  bool finish(Sha256Digest& digest);

 private:
  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
  DWORD error_ = 0;
};
