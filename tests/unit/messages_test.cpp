#include "messages.h"

#include <gtest/gtest.h>

#include "fake/fake_platform.h"

namespace sp {
namespace {

using fake::FakePlatform;
using fake::kModule;

class MessagesTest : public ::testing::Test {
 protected:
  MessagesTest() {
    process_.module_instance = kModule;
    auto& r = os_.resources;
    r.AddString(1033, 300,
                L"A problem prevented the Service Pack from being installed. "
                L"Contact your system administrator. \n\n Error Code: %d");
    r.AddString(1033, 301,
                L"The service pack was successfully installed and %s has been "
                L"updated.");
    r.AddString(1033, 306, L"Your version of %s is up-to-date");
    r.AddString(1033, 307, L"Not located.\nUse 100%% of it.");
    r.AddString(1033, 308, L"Not designed for %s.");
    r.AddString(1033, 310, L"Supply a patch list.");
    r.AddString(1033, 311, L"Installation Error");
    r.AddString(1033, 312, L"Installation Successful");
    r.AddString(1033, 313, L"Installation Unnecessary");
    r.AddString(1046, 301, L"%s foi atualizado.");
    r.AddString(1046, 312, L"Instalação concluída");
    r.AddString(1033, 700, L"9.1.0.6");
  }

  Messages messages() {
    return Messages(os_.resources, os_.thread, os_.boxes, process_);
  }

  FakePlatform os_;
  ProcessState process_;
};

TEST_F(MessagesTest, EachMessageGetsItsCaptionIconAndValue) {
  process_.current_product_name = L"Mervolt";
  os_.thread.last_error = 1642;
  struct Case {
    Uint id;
    std::wstring text;
    std::wstring caption;
    Uint flags;
  } cases[] = {
      {300,
       L"A problem prevented the Service Pack from being installed. Contact "
       L"your system administrator. \n\n Error Code: 1642",
       L"Installation Error", 0x50010},
      {301,
       L"The service pack was successfully installed and Mervolt has been "
       L"updated.",
       L"Installation Successful", 0x50040},
      {306, L"Your version of Mervolt is up-to-date",
       L"Installation Unnecessary", 0x50010},
      {307, L"Not located.\nUse 100% of it.", L"Installation Error", 0x50010},
      {308, L"Not designed for Mervolt.", L"Installation Error", 0x50010},
      {310, L"Supply a patch list.", L"Installation Error", 0x50010},
  };
  auto service = messages();
  for (const auto& c : cases) {
    os_.boxes.shown.clear();
    service.ShowMessage(c.id);
    ASSERT_EQ(os_.boxes.shown.size(), 1u) << c.id;
    EXPECT_EQ(os_.boxes.shown[0].text, c.text) << c.id;
    EXPECT_EQ(os_.boxes.shown[0].caption, c.caption) << c.id;
    EXPECT_EQ(os_.boxes.shown[0].type, c.flags) << c.id;
  }
}

TEST_F(MessagesTest, QuietModeTouchesNothing) {
  process_.quiet_mode = true;
  os_.thread.last_error = 5;
  messages().ShowMessage(301);
  EXPECT_TRUE(os_.boxes.shown.empty());
  EXPECT_TRUE(os_.log.empty());
  EXPECT_EQ(os_.thread.last_error, 5u);
}

TEST_F(MessagesTest, ErrorCodeIsReadBeforeAnythingElse) {
  os_.thread.last_error = 0x80070005;
  messages().ShowMessage(300);
  ASSERT_FALSE(os_.log.empty());
  EXPECT_EQ(os_.log.front(), "GetLastError");
  ASSERT_EQ(os_.boxes.shown.size(), 1u);
  // A code with the top bit set is shown as a signed number.
  EXPECT_NE(os_.boxes.shown[0].text.find(L"Error Code: -2147024891"),
            std::wstring::npos);
}

TEST_F(MessagesTest, TextAndCaptionFollowTheThreadLocale) {
  process_.current_product_name = L"Mervolt";
  os_.thread.locale = 1046;
  messages().ShowMessage(301);
  ASSERT_EQ(os_.boxes.shown.size(), 1u);
  EXPECT_EQ(os_.boxes.shown[0].text, L"Mervolt foi atualizado.");
  EXPECT_EQ(os_.boxes.shown[0].caption, L"Instalação concluída");
}

TEST_F(MessagesTest, EnglishTableServesLanguagesWithoutATable) {
  std::wstring text = L"old";
  os_.thread.locale = 1046;
  EXPECT_EQ(LoadText(os_.resources, os_.thread, kModule, 700, text, 256), 7);
  EXPECT_EQ(text, L"9.1.0.6");
  os_.thread.locale = 1053;  // Swedish: no table at all
  EXPECT_EQ(LoadText(os_.resources, os_.thread, kModule, 311, text, 256), 18);
  EXPECT_EQ(text, L"Installation Error");
}

TEST_F(MessagesTest, LoadTextCutsAtCapacityAndEmptiesMissingTexts) {
  os_.resources.AddString(1033, 900, std::wstring(300, L'x'));
  std::wstring text;
  EXPECT_EQ(LoadText(os_.resources, os_.thread, kModule, 900, text, 256), 255);
  EXPECT_EQ(text, std::wstring(255, L'x'));
  text = L"old";
  EXPECT_EQ(LoadText(os_.resources, os_.thread, kModule, 901, text, 256), 0);
  EXPECT_EQ(text, L"");
  text = L"old";
  EXPECT_EQ(LoadText(os_.resources, os_.thread, kModule, 1200, text, 256), 0);
  EXPECT_EQ(text, L"");
}

TEST_F(MessagesTest, LongProductNameNeverRunsPastTheBuffer) {
  process_.current_product_name = std::wstring(2000, L'n');
  messages().ShowMessage(308);
  ASSERT_EQ(os_.boxes.shown.size(), 1u);
  // The buffer holds the loaded text's length plus 512 characters.
  EXPECT_EQ(os_.boxes.shown[0].text.size(),
            std::wstring(L"Not designed for %s.").size() + 511);
}

TEST(FormatTextTest, BehavesLikeTheWindowsFormatter) {
  struct Case {
    std::wstring format;
    std::vector<FormatArg> args;
    std::wstring expected;
  } cases[] = {
      {L"Code: %d", {-5L}, L"Code: -5"},
      {L"%u", {-1L}, L"4294967295"},
      {L"100%%", {}, L"100%"},
      {L"Merv-%s%:%s",
       {std::wstring(L"5F6"), std::wstring(L"7B8")},
       L"Merv-5F6:7B8"},
      {L"#%d", {206L}, L"#206"},
      {L"no args %s", {}, L"no args "},
      {L"trailing %", {}, L"trailing %"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatText(c.format, c.args, 1024), c.expected) << c.format;
  }
  EXPECT_EQ(FormatText(L"abcdef", {}, 4), L"abc");
  EXPECT_EQ(FormatText(L"abcdef", {}, 0), L"");
}

TEST(StringFromBlockTest, ReadsCountedStringsAndRejectsShortBlocks) {
  // Two strings: "" then "ab".
  const std::uint8_t block[] = {0, 0, 2, 0, 'a', 0, 'b', 0};
  EXPECT_EQ(StringFromBlock(block, sizeof block, 0), L"");
  EXPECT_EQ(StringFromBlock(block, sizeof block, 1), L"ab");
  EXPECT_EQ(StringFromBlock(block, sizeof block, 2), std::nullopt);
  EXPECT_EQ(StringFromBlock(block, 6, 1), std::nullopt);
}

}  // namespace
}  // namespace sp
