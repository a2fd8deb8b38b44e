#include "media/media_format.h"

#include <cstring>
#include <type_traits>

#include "base/path_text.h"

const char* readerFailureText(ReaderKind kind) {
  switch (kind) {
    case ReaderKind::Short: return "Internal Error: readShort";
    case ReaderKind::Int: return "Internal Error: readInt";
    case ReaderKind::Long: return "Internal Error: readLong";
    case ReaderKind::String: return "Internal Error: readString";
    case ReaderKind::WString: return "Internal Error: readWString";
  }
  return "Internal Error";
}

ConfigRecord readConfigRecord(RecordReader& reader) {
  ConfigRecord record;
  // Counts are not trusted for reservations: a hostile count just runs into a short read.
  int32_t narrowCount = reader.readInt();
  for (int32_t i = 0; i < narrowCount; ++i) {
    int32_t id = reader.readInt();
    record.narrow.emplace_back(id, reader.readString());
  }
  int32_t wideCount = reader.readInt();
  for (int32_t i = 0; i < wideCount; ++i) {
    int32_t id = reader.readInt();
    record.wide.emplace_back(id, reader.readWString());
  }
  int32_t groupCount = reader.readInt();
  for (int32_t g = 0; g < groupCount; ++g) {
    LanguageGroup group;
    group.code = reader.readString();
    int32_t count = reader.readInt();
    for (int32_t i = 0; i < count; ++i) {
      int32_t id = reader.readInt();
      group.wide.emplace_back(id, reader.readWString());
    }
    record.languages.push_back(std::move(group));
  }
  return record;
}

void appendInt(std::string& out, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void appendLong(std::string& out, int64_t value) {
  uint64_t v = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void appendString(std::string& out, std::string_view value) {
  appendInt(out, static_cast<int32_t>(value.size()));
  out += value;
}

void appendWString(std::string& out, std::u16string_view value) {
  appendInt(out, static_cast<int32_t>(value.size() * 2));
  for (char16_t c : value) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
}

std::string encodeMediaHeader(const MediaHeader& header) {
  std::string out;
  appendInt(out, static_cast<int32_t>(header.magic));
  appendInt(out, header.checksumFlag);
  appendInt(out, static_cast<int32_t>(header.storedChecksum));
  appendLong(out, header.checkedLength);
  return out;
}

std::string encodeConfigRecord(const ConfigRecord& record) {
  std::string out;
  appendInt(out, static_cast<int32_t>(record.narrow.size()));
  for (const auto& [id, value] : record.narrow) {
    appendInt(out, id);
    appendString(out, value);
  }
  appendInt(out, static_cast<int32_t>(record.wide.size()));
  for (const auto& [id, value] : record.wide) {
    appendInt(out, id);
    appendWString(out, value);
  }
  appendInt(out, static_cast<int32_t>(record.languages.size()));
  for (const LanguageGroup& group : record.languages) {
    appendString(out, group.code);
    appendInt(out, static_cast<int32_t>(group.wide.size()));
    for (const auto& [id, value] : group.wide) {
      appendInt(out, id);
      appendWString(out, value);
    }
  }
  return out;
}

bool MemorySource::readMemory(ByteSource& source, uint64_t pos, void* dst, std::size_t n) {
  auto& memory = static_cast<MemorySource&>(source);
  if (!memory.holds(pos, n)) return false;
  if (n) std::memcpy(dst, memory.data_ + pos, n);
  return true;
}

void SourceReader::take(void* dst, std::size_t n, ReaderKind kind) {
  if (!source_.bytesAt(pos_, dst, n)) throw MediaFormatError{kind};
  pos_ += n;
}

int16_t SourceReader::readShort() {
  uint8_t b[2];
  take(b, 2, ReaderKind::Short);
  return decodeLittleEndian<int16_t>(b);
}

int32_t SourceReader::readInt() {
  uint8_t b[4];
  take(b, 4, ReaderKind::Int);
  return decodeLittleEndian<int32_t>(b);
}

int64_t SourceReader::readLong() {
  uint8_t b[8];
  take(b, 8, ReaderKind::Long);
  return decodeLittleEndian<int64_t>(b);
}

int32_t SourceReader::takeByteCount(ReaderKind kind) {
  uint8_t b[4];
  take(b, 4, kind);
  int32_t n = decodeLittleEndian<int32_t>(b);
  if (n < 0 || !source_.holds(pos_, uint64_t(n))) throw MediaFormatError{kind};
  return n;
}

std::string SourceReader::readString() {
  int32_t n = takeByteCount(ReaderKind::String);
  std::string value(static_cast<std::size_t>(n), '\0');
  take(value.data(), value.size(), ReaderKind::String);
  return value;
}

std::u16string SourceReader::readWString() {
  int32_t n = takeByteCount(ReaderKind::WString);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  take(bytes.data(), bytes.size(), ReaderKind::WString);
  std::u16string value(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < value.size(); ++i) {
    value[i] = decodeLittleEndian<char16_t>(reinterpret_cast<const uint8_t*>(bytes.data()) + 2 * i);
  }
  return value;
}

MediaHeader readMediaHeader(RecordReader& reader) {
  MediaHeader header;
  header.magic = static_cast<uint32_t>(reader.readInt());
  header.checksumFlag = reader.readInt();
  header.storedChecksum = static_cast<uint32_t>(reader.readInt());
  header.checkedLength = reader.readLong();
  return header;
}

FileTableEntry readFileTableEntry(ByteSource& source, uint64_t at) {
  FileTableEntry entry;
  entry.sizeOffset = at;
  SourceReader reader(source, at);
  entry.size = reader.readLong();
  entry.dataOffset = reader.position();
  // File positions stay far below 2^63, so the end cannot overflow even for a hostile size.
  uint64_t stored = entry.size > 0 ? uint64_t(entry.size) : 0;
  entry.end = entry.dataOffset + stored;
  entry.withinSource = source.holds(entry.dataOffset, stored);
  return entry;
}

std::vector<std::string> includedFileList(std::string_view names, int count) {
  std::vector<std::string> files = splitPathList(names);
  if (count < 0) count = 0;
  if (files.size() > static_cast<std::size_t>(count)) files.resize(static_cast<std::size_t>(count));
  return files;
}

bool isDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper;
  for (char c : base) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
      upper == "CONOUT$") {
    return true;
  }
  if (upper.size() != 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) return false;
  // Digits, and the superscripts one, two and three of the ANSI code page, which Windows also maps.
  unsigned char number = static_cast<unsigned char>(upper[3]);
  return (number >= '0' && number <= '9') || number == 0xB9 || number == 0xB2 || number == 0xB3;
}

bool isContainedFileName(std::string_view name) {
  if (name.empty()) return false;
  if (name[0] == '\\' || name[0] == '/') return false;     // rooted or UNC
  if (name.find(':') != std::string_view::npos) return false;  // drive-qualified or a stream
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("\\/", start);
    std::string_view part = name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part == ".." || isDeviceName(part)) return false;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return true;
}

int directoryLevels(std::string_view name) {
  int levels = 0;
  for (char c : name) levels += (c == '\\' || c == '/');
  return levels;
}

namespace {
// Byte offsets of the PE fields the layout needs.
constexpr uint32_t kPeOffsetField = 60;
constexpr uint32_t kSectionCountOffset = 6;         // from the PE signature
constexpr uint32_t kOptionalHeaderSizeOffset = 20;  // from the PE signature
constexpr uint32_t kFileAlignmentOffset = 24 + 36;  // from the PE signature
constexpr uint32_t kSectionEntrySize = 40;
constexpr uint32_t kRawSizeInEntry = 16;
}  // namespace

bool readPeLayout(ByteSource& source, PeLayout& layout) {
  // Only the few fields the layout needs are read, each where it lies: a hostile header offset or
  // section count then costs a handful of small reads instead of a copy of everything before it.
  uint8_t dos[64];
  if (!source.bytesAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  uint32_t peOffset = decodeLittleEndian<uint32_t>(dos + kPeOffsetField);
  uint8_t fileHeader[24];
  if (!source.bytesAt(peOffset, fileHeader, sizeof fileHeader) || std::memcmp(fileHeader, "PE\0\0", 4) != 0) {
    return false;
  }
  uint16_t sections = decodeLittleEndian<uint16_t>(fileHeader + kSectionCountOffset);
  uint16_t optionalSize = decodeLittleEndian<uint16_t>(fileHeader + kOptionalHeaderSizeOffset);
  if (sections == 0 || optionalSize < 40) return false;
  uint8_t alignment[4];
  if (!source.bytesAt(uint64_t(peOffset) + kFileAlignmentOffset, alignment, sizeof alignment)) return false;
  // The section table follows the optional header; the raw size and pointer are adjacent.
  uint64_t rawSizeField = uint64_t(peOffset) + 24 + optionalSize + uint64_t(sections - 1) * kSectionEntrySize + kRawSizeInEntry;
  uint8_t raw[8];
  if (!source.bytesAt(rawSizeField, raw, sizeof raw)) return false;
  layout.peOffset = peOffset;
  layout.sectionCount = sections;
  layout.optionalHeaderSize = optionalSize;
  layout.lastSectionEntry = static_cast<uint32_t>(rawSizeField - kRawSizeInEntry);
  layout.lastRawSize = decodeLittleEndian<uint32_t>(raw);
  layout.lastRawPointer = decodeLittleEndian<uint32_t>(raw + 4);
  layout.fileAlignment = decodeLittleEndian<uint32_t>(alignment);
  return true;
}

namespace {
struct LcidRow {
  uint16_t lcid;
  const char* code;
};
// Ascending LCIDs: neutral primary languages first, then the country rows.
constexpr LcidRow kLcidTable[] = {
    {0x0001, "ar"}, {0x0002, "bg"}, {0x0003, "ca"}, {0x0004, "zh"}, {0x0005, "cs"}, {0x0006, "da"},
    {0x0007, "de"}, {0x0008, "el"}, {0x0009, "en"}, {0x000A, "es"}, {0x000B, "fi"}, {0x000C, "fr"},
    {0x000D, "iw"}, {0x000E, "hu"}, {0x000F, "is"}, {0x0010, "it"}, {0x0011, "ja"}, {0x0012, "ko"},
    {0x0013, "nl"}, {0x0014, "no"}, {0x0015, "pl"}, {0x0016, "pt"}, {0x0017, "rm"}, {0x0018, "ro"},
    {0x0019, "ru"}, {0x001A, "sr"}, {0x001B, "sk"}, {0x001C, "sq"}, {0x001D, "sv"}, {0x001E, "th"},
    {0x001F, "tr"}, {0x0020, "ur"}, {0x0021, "in"}, {0x0022, "uk"}, {0x0023, "be"}, {0x0024, "sl"},
    {0x0025, "et"}, {0x0026, "lv"}, {0x0027, "lt"}, {0x0029, "fa"}, {0x002A, "vi"}, {0x002B, "hy"},
    {0x002C, "az"}, {0x002D, "eu"}, {0x002F, "mk"}, {0x0031, "ts"}, {0x0032, "tn"}, {0x0034, "xh"},
    {0x0035, "zu"}, {0x0036, "af"}, {0x0037, "ka"}, {0x0038, "fo"}, {0x0039, "hi"}, {0x003A, "mt"},
    {0x003C, "gd"}, {0x003D, "yi"}, {0x003E, "ms"}, {0x003F, "kk"}, {0x0040, "ky"}, {0x0041, "sw"},
    {0x0043, "uz"}, {0x0044, "tt"}, {0x0046, "pa"}, {0x0047, "gu"}, {0x0049, "ta"}, {0x004A, "te"},
    {0x004B, "kn"}, {0x004E, "mr"}, {0x004F, "sa"}, {0x0050, "mn"}, {0x0056, "gl"}, {0x0401, "ar_SA"},
    {0x0402, "bg_BG"}, {0x0403, "ca_ES"}, {0x0404, "zh_TW"}, {0x0405, "cs_CZ"}, {0x0406, "da_DK"},
    {0x0407, "de_DE"}, {0x0408, "el_GR"}, {0x0409, "en_US"}, {0x040A, "es_ES"}, {0x040B, "fi_FI"},
    {0x040C, "fr_FR"}, {0x040D, "iw_IL"}, {0x040E, "hu_HU"}, {0x040F, "is_IS"}, {0x0410, "it_IT"},
    {0x0411, "ja_JP"}, {0x0412, "ko_KR"}, {0x0413, "nl_NL"}, {0x0414, "no_NO"}, {0x0415, "pl_PL"},
    {0x0416, "pt_BR"}, {0x0417, "rm_CH"}, {0x0418, "ro_RO"}, {0x0419, "ru_RU"}, {0x041A, "hr_HR"},
    {0x041B, "sk_SK"}, {0x041C, "sq_AL"}, {0x041D, "sv_SE"}, {0x041E, "th_TH"}, {0x041F, "tr_TR"},
    {0x0420, "ur_PK"}, {0x0421, "in_ID"}, {0x0422, "uk_UA"}, {0x0423, "be_BY"}, {0x0424, "sl_SI"},
    {0x0425, "et_EE"}, {0x0426, "lv_LV"}, {0x0427, "lt_LT"}, {0x0429, "fa_IR"}, {0x042A, "vi_VN"},
    {0x042B, "hy_AM"}, {0x042C, "az_AZ"}, {0x042D, "eu_ES"}, {0x042F, "mk_MK"}, {0x0431, "ts"},
    {0x0432, "tn_BW"}, {0x0434, "xh"}, {0x0435, "zu"}, {0x0436, "af_ZA"}, {0x0437, "ka_GE"},
    {0x0438, "fo_FO"}, {0x0439, "hi_IN"}, {0x043A, "mt_MT"}, {0x043C, "gd_GB"}, {0x043D, "yi"},
    {0x043E, "ms_MY"}, {0x043F, "kk_KZ"}, {0x0440, "ky_KG"}, {0x0441, "sw_KE"}, {0x0443, "uz_UZ"},
    {0x0444, "tt"}, {0x0446, "pa_IN"}, {0x0447, "gu_IN"}, {0x0449, "ta_IN"}, {0x044A, "te_IN"},
    {0x044B, "kn_IN"}, {0x044E, "mr_IN"}, {0x044F, "sa_IN"}, {0x0450, "mn_MN"}, {0x0456, "gl_ES"},
    {0x0801, "ar_IQ"}, {0x0804, "zh_CN"}, {0x0807, "de_CH"}, {0x0809, "en_GB"}, {0x080A, "es_MX"},
    {0x080C, "fr_BE"}, {0x0810, "it_CH"}, {0x0812, "ko_KR"}, {0x0813, "nl_BE"}, {0x0814, "no_NO_NY"},
    {0x0816, "pt_PT"}, {0x0818, "ro_MD"}, {0x0819, "ru_MD"}, {0x081A, "sr_CS"}, {0x081D, "sv_FI"},
    {0x082C, "az_AZ"}, {0x083C, "ga_IE"}, {0x083E, "ms_BN"}, {0x0843, "uz_UZ"}, {0x0C01, "ar_EG"},
    {0x0C04, "zh_HK"}, {0x0C07, "de_AT"}, {0x0C09, "en_AU"}, {0x0C0A, "es_ES"}, {0x0C0C, "fr_CA"},
    {0x0C1A, "sr_CS"}, {0x1001, "ar_LY"}, {0x1004, "zh_SG"}, {0x1007, "de_LU"}, {0x1009, "en_CA"},
    {0x100A, "es_GT"}, {0x100C, "fr_CH"}, {0x1401, "ar_DZ"}, {0x1404, "zh_MO"}, {0x1407, "de_LI"},
    {0x1409, "en_NZ"}, {0x140A, "es_CR"}, {0x140C, "fr_LU"}, {0x1801, "ar_MA"}, {0x1809, "en_IE"},
    {0x180A, "es_PA"}, {0x180C, "fr_MC"}, {0x1C01, "ar_TN"}, {0x1C09, "en_ZA"}, {0x1C0A, "es_DO"},
    {0x2001, "ar_OM"}, {0x2009, "en_JM"}, {0x200A, "es_VE"}, {0x2401, "ar_YE"}, {0x2409, "en"},
    {0x240A, "es_CO"}, {0x2801, "ar_SY"}, {0x2809, "en_BZ"}, {0x280A, "es_PE"}, {0x2C01, "ar_JO"},
    {0x2C09, "en_TT"}, {0x2C0A, "es_AR"}, {0x3001, "ar_LB"}, {0x3009, "en_ZW"}, {0x300A, "es_EC"},
    {0x3401, "ar_KW"}, {0x3409, "en_PH"}, {0x340A, "es_CL"}, {0x3801, "ar_AE"}, {0x380A, "es_UY"},
    {0x3C01, "ar_BH"}, {0x3C0A, "es_PY"}, {0x4001, "ar_QA"}, {0x400A, "es_BO"}, {0x440A, "es_SV"},
    {0x480A, "es_HN"}, {0x4C0A, "es_NI"}, {0x500A, "es_PR"},};
static_assert(std::extent_v<decltype(kLcidTable)> == 215, "the LCID table has 215 rows");
}  // namespace

const char* localeCodeForLcid(uint32_t lcid) {
  for (const LcidRow& row : kLcidTable) {
    if (row.lcid == lcid) return row.code;
  }
  for (const LcidRow& row : kLcidTable) {
    if (row.lcid == (lcid & 0x3FF)) return row.code;
  }
  return nullptr;
}
