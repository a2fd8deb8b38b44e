#include "runtime/sha256_win.h"

Sha256Hasher::Sha256Hasher() {
  // SHA-256 lives in the AES provider; the verify context needs no key container.
  if (!CryptAcquireContextA(&provider_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    error_ = GetLastError();
    provider_ = 0;
    return;
  }
  if (!CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_)) {
    error_ = GetLastError();
    hash_ = 0;
  }
}

Sha256Hasher::~Sha256Hasher() {
  if (hash_) CryptDestroyHash(hash_);
  if (provider_) CryptReleaseContext(provider_, 0);
}

bool Sha256Hasher::update(const void* data, std::size_t size) {
  const BYTE* bytes = static_cast<const BYTE*>(data);
  while (hash_ && size > 0) {
    DWORD part = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!CryptHashData(hash_, bytes, part, 0)) {
      error_ = GetLastError();
      return false;
    }
    bytes += part;
    size -= part;
  }
  return hash_ != 0;
}

bool Sha256Hasher::finish(Sha256Digest& digest) {
  DWORD size = static_cast<DWORD>(digest.size());
  if (!hash_ || !CryptGetHashParam(hash_, HP_HASHVAL, digest.data(), &size, 0) || size != digest.size()) {
    if (hash_) error_ = GetLastError();
    return false;
  }
  return true;
}
