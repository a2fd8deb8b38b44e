#include "pack/pack_digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <unistd.h>

#include "pack/pack_config.h"

namespace {

std::string writeTemp(const std::string& bytes) {
  char name[] = "/tmp/pack_digest_XXXXXX";
  int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  close(fd);
  std::ofstream(name, std::ios::binary) << bytes;
  return name;
}

}  // namespace

TEST(PackDigest, FileDigestMatchesPublishedVectors) {
  std::string abc = writeTemp("abc");
  EXPECT_EQ(fileSha256Hex(abc), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  std::remove(abc.c_str());
  std::string empty = writeTemp("");
  EXPECT_EQ(fileSha256Hex(empty), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  std::remove(empty.c_str());
  // Larger than one read block: the blocks are chained.
  std::string million = writeTemp(std::string(1000000, 'a'));
  EXPECT_EQ(fileSha256Hex(million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  std::remove(million.c_str());
}

TEST(PackDigest, MissingArchiveIsRefused) {
  EXPECT_THROW(fileSha256Hex("/nonexistent/jre.tar.gz"), PackError);
}

TEST(PackDigest, DigestEntryReplacesEveryEarlierValue) {
  ConfigRecord record;
  record.narrow = {{150, "http://x/jre.tar.gz"}, {162, "old"}, {157, "1"}, {162, "older"}};
  setRuntimeDigest(record, std::string(64, 'a'));
  int found = 0;
  for (const auto& [id, value] : record.narrow) {
    if (id == 162) {
      ++found;
      EXPECT_EQ(value, std::string(64, 'a'));
    }
  }
  EXPECT_EQ(found, 1);
  EXPECT_EQ(record.narrow.size(), 3u);
}
