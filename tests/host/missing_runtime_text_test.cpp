#include "runtime/missing_runtime_text.h"

#include <gtest/gtest.h>

namespace {
const std::u16string kWithDownload = u"You can locate or download a suitable %S-bit JRE.";
}

TEST(RuntimeMissingText, BothBoundsAreListedInParentheses) {
  EXPECT_EQ(composeRuntimeMissingText(kWithDownload, u"32", u"minimum version:", u"1.6", u"maximum version:", u"1.7"),
            u"You can locate or download a suitable 32-bit JRE. (minimum version: 1.6, maximum version: 1.7)");
}

TEST(RuntimeMissingText, WithoutBoundsNothingIsAppended) {
  EXPECT_EQ(composeRuntimeMissingText(kWithDownload, u"64", u"min:", u"", u"max:", u""),
            u"You can locate or download a suitable 64-bit JRE.");
}

TEST(RuntimeMissingText, OnlyTheMaximumOpensTheParenthesisItself) {
  EXPECT_EQ(composeRuntimeMissingText(u"T", u"32", u"min:", u"", u"max:", u"1.7"), u"T (max: 1.7)");
  EXPECT_EQ(composeRuntimeMissingText(u"T", u"32", u"min:", u"1.6", u"max:", u""), u"T (min: 1.6)");
}

TEST(RuntimeMissingText, OnlyOneBitnessArgumentIsFilledIn) {
  EXPECT_EQ(composeRuntimeMissingText(u"%S %S %s %d 100%% %", u"32", u"", u"", u"", u""), u"32 %S %s %d 100% %");
}

TEST(LocatedRuntimeRefusal, SaysWhatWasWrongWithTheChoice) {
  auto refusal = [](std::u16string_view version, bool accepted) {
    return composeLocatedRuntimeRefusal(u"C:\\j\\java.exe", version, accepted, u"64", u"minimum version:", u"1.6",
                                        u"maximum version:", u"1.7");
  };
  const std::u16string again = u"\nPlease choose another java.exe, or Cancel.";
  EXPECT_EQ(refusal(u"1.8.0_202", false), u"C:\\j\\java.exe\nreports Java version 1.8.0_202, which this installer "
                                          u"cannot use (minimum version: 1.6, maximum version: 1.7)." + again);
  EXPECT_EQ(refusal(u"", false), u"C:\\j\\java.exe\nis not a 64-bit Java(TM) runtime: it reported no Java version." + again);
  EXPECT_EQ(refusal(u"1.6.0_21", true), u"C:\\j\\java.exe\nreports Java version 1.6.0_21, but javaw.exe is missing beside it." + again);
  EXPECT_EQ(composeLocatedRuntimeRefusal(u"j", u"9", false, u"32", u"min:", u"", u"max:", u""),
            u"j\nreports Java version 9, which this installer cannot use." + again);
}
