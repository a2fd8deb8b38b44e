#include "pack/pack_digest.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "pack/pack_config.h"
#include "runtime/download_transfer.h"

std::string fileSha256Hex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError("cannot open " + path + ": " + std::strerror(errno));
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw PackError("SHA-256 is not available from libcrypto");
  }
  std::vector<char> block(1 << 20);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    std::streamsize n = in.gcount();
    if (n > 0 && EVP_DigestUpdate(context.get(), block.data(), static_cast<std::size_t>(n)) != 1) {
      throw PackError("SHA-256 of " + path + " failed");
    }
  }
  if (in.bad()) throw PackError("cannot read " + path);
  Sha256Digest digest{};
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1 || size != digest.size()) {
    throw PackError("SHA-256 of " + path + " failed");
  }
  return sha256Hex(digest);
}

void setRuntimeDigest(ConfigRecord& record, const std::string& hexDigest) {
  for (auto it = record.narrow.begin(); it != record.narrow.end();) {
    it = it->first == kRuntimeDigestEntry ? record.narrow.erase(it) : it + 1;
  }
  record.narrow.emplace_back(kRuntimeDigestEntry, hexDigest);
}

std::string unverifiedDownload(const ConfigRecord& record) {
  std::string url, digest;
  for (const auto& [id, value] : record.narrow) {
    if (id == 150) url = value;
    if (id == kRuntimeDigestEntry) digest = value;
  }
  if (url.empty() || !digest.empty()) return "";
  return "entry 150 (jreDownloadUrl) names a runtime download but entry 162 (jreDownloadSha256) gives no "
         "SHA-256: the downloaded runtime would be run unverified";
}
