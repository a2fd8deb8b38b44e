#include "runtime/pack200_archives.h"

#include <gtest/gtest.h>

TEST(Pack200Archives, ListEndsWithTheMarkerArchive) {
  EXPECT_STREQ(kPackedArchives.front(), "lib\\rt.jar");
  EXPECT_STREQ(kPackedArchives.back(), "lib\\jsse.jar");
}

TEST(Pack200Archives, TargetIsThePathWithoutPackSuffix) {
  EXPECT_EQ(unpackTargetPath("C:\\t\\jre\\lib\\rt.jar.pack"), "C:\\t\\jre\\lib\\rt.jar");
  EXPECT_EQ(unpackTargetPath("a.pack"), "a");
  EXPECT_EQ(unpackTargetPath(".pack"), "");
  EXPECT_EQ(unpackTargetPath("rt.jar"), "");
  EXPECT_EQ(unpackTargetPath("pack"), "");
  EXPECT_EQ(unpackTargetPath("x.PACK"), "");
}

TEST(Pack200Archives, CommandLineStartsWithTheProgramSoThatRemoveIsAnOption) {
  EXPECT_EQ(unpack200CommandLine("C:\\j re\\bin\\unpack200.exe", "C:\\t\\a b.jar.pack", "C:\\t\\a b.jar"),
            "\"C:\\j re\\bin\\unpack200.exe\" -r \"C:\\t\\a b.jar.pack\" \"C:\\t\\a b.jar\"");
}
