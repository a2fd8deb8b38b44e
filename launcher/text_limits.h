// The product's text limits: paths, configuration values and messages fit 8192-byte buffers.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Bytes (ANSI) or code units (UTF-16) of every launcher text buffer, terminator included.
constexpr std::size_t kTextBufferSize = 8192;

// Copies src into dst of dstSize units, cut to dstSize - 1 units and always terminated.
// Returns false when src had to be cut. A dstSize of 0 writes nothing.
template <typename Char>
bool copyTruncated(Char* dst, std::size_t dstSize, std::basic_string_view<Char> src) {
  if (dstSize == 0) return src.empty();
  std::size_t n = src.size() < dstSize - 1 ? src.size() : dstSize - 1;
  for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
  dst[n] = Char(0);
  return n == src.size();
}

// Cuts a text to what a kTextBufferSize buffer holds.
template <typename Char>
void fitTextBuffer(std::basic_string<Char>& text) {
  if (text.size() > kTextBufferSize - 1) text.resize(kTextBufferSize - 1);
}
