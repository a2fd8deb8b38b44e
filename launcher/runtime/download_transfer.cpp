#include "runtime/download_transfer.h"

#include <cmath>
#include <cstdio>

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

std::string_view trimBlanks(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Digits only, at most what 32 bits hold.
bool parseDecimal(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t sum = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    sum = sum * 10 + static_cast<uint64_t>(c - '0');
  }
  if (sum > 0xFFFFFFFFu) return false;
  value = static_cast<uint32_t>(sum);
  return true;
}

// A shorter positive decimal value of a test setting, or the product's value.
uint32_t testSettingMillis(const char* setting, uint32_t productMillis) {
  uint32_t value = 0;
  if (!setting || !parseDecimal(setting, value) || value == 0 || value > productMillis) return productMillis;
  return value;
}

// Reads "bytes first-last/total" (blanks around the parts allowed); an unknown total ("*") is
// no range to continue.
bool parseContentRange(std::string_view text, uint32_t& first, uint32_t& last, uint32_t& total) {
  text = trimBlanks(text);
  constexpr std::string_view kUnit = "bytes";
  if (text.substr(0, kUnit.size()) != kUnit) return false;
  text.remove_prefix(kUnit.size());
  if (text.empty() || (text.front() != ' ' && text.front() != '\t')) return false;
  text = trimBlanks(text);
  std::size_t dash = text.find('-'), slash = text.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return false;
  if (!parseDecimal(trimBlanks(text.substr(0, dash)), first) ||
      !parseDecimal(trimBlanks(text.substr(dash + 1, slash - dash - 1)), last) ||
      !parseDecimal(trimBlanks(text.substr(slash + 1)), total)) {
    return false;
  }
  return first <= last && last < total;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

TransferResult copyDownloadBody(BodyTransfer& io, uint32_t length, bool withProgress) {
  BodyProgress progress;
  return copyDownloadBody(io, length, withProgress, progress);
}

TransferResult copyDownloadBody(BodyTransfer& io, uint32_t length, bool withProgress, BodyProgress& progress) {
  if (length == 0) return {TransferOutcome::emptyBody, 0};
  unsigned char buffer[kDownloadChunkSize];
  uint32_t& received = progress.received;
  if (!progress.started) {
    progress.startTick = io.tickCount();
    progress.started = true;
  }
  while (received < length) {
    uint32_t want = length - received < kDownloadChunkSize ? length - received : kDownloadChunkSize;
    uint32_t got = 0;
    if (!io.read(buffer, want, got)) return {TransferOutcome::readFailed, received};
    // WinINet reports a connection closed early as a successful read of nothing.
    if (got == 0) return {TransferOutcome::endedEarly, received};
    if (got > want) got = want;
    if (!io.write(buffer, got)) return {TransferOutcome::writeFailed, received + got};
    received += got;
    if (withProgress) {
      uint32_t now = io.tickCount();
      if (!progress.refreshed || now - progress.lastRefresh > kProgressRefreshMillis) {
        io.showProgress(received, now - progress.startTick);
        progress.lastRefresh = now;
        progress.refreshed = true;
      }
    }
  }
  return {TransferOutcome::complete, received};
}

bool retriesAfter(TransferOutcome outcome) {
  return outcome == TransferOutcome::readFailed || outcome == TransferOutcome::endedEarly;
}

uint32_t retryPauseMillis(int retry, uint32_t firstMillis) {
  if (retry < 1) return 0;
  uint64_t pause = firstMillis;
  for (int i = 1; i < retry && pause < 0xFFFFFFFFu; ++i) pause *= 2;
  return pause > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(pause);
}

std::string ifRangeValidator(std::string_view etag, std::string_view lastModified) {
  // The value goes into a request header as it came: a line break in it would add headers.
  auto printable = [](std::string_view text) {
    for (char c : text) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    return true;
  };
  etag = trimBlanks(etag);
  lastModified = trimBlanks(lastModified);
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"' && printable(etag)) return std::string(etag);
  return printable(lastModified) ? std::string(lastModified) : std::string();
}

ResumeStep judgeResumedAnswer(uint32_t status, std::string_view contentRange, uint32_t offset, uint32_t length) {
  if (status == 200) return ResumeStep::restart;
  if (status != 206) return ResumeStep::fail;
  uint32_t first = 0, last = 0, total = 0;
  if (!parseContentRange(contentRange, first, last, total)) return ResumeStep::fail;
  if (first != offset || total != length || last != length - 1) return ResumeStep::fail;
  return ResumeStep::continueFile;
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
  return testSettingMillis(testSetting, kReceiveTimeoutMillis);
}

uint32_t firstRetryPauseMillis(const char* testSetting) { return testSettingMillis(testSetting, kRetryPauseMillis); }

bool parseSha256Hex(std::string_view text, Sha256Digest& digest) {
  text = trimBlanks(text);
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
