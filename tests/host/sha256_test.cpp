#include "runtime/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::string patterned(std::size_t n) {
  std::string bytes;
  for (std::size_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>((i * 7) & 255));
  return bytes;
}

}  // namespace

// The published vectors, and lengths around the padding's edges (55/56 bytes fit one final block,
// 56..63 need a second), each fed whole, byte by byte and in pieces that straddle the blocks.
TEST(Sha256, DigestsOfKnownMessagesInAnyPieces) {
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {patterned(55), "576a1bf8d4478657e6dc4af9398544765c2a92cde28478b019235cfed315fc09"},
      {patterned(56), "9b20501dfd1d99161c257950f3444f3e49230c351c5c8e0943ef369f85f5205d"},
      {patterned(63), "30b345906b493f06f69444b6521113511c242f30e29840462950035043682f1e"},
      {patterned(64), "d8bc63b4fc1156e5e7d95a418b9bf54cd3174bedbc2db40f74895349b229b3c0"},
      {patterned(65), "1ee23b0fbcaecc1aff4a9e8f1645f35ab2c8e13609cd73b68df8b5e3f63ce073"},
      {patterned(119), "7a6589821178918ca8d9edaba5abfc1e9b2669564f4469b66885379c1530b2c8"},
      {patterned(120), "655250427d56b1b0eeb8497d21428704273458a01772d6881b65c0abac0f8a98"},
  };
  Sha256 hash;  // one object throughout: finish() must leave it ready for the next message
  for (const auto& c : cases) {
    for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(7), std::size_t(64), std::size_t(1000)}) {
      if (piece == 1 && c.message.size() > 5000) continue;
      std::size_t step = piece == 0 ? c.message.size() + 1 : piece;
      for (std::size_t at = 0; at < c.message.size(); at += step) {
        hash.update(c.message.data() + at, std::min(step, c.message.size() - at));
      }
      EXPECT_EQ(sha256Hex(hash.finish()), c.digest) << c.message.size() << " bytes in pieces of " << piece;
    }
  }
}
