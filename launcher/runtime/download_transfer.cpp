#include "runtime/download_transfer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kBytesPerMegabyte = 1048576.0;

bool isFlag(char16_t c) { return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'0'; }
bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isFloatConversion(char16_t c) {
  return c == u'f' || c == u'F' || c == u'e' || c == u'E' || c == u'g' || c == u'G';
}

// Length of a floating-point conversion starting at format[at] == '%', or 0 when the text there
// is none. Width and precision take at most two digits, so no value can grow past a line.
std::size_t floatConversionLength(std::u16string_view format, std::size_t at) {
  std::size_t i = at + 1;
  while (i < format.size() && isFlag(format[i])) ++i;
  for (int digits = 0; i < format.size() && isDigit(format[i]); ++i) {
    if (++digits > 2) return 0;
  }
  if (i < format.size() && format[i] == u'.') {
    ++i;
    for (int digits = 0; i < format.size() && isDigit(format[i]); ++i) {
      if (++digits > 2) return 0;
    }
  }
  if (i < format.size() && isFloatConversion(format[i])) return i + 1 - at;
  return 0;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

TransferResult copyDownloadBody(BodyTransfer& io, uint32_t length, bool withProgress) {
  if (length == 0) return {TransferOutcome::emptyBody, 0};
  unsigned char buffer[kDownloadChunkSize];
  uint32_t received = 0;
  uint32_t start = io.tickCount();
  uint32_t lastRefresh = 0;
  bool refreshed = false;
  while (received < length) {
    uint32_t want = length - received < kDownloadChunkSize ? length - received : kDownloadChunkSize;
    uint32_t got = 0;
    if (!io.read(buffer, want, got)) return {TransferOutcome::readFailed, received};
    // WinINet reports a connection closed early as a successful read of nothing.
    if (got == 0) return {TransferOutcome::endedEarly, received};
    if (got > want) got = want;
    received += got;
    if (!io.write(buffer, got)) return {TransferOutcome::writeFailed, received};
    if (withProgress) {
      uint32_t now = io.tickCount();
      if (!refreshed || now - lastRefresh > kProgressRefreshMillis) {
        io.showProgress(received, now - start);
        lastRefresh = now;
        refreshed = true;
      }
    }
  }
  return {TransferOutcome::complete, received};
}

std::u16string formatDownloadProgress(std::u16string_view format, uint32_t received, uint32_t length,
                                      uint32_t elapsedMillis) {
  const double values[4] = {
      received / kBytesPerMegabyte,
      length / kBytesPerMegabyte,
      // Cut, not rounded, to tenths: a nearly finished download must not show 100.0 already.
      length ? std::floor(received * 1000.0 / length) / 10.0 : 0.0,
      elapsedMillis ? static_cast<double>(received) / elapsedMillis : 0.0,
  };
  std::u16string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      out += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    std::size_t conversion = floatConversionLength(format, i);
    if (conversion == 0 || next == 4) {
      out += u'%';
      continue;
    }
    std::string conversionText;
    for (std::size_t k = i; k < i + conversion; ++k) conversionText += static_cast<char>(format[k]);
    char text[256];
    int n = std::snprintf(text, sizeof text, conversionText.c_str(), values[next++]);
    for (int k = 0; k < n && k < static_cast<int>(sizeof text) - 1; ++k) out += static_cast<char16_t>(text[k]);
    i += conversion - 1;
  }
  return out;
}

int downloadBarPosition(uint32_t received, uint32_t length) {
  if (length == 0) return 0;
  if (received >= length) return 100;
  return static_cast<int>(static_cast<double>(received) / length * 100);
}

uint32_t receiveTimeoutMillis(const char* testSetting) {
  if (!testSetting || !isDigit(static_cast<unsigned char>(testSetting[0]))) return kReceiveTimeoutMillis;
  char* end = nullptr;
  unsigned long value = std::strtoul(testSetting, &end, 10);
  if (*end != '\0' || value == 0 || value > kReceiveTimeoutMillis) return kReceiveTimeoutMillis;
  return static_cast<uint32_t>(value);
}

bool parseSha256Hex(std::string_view text, Sha256Digest& digest) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.size() != 2 * digest.size()) return false;
  for (std::size_t i = 0; i < digest.size(); ++i) {
    int high = hexValue(text[2 * i]), low = hexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

std::string sha256Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char byte : digest) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}
