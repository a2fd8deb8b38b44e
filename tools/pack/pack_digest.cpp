#include "pack/pack_digest.h"

#include <memory>

#include "config/entry_ids.h"
#include "pack/pack_config.h"
#include "pack/pack_files.h"
#include "runtime/download_transfer.h"
#include "runtime/sha256.h"

std::string fileSha256Hex(const std::string& path) {
  InputFile in;
  if (!in.open(path)) throw PackError("cannot open " + path + ": " + systemErrorText());
  Sha256 hash;
  std::unique_ptr<char[]> block(new char[1 << 20]);
  for (long long got; (got = in.read(block.get(), 1 << 20)) != 0;) {
    if (got < 0) throw PackError("cannot read " + path);
    hash.update(block.get(), static_cast<std::size_t>(got));
  }
  return sha256Hex(hash.finish());
}

void setRuntimeDigest(ConfigRecord& record, const std::string& hexDigest) {
  for (auto it = record.narrow.begin(); it != record.narrow.end();) {
    it = it->first == entry::kJreDownloadSha256 ? record.narrow.erase(it) : it + 1;
  }
  record.narrow.emplace_back(entry::kJreDownloadSha256, hexDigest);
}

std::string unverifiedDownload(const ConfigRecord& record) {
  std::string url, digest;
  for (const auto& [id, value] : record.narrow) {
    if (id == entry::kJreDownloadUrl) url = value;
    if (id == entry::kJreDownloadSha256) digest = value;
  }
  if (url.empty() || !digest.empty()) return "";
  return "entry 150 (jreDownloadUrl) names a runtime download but entry 162 (jreDownloadSha256) gives no "
         "SHA-256: the downloaded runtime would be run unverified";
}
