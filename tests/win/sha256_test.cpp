#include "runtime/sha256_win.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string digestOf(const std::string& text, std::size_t pieces = 1) {
  Sha256Hasher hasher;
  EXPECT_TRUE(hasher.ready()) << hasher.error();
  std::size_t step = text.size() / pieces + 1;
  for (std::size_t at = 0; at < text.size(); at += step) EXPECT_TRUE(hasher.update(text.data() + at, std::min(step, text.size() - at)));
  Sha256Digest digest{};
  EXPECT_TRUE(hasher.finish(digest));
  return sha256Hex(digest);
}

}  // namespace

// The test vectors published with the SHA-2 standard.
TEST(Sha256Hasher, MatchesPublishedVectors) {
  EXPECT_EQ(digestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(digestOf(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256Hasher, PiecesGiveTheDigestOfTheWhole) {
  std::string text(3 * 16384 + 77, 'x');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 31);
  EXPECT_EQ(digestOf(text, 7), digestOf(text, 1));
}
