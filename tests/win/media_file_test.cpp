// The launcher's own lookup of its appended data, on files written for the purpose.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "base/handles.h"
#include "media/media_file.h"
#include "temp_dir.h"

namespace {

// An image with two sections whose first entry ends further into the file than the last one.
std::string imageWithTwoSections(uint32_t firstEnd, uint32_t lastEnd, uint32_t fileSize) {
  std::string image(fileSize, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  const uint32_t pe = 0x80;
  std::memcpy(&image[60], &pe, 4);
  std::memcpy(&image[pe], "PE\0\0", 4);
  const uint16_t sections = 2, optionalSize = 0xE0;
  std::memcpy(&image[pe + 6], &sections, 2);
  std::memcpy(&image[pe + 20], &optionalSize, 2);
  auto setSection = [&](int index, uint32_t rawPointer, uint32_t rawEnd) {
    uint32_t entry = pe + 24 + optionalSize + 40 * index;
    uint32_t rawSize = rawEnd - rawPointer;
    std::memcpy(&image[entry + 16], &rawSize, 4);
    std::memcpy(&image[entry + 20], &rawPointer, 4);
  };
  setSection(0, 0x400, firstEnd);
  setSection(1, 0x200, lastEnd);
  return image;
}

}  // namespace

TEST(MediaFile, AppendedDataFollowsTheLastTableEntryEvenWhenAnotherSectionEndsLater) {
  TempDir dir;
  std::string path = dir.file("two_sections.exe");
  std::string image = imageWithTwoSections(0xC00, 0x400, 0x1000);
  image.replace(0x400, kMediaHeaderSize, encodeMediaHeader(MediaHeader()));
  writeWholeFile(path, image + std::string("\x05\0\0\0tail", 8));
  FileHandle media(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(media.valid());
  MediaFileSource source(media.h);
  EXPECT_EQ(source.byteLength(), 0x1008u);
  EXPECT_EQ(locateAppendedData(source), 0x400);
  SourceReader reader(source, 0x400);
  EXPECT_EQ(readMediaHeader(reader).magic, kMediaMagic);
  // The reads place the handle themselves, wherever an earlier one left it.
  SourceReader tail(source, 0x1000);
  EXPECT_THROW(tail.readString(), MediaFormatError) << "five bytes announced, four left";
  char last[4];
  EXPECT_TRUE(source.bytesAt(0x1004, last, 4));
  EXPECT_EQ(std::string(last, 4), "tail");
  EXPECT_FALSE(source.bytesAt(0x1005, last, 4));
}
