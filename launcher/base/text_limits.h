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

// The class-path option buffer ("-Djava.class.path=" and the class path, terminator included)
// and the PATH buffer of the native library directories.
constexpr std::size_t kClassPathBufferSize = 40960;
constexpr std::size_t kPathBufferSize = 16384;

// Cuts a text to what a buffer of bufferSize units holds; false when it had to be cut.
template <typename Char>
bool fitBuffer(std::basic_string<Char>& text, std::size_t bufferSize) {
  if (bufferSize == 0 || text.size() <= bufferSize - 1) return true;
  text.resize(bufferSize - 1);
  return false;
}
