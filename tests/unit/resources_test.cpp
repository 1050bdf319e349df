// Checks of the compiled resources: the message catalogue on its own and the
// whole resource set of a service pack.
//
// Compile definitions (string literals):
//   SP_CATALOGUE_RES     catalogue.rc compiled alone
//   SP_SERVICEPACK_RES   the service pack's compiled resources
//   SP_PAYLOAD           the patch package built into them
//   SP_TEXTS             the patch-information files, ';'-separated, in id
//                        order from 206 (may be empty)
//   SP_TARGET_VERSION    the text of string 700
//   SP_ACCEPTED_VERSIONS the text of string 900

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "res_file.h"

namespace sp::test {
namespace {

constexpr uint16_t kEnglish = 1033;
constexpr uint16_t kPayloadLanguage = 1046;
constexpr uint16_t kFirstTextId = 206;

constexpr std::array<uint16_t, 14> kLanguages = {1028, 1029, 1031, 1033, 1034,
                                                 1036, 1038, 1040, 1041, 1042,
                                                 1045, 1046, 1049, 2052};

constexpr std::array<uint16_t, 10> kMessageIds = {300, 301, 306, 307, 308,
                                                  309, 310, 311, 312, 313};

/// The English catalogue, exactly as it must be compiled.
const std::map<uint16_t, std::u16string_view> kEnglishTexts = {
    {300,
     u"A problem prevented the Service Pack from being installed. Contact "
     u"your system administrator. \n\n Error Code: %d"},
    {301,
     u"The service pack was successfully installed and %s has been "
     u"updated."},
    {306,
     u"Your version of %s is up-to-date and this service pack is not "
     u"necessary"},
    {307,
     u"The service pack could not be installed because the expected Corvane "
     u"product could not be located on your computer.\nMake sure that you are "
     u"using the correct service pack for the product."},
    {308,
     u"This service pack could not be installed because it is not designed "
     u"for the version of %s that is installed on your computer."},
    {309,
     u"The command line that you supplied is incorrect. Please check it "
     u"for errors."},
    {310,
     u"You must supply a patch list with the command line to install this "
     u"service pack installation."},
    {311, u"Installation Error"},
    {312, u"Installation Successful"},
    {313, u"Installation Unnecessary"},
};

/// String-table block number that holds an id.
constexpr uint16_t BlockOf(uint16_t id) { return id / 16 + 1; }

/// Readable form of a resource type or name for failure messages.
std::string Describe(const ResId& id) {
  return id.is_number ? std::to_string(id.number)
                      : "\"" + ToUtf8(id.text) + "\"";
}

std::string Describe(const ResEntry& e) {
  return "type " + Describe(e.type) + " name " + Describe(e.name) +
         " language " + std::to_string(e.language);
}

/// The resources of a compiled .res file, or a failure naming the problem.
::testing::AssertionResult LoadRes(const std::string& path,
                                   std::vector<ResEntry>* entries) {
  const auto bytes = ReadFileBytes(path);
  if (!bytes) return ::testing::AssertionFailure() << "cannot read " << path;
  std::string error;
  auto parsed = ParseResFile(*bytes, &error);
  if (!parsed) return ::testing::AssertionFailure() << path << ": " << error;
  *entries = std::move(*parsed);
  return ::testing::AssertionSuccess();
}

/// Present (non-empty) strings of the RT_STRING blocks among entries, by
/// language and id. Blocks that cannot be decoded are reported as failures.
std::map<uint16_t, std::map<uint16_t, std::u16string>> StringsByLanguage(
    const std::vector<ResEntry>& entries) {
  std::map<uint16_t, std::map<uint16_t, std::u16string>> strings;
  for (const ResEntry& e : entries) {
    if (e.type != ResId::Number(kRtString) || !e.name.is_number) continue;
    const auto block = DecodeStringBlock(e.data);
    if (!block) {
      ADD_FAILURE() << "undecodable string block: " << Describe(e);
      continue;
    }
    for (uint16_t i = 0; i < 16; ++i) {
      if ((*block)[i].empty()) continue;
      const uint16_t id = (e.name.number - 1) * 16 + i;
      strings[e.language][id] = (*block)[i];
    }
  }
  return strings;
}

/// The %-conversions of a text in order, each as written ("%d", "%%",
/// "%-5ls"); a '%' that starts no conversion is returned with the character
/// after it, or alone at the end of the text.
std::vector<std::u16string> Conversions(std::u16string_view text) {
  constexpr std::u16string_view kSpecChars = u"-#0123456789.hlI";
  std::vector<std::u16string> result;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'%') continue;
    size_t end = i + 1;
    while (end < text.size() &&
           kSpecChars.find(text[end]) != std::u16string_view::npos) {
      ++end;
    }
    end = std::min(end + 1, text.size());
    result.emplace_back(text.substr(i, end - i));
    i = end - 1;
  }
  return result;
}

TEST(ConversionsTest, ListsEachPercentSequence) {
  const struct {
    std::u16string_view text;
    std::vector<std::u16string> expected;
  } cases[] = {
      {u"Error Code: %d", {u"%d"}},
      {u"no placeholder", {}},
      {u"%-5ls and %s", {u"%-5ls", u"%s"}},
      {u"100%% done, 5% ", {u"%%", u"% "}},
      {u"ends with %", {u"%"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Conversions(c.text), c.expected) << ToUtf8(c.text);
  }
}

// --- The catalogue compiled alone -----------------------------------------

/// A compiled .res file, read once per test program.
struct LoadedRes {
  ::testing::AssertionResult loaded = ::testing::AssertionFailure();
  std::vector<ResEntry> entries;
};

LoadedRes Load(const std::string& path) {
  LoadedRes res;
  res.loaded = LoadRes(path, &res.entries);
  return res;
}

const LoadedRes& CatalogueRes() {
  static const LoadedRes res = Load(SP_CATALOGUE_RES);
  return res;
}

const LoadedRes& ServicePackRes() {
  static const LoadedRes res = Load(SP_SERVICEPACK_RES);
  return res;
}

/// Present strings of one language of the catalogue, by id (empty when the
/// catalogue has no table for it).
std::map<uint16_t, std::u16string> CatalogueTable(uint16_t language) {
  const auto strings = StringsByLanguage(CatalogueRes().entries);
  auto it = strings.find(language);
  return it == strings.end() ? std::map<uint16_t, std::u16string>{}
                             : it->second;
}

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CatalogueRes().loaded); }
};

class CatalogueLanguageTest : public ::testing::TestWithParam<uint16_t> {
 protected:
  void SetUp() override { ASSERT_TRUE(CatalogueRes().loaded); }
};

TEST_F(CatalogueTest, HoldsOnlyBlocks19And20OfTheFourteenLanguages) {
  std::set<std::pair<uint16_t, uint16_t>> expected;  // (language, block)
  for (uint16_t language : kLanguages) {
    expected.insert({language, 19});
    expected.insert({language, 20});
  }
  std::set<std::pair<uint16_t, uint16_t>> found;
  for (const ResEntry& e : CatalogueRes().entries) {
    if (e.type != ResId::Number(kRtString) || !e.name.is_number) {
      ADD_FAILURE() << "unexpected resource: " << Describe(e);
      continue;
    }
    EXPECT_TRUE(found.insert({e.language, e.name.number}).second)
        << "block twice: " << Describe(e);
  }
  EXPECT_EQ(found, expected);
}

TEST_P(CatalogueLanguageTest, HoldsExactlyTheTenIds) {
  std::set<uint16_t> ids;
  for (const auto& [id, text] : CatalogueTable(GetParam())) ids.insert(id);
  EXPECT_EQ(ids, std::set<uint16_t>(kMessageIds.begin(), kMessageIds.end()));
}

TEST_P(CatalogueLanguageTest, TextsKeepTheEnglishPlaceholdersAndFit) {
  const auto table = CatalogueTable(GetParam());
  for (uint16_t id : kMessageIds) {
    SCOPED_TRACE("id " + std::to_string(id));
    auto it = table.find(id);
    ASSERT_NE(it, table.end());
    const std::u16string& text = it->second;
    const std::u16string_view english = kEnglishTexts.at(id);
    EXPECT_FALSE(text.empty());
    EXPECT_LE(text.size(), 255u) << ToUtf8(text);
    EXPECT_EQ(Conversions(text), Conversions(english)) << ToUtf8(text);
    // Same line layout as the English text, and no CR anywhere.
    EXPECT_EQ(std::count(text.begin(), text.end(), u'\n'),
              std::count(english.begin(), english.end(), u'\n'))
        << ToUtf8(text);
    EXPECT_EQ(text.find(u'\r'), std::u16string::npos) << ToUtf8(text);
    if (english.find(u"Corvane") != std::u16string_view::npos) {
      EXPECT_NE(text.find(u"Corvane"), std::u16string::npos) << ToUtf8(text);
    }
  }
}

TEST_F(CatalogueTest, TranslationsDifferFromEnglish) {
  for (uint16_t language : kLanguages) {
    if (language == kEnglish) continue;
    const auto table = CatalogueTable(language);
    for (uint16_t id : kMessageIds) {
      auto it = table.find(id);
      if (it == table.end()) continue;  // reported by HoldsExactlyTheTenIds
      EXPECT_NE(std::u16string_view(it->second), kEnglishTexts.at(id))
          << "language " << language << " id " << id << " is the English text";
    }
  }
}

TEST_F(CatalogueTest, EnglishTextsAreExact) {
  const auto table = CatalogueTable(kEnglish);
  for (const auto& [id, expected] : kEnglishTexts) {
    auto it = table.find(id);
    ASSERT_NE(it, table.end()) << "id " << id;
    EXPECT_TRUE(it->second == expected)
        << "id " << id << "\n  actual:   " << ToUtf8(it->second)
        << "\n  expected: " << ToUtf8(expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, CatalogueLanguageTest,
                         ::testing::ValuesIn(kLanguages), [](const auto& info) {
                           return std::to_string(info.param);
                         });

// --- The whole service pack -------------------------------------------------

/// Paths of the patch-information files, in id order from 206.
std::vector<std::string> TextPaths() {
  std::vector<std::string> paths;
  const std::string all = SP_TEXTS;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    if (end > start) paths.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

class ServicePackTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ServicePackRes().loaded); }

  static const std::vector<ResEntry>& Entries() {
    return ServicePackRes().entries;
  }

  /// The entries whose type is the given string.
  static std::vector<const ResEntry*> OfType(std::u16string_view type) {
    std::vector<const ResEntry*> result;
    for (const ResEntry& e : Entries()) {
      if (e.type == ResId::Text(type)) result.push_back(&e);
    }
    return result;
  }

  /// The decoded block of a language, or nullopt when absent or malformed.
  static std::optional<std::array<std::u16string, 16>> Block(
      uint16_t block, uint16_t language) {
    for (const ResEntry& e : Entries()) {
      if (e.type == ResId::Number(kRtString) &&
          e.name == ResId::Number(block) && e.language == language) {
        return DecodeStringBlock(e.data);
      }
    }
    return std::nullopt;
  }
};

TEST_F(ServicePackTest, CarriesOnlyPayloadTextsAndStringTables) {
  std::set<std::tuple<std::string, std::string, uint16_t>> seen;
  for (const ResEntry& e : Entries()) {
    const bool known = e.type == ResId::Text(u"MSP") ||
                       e.type == ResId::Text(u"TXT") ||
                       e.type == ResId::Number(kRtString);
    EXPECT_TRUE(known) << "unexpected resource: " << Describe(e);
    EXPECT_TRUE(
        seen.insert({Describe(e.type), Describe(e.name), e.language}).second)
        << "twice: " << Describe(e);
  }
}

TEST_F(ServicePackTest, PayloadIsThePatchPackageInOneLanguage) {
  const auto payloads = OfType(u"MSP");
  ASSERT_EQ(payloads.size(), 1u);
  const ResEntry& payload = *payloads[0];
  EXPECT_EQ(payload.name, ResId::Text(u"IDR_MSP")) << Describe(payload);
  EXPECT_EQ(payload.language, kPayloadLanguage);
  const auto expected = ReadFileBytes(SP_PAYLOAD);
  ASSERT_TRUE(expected) << "cannot read " << SP_PAYLOAD;
  EXPECT_FALSE(expected->empty());
  EXPECT_TRUE(payload.data == *expected)
      << "payload differs from " << SP_PAYLOAD << " (" << payload.data.size()
      << " bytes against " << expected->size() << ")";
}

TEST_F(ServicePackTest, TextsAreTheFilesConsecutiveFrom206) {
  const auto paths = TextPaths();
  std::map<uint16_t, const ResEntry*> texts;
  for (const ResEntry* e : OfType(u"TXT")) {
    EXPECT_TRUE(e->name.is_number) << Describe(*e);
    EXPECT_EQ(e->language, kPayloadLanguage) << Describe(*e);
    texts[e->name.number] = e;
  }
  std::vector<uint16_t> expected_ids, ids;
  for (size_t i = 0; i < paths.size(); ++i) {
    expected_ids.push_back(static_cast<uint16_t>(kFirstTextId + i));
  }
  for (const auto& [id, e] : texts) ids.push_back(id);
  ASSERT_EQ(ids, expected_ids);
  for (size_t i = 0; i < paths.size(); ++i) {
    const auto expected = ReadFileBytes(paths[i]);
    ASSERT_TRUE(expected) << "cannot read " << paths[i];
    EXPECT_TRUE(texts.at(expected_ids[i])->data == *expected)
        << "text " << expected_ids[i] << " differs from " << paths[i];
  }
}

TEST_F(ServicePackTest, StringTablesAreTheCatalogueAndTheVersions) {
  std::set<std::pair<uint16_t, uint16_t>> expected;  // (language, block)
  for (uint16_t language : kLanguages) {
    expected.insert({language, 19});
    expected.insert({language, 20});
  }
  expected.insert({kEnglish, BlockOf(700)});
  expected.insert({kEnglish, BlockOf(900)});
  std::set<std::pair<uint16_t, uint16_t>> found;
  for (const ResEntry& e : Entries()) {
    if (e.type != ResId::Number(kRtString)) continue;
    EXPECT_TRUE(e.name.is_number) << Describe(e);
    found.insert({e.language, e.name.number});
  }
  EXPECT_EQ(found, expected);

  // The catalogue blocks are those of the catalogue compiled alone.
  ASSERT_TRUE(CatalogueRes().loaded);
  for (const ResEntry& c : CatalogueRes().entries) {
    SCOPED_TRACE(Describe(c));
    const auto mine = Block(c.name.number, c.language);
    const auto theirs = DecodeStringBlock(c.data);
    ASSERT_TRUE(mine && theirs);
    EXPECT_TRUE(*mine == *theirs);
  }
}

TEST_F(ServicePackTest, VersionStringsAreTheOnlyStringsOfTheirBlocks) {
  const struct {
    uint16_t id;
    std::string expected;
  } cases[] = {{700, SP_TARGET_VERSION}, {900, SP_ACCEPTED_VERSIONS}};
  for (const auto& c : cases) {
    SCOPED_TRACE("id " + std::to_string(c.id));
    const auto block = Block(BlockOf(c.id), kEnglish);
    ASSERT_TRUE(block);
    for (uint16_t i = 0; i < 16; ++i) {
      const std::string text = ToUtf8((*block)[i]);
      if (i == c.id % 16) {
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text, c.expected);
      } else {
        EXPECT_EQ(text, "") << "id " << (c.id / 16 * 16 + i);
      }
    }
  }
}

}  // namespace
}  // namespace sp::test
