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
