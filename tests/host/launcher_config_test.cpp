#include "config/launcher_config.h"

#include <gtest/gtest.h>

#include <climits>

namespace {
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { g_config = LauncherConfig(); }
  void TearDown() override { g_config = LauncherConfig(); }
};
}  // namespace

TEST_F(ConfigTest, IntegersReadLikeAtoi) {
  const std::pair<const char*, int> cases[] = {
      {"12abc", 12}, {"", 0}, {"abc", 0}, {"  42", 42}, {"\t-7x", -7}, {"+5", 5}, {"- 5", 0},
      {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"0x10", 0}};
  for (const auto& [text, expected] : cases) {
    g_config.narrow[107] = text;
    EXPECT_EQ(getConfigInt(107), expected) << '"' << text << '"';
  }
}

TEST_F(ConfigTest, AbsentEntriesReadEmptyAndAreNotCreated) {
  char narrow[16] = "garbage";
  char16_t wide[16] = u"garbage";
  EXPECT_EQ(getConfigInt(2002), 0);
  getConfigString(1000, narrow, sizeof narrow);
  getConfigWString(20013, wide, 16);
  EXPECT_STREQ(narrow, "");
  EXPECT_EQ(std::u16string(wide), u"");
  EXPECT_EQ(getConfigString(1000), "");
  EXPECT_EQ(getConfigWString(20013), u"");
  EXPECT_TRUE(g_config.narrow.empty());
  EXPECT_TRUE(g_config.wide.empty());
}

TEST_F(ConfigTest, NarrowAndWideMapsAreSeparate) {
  g_config.narrow[20013] = "narrow";
  g_config.wide[20013] = u"wide";
  EXPECT_EQ(getConfigString(20013), "narrow");
  EXPECT_EQ(getConfigWString(20013), u"wide");
}

TEST_F(ConfigTest, ValuesAreCutToTheCallersBuffer) {
  g_config.narrow[152] = "client_and_more";
  char small[7];
  getConfigString(152, small, sizeof small);
  EXPECT_STREQ(small, "client");
  g_config.wide[20007] = u"preparing";
  char16_t wide[5];
  getConfigWString(20007, wide, 5);
  EXPECT_EQ(std::u16string(wide), u"prep");
  g_config.narrow[128] = std::string(9000, 'x');
  EXPECT_EQ(getConfigString(128).size(), 8191u);
  g_config.wide[20001] = std::u16string(9000, u'y');
  EXPECT_EQ(getConfigWString(20001).size(), 8191u);
}

// Each accessor reads its own entry in the way its row types it.
TEST_F(ConfigTest, TypedAccessorsReadTheirEntryByItsType) {
  g_config.narrow[entry::kMinJavaVersion] = "1.8.0_401";
  g_config.narrow[entry::kJrePacked] = " 1x";
  g_config.wide[entry::kWizardCaption] = u"Setup \u00e9";
  g_config.narrow[entry::kWizardCaption] = "narrow twin";
  EXPECT_EQ(config::minJavaVersion(), "1.8.0_401");
  EXPECT_EQ(config::jrePacked(), 1);
  EXPECT_EQ(config::wizardCaption(), u"Setup \u00e9");
  EXPECT_EQ(config::maxJavaVersion(), "");
  EXPECT_EQ(config::versionScheme(), 0);
}

TEST_F(ConfigTest, ValueLimitsFollowTheCallersBuffers) {
  EXPECT_EQ(configValueLimit(152), 199u);
  EXPECT_EQ(configValueLimit(2001), 1u);
  EXPECT_EQ(configValueLimit(128), 8191u);
  EXPECT_EQ(configValueLimit(20016), 8191u);
}
