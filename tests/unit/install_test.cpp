// The install run against the in-memory platform: extraction, discovery,
// the gate, the patch call and what the user is shown.
#include "install.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "fake/fake_platform.h"
#include "messages.h"
#include "payload.h"
#include "process_state.h"
#include "repairs.h"

namespace sp {
namespace {

using fake::FakePlatform;
using fake::kModule;
using fake::Narrow;

constexpr wchar_t kPayloadPath[] = L"C:\\Temp\\MSP5000";
constexpr wchar_t kCommonFiles[] = L"C:\\Program Files\\Common Files";
constexpr wchar_t kSharedFile[] =
    L"C:\\Program Files\\Common Files\\Corvane Shared\\ B1E56000plu.cfg";
constexpr wchar_t kA[] = L"{AAAAAAAA-0000-0000-0000-000000000001}";
constexpr wchar_t kB[] = L"{BBBBBBBB-0000-0000-0000-000000000002}";
constexpr wchar_t kC[] = L"{CCCCCCCC-0000-0000-0000-000000000003}";

/// A machine with the service pack's resources, the shared file present,
/// and the target list A;B;C in the extracted package.
class Scenario {
 public:
  Scenario() {
    process_.module_instance = kModule;
    os_.resources.Add(L"MSP", L"IDR_MSP", 1046, fake::Bytes("PATCHBYTES"));
    os_.files.tick_count = 5000;
    os_.files.directories.insert(L"C:\\Program Files");
    os_.files.directories.insert(L"C:\\Program Files\\Common Files");
    os_.files.directories.insert(
        L"C:\\Program Files\\Common Files\\Corvane Shared");
    os_.files.files[kSharedFile] = fake::Bytes("cfg");
    os_.environment.variables[L"CommonProgramFiles"] = kCommonFiles;
    os_.resources.AddString(1033, kStringTargetVersion, L"9.1.0.6");
    os_.resources.AddString(1033, kStringAcceptedVersions, L"9.0.43.0,");
    // Two languages of the catalogue, told apart by their first word.
    for (const auto& [language, tag] :
         {std::pair<LangId, std::wstring>{1033, L"en"}, {1046, L"pt"}}) {
      os_.resources.AddString(language, kMsgInstallError, tag + L" error %d");
      os_.resources.AddString(language, kMsgInstalled, tag + L" patched %s");
      os_.resources.AddString(language, kMsgUpToDate, tag + L" current %s");
      os_.resources.AddString(language, kMsgNoProduct, tag + L" none");
      os_.resources.AddString(language, kMsgWrongVersion, tag + L" wrong %s");
      os_.resources.AddString(language, kCaptionError, tag + L" Error");
      os_.resources.AddString(language, kCaptionSuccess, tag + L" Success");
      os_.resources.AddString(language, kCaptionUnnecessary,
                              tag + L" Unnecessary");
    }
    SetTargetList(std::wstring(kA) + L";" + kB + L";" + kC);
  }

  void SetTargetList(const std::wstring& list) {
    os_.msi.packages[kPayloadPath].text[kPidTemplate] = list;
  }

  /// A product Windows Installer reports as installed.
  void AddProduct(const std::wstring& code, const std::wstring& version,
                  const std::wstring& language, const std::wstring& name) {
    auto& product = os_.msi.products[code];
    product.state = kInstallStateDefault;
    product.properties = {{L"VersionString", version},
                          {L"LocalPackage", L"C:\\Windows\\Installer\\" +
                                                name.substr(0, 1) + L".msi"},
                          {L"ProductName", name},
                          {L"Language", language}};
  }

  bool Run() { return installer_.InstallRun(); }

  /// The boxes shown, as "caption|text".
  std::vector<std::wstring> Boxes() const {
    std::vector<std::wstring> out;
    for (const auto& box : os_.boxes.shown) {
      out.push_back(box.caption + L"|" + box.text);
    }
    return out;
  }

  /// Position of the first log line that begins with `prefix`; the log's
  /// size when there is none.
  std::size_t At(const std::string& prefix) const {
    auto found = std::find_if(
        os_.log.begin(), os_.log.end(),
        [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return static_cast<std::size_t>(found - os_.log.begin());
  }

  FakePlatform os_;
  ProcessState process_;
  Messages messages_{os_.resources, os_.thread, os_.boxes, process_};
  Payload payload_{os_.resources, os_.files, os_.environment, kModule};
  TargetListReader reader_{os_.files, os_.msi};
  Repairs repairs_{os_.registry, os_.version, os_.msi};
  Installer installer_{os_.thread, os_.environment, os_.files,
                       os_.msi,    payload_,        reader_,
                       messages_,  process_,        repairs_};
};

TEST(InstallTest, PatchableProductIsPatchedInItsLanguage) {
  Scenario t;
  t.AddProduct(kB, L"9.0.43.0", L"1046", L"Mervolt Pro");

  EXPECT_TRUE(t.Run());

  EXPECT_EQ(t.Boxes(),
            std::vector<std::wstring>{L"pt Success|pt patched Mervolt Pro"});
  EXPECT_EQ(t.os_.boxes.shown[0].type, 0x50040u);
  // Windows Installer gets the product, the default level and state, and
  // the package path as the PATCH property.
  ASSERT_EQ(t.os_.msi.configured.size(), 1u);
  EXPECT_EQ(t.os_.msi.configured[0].product, kB);
  EXPECT_EQ(t.os_.msi.configured[0].level, 0);
  EXPECT_EQ(t.os_.msi.configured[0].state, 5);
  EXPECT_EQ(t.os_.msi.configured[0].command_line,
            L"PATCH=\"C:\\Temp\\MSP5000\"");
  ASSERT_EQ(t.process_.product_list.size(), 1u);
  EXPECT_EQ(t.process_.product_list[0].patch_command_line,
            L"PATCH=\"C:\\Temp\\MSP5000\"");
  EXPECT_EQ(t.process_.current_product_name, L"Mervolt Pro");
  // The shared file goes by its narrow path, the payload at the very end.
  EXPECT_EQ(t.os_.files.narrow_removals,
            std::vector<std::string>{Narrow(kSharedFile)});
  EXPECT_FALSE(t.os_.files.Exists(kSharedFile));
  EXPECT_FALSE(t.os_.files.Exists(kPayloadPath));
  EXPECT_EQ(t.os_.thread.locales_set, std::vector<Lcid>{1046});
  EXPECT_LT(t.At("SetThreadLocale 1046"), t.At("RegOpenKeyExW"));
  // The repairs come between the gate and the patch.
  EXPECT_LT(t.At("RegOpenKeyExW"), t.At("MsiConfigureProductExW"));
  EXPECT_LT(t.At("MsiConfigureProductExW"), t.At("DeleteFileA"));
  EXPECT_LT(t.At("DeleteFileA"), t.At("MessageBoxW"));
  EXPECT_LT(t.At("MessageBoxW"), t.At("DeleteFileW"));
  EXPECT_EQ(t.os_.log.back(), "DeleteFileW " + Narrow(kPayloadPath));
}

TEST(InstallTest, DiscoveryKeepsListOrderAndReadsFourProperties) {
  Scenario t;
  t.AddProduct(kC, L"9.1.0.6", L"1033", L"Cee");
  t.AddProduct(kA, L"9.1.0.6", L"1033", L"Ay");
  t.os_.msi.products[kA].state = kInstallStateAdvertised;
  t.os_.msi.products[kB].state = 2;  // INSTALLSTATE_ABSENT: not present
  t.os_.msi.products[kB].properties = {{L"ProductName", L"Bee"}};

  EXPECT_TRUE(t.Run());

  EXPECT_EQ(t.os_.Calls("MsiQueryProductStateW"),
            (std::vector<std::string>{"MsiQueryProductStateW " + Narrow(kA),
                                      "MsiQueryProductStateW " + Narrow(kB),
                                      "MsiQueryProductStateW " + Narrow(kC)}));
  std::vector<std::string> reads;
  for (const wchar_t* code : {kA, kC}) {
    for (const char* property :
         {"VersionString", "LocalPackage", "ProductName", "Language"}) {
      reads.push_back("MsiGetProductInfoW " + Narrow(code) + " " + property +
                      " 1024");
    }
  }
  EXPECT_EQ(t.os_.Calls("MsiGetProductInfoW"), reads);
  ASSERT_EQ(t.process_.product_list.size(), 2u);
  const ProductRecord& first = t.process_.product_list[0];
  EXPECT_EQ(first.product_code, kA);
  EXPECT_EQ(first.version_string, L"9.1.0.6");
  EXPECT_EQ(first.local_package, L"C:\\Windows\\Installer\\A.msi");
  EXPECT_EQ(first.product_name, L"Ay");
  EXPECT_EQ(first.language, L"1033");
  EXPECT_EQ(first.target_version, L"9.1.0.6");
  EXPECT_EQ(first.accepted_versions, L"9.0.43.0,");
  EXPECT_EQ(first.patch_command_line, L"");
  EXPECT_EQ(t.process_.product_list[1].product_code, kC);
}

TEST(InstallTest, ADuplicatedCodeIsHandledTwice) {
  Scenario t;
  t.SetTargetList(std::wstring(kA) + L";" + kA + L";;" + kB);
  t.AddProduct(kA, L"9.0.43.0", L"1033", L"Ay");
  t.AddProduct(kB, L"9.0.43.0", L"1033", L"Bee");

  EXPECT_TRUE(t.Run());

  EXPECT_EQ(t.process_.product_list.size(), 2u);
  EXPECT_EQ(t.os_.msi.configured.size(), 2u);
  EXPECT_EQ(t.Boxes(),
            (std::vector<std::wstring>{L"en Success|en patched Ay",
                                       L"en Success|en patched Ay"}));
  // Nothing after the empty entry is asked about.
  EXPECT_EQ(t.os_.Calls("MsiQueryProductStateW " + Narrow(kB)).size(), 0u);
}

TEST(InstallTest, APropertyThatCannotBeReadWholeStaysEmpty) {
  Scenario t;
  t.AddProduct(kA, L"9.1.0.6", L"1033", L"Ay");
  auto& product = t.os_.msi.products[kA];
  product.failing[L"LocalPackage"] = kErrorUnknownProperty;
  product.properties[L"ProductName"] = std::wstring(1024, L'n');  // too long
  product.properties[L"Language"] = std::wstring(1023, L'7');     // fits

  EXPECT_TRUE(t.Run());

  ASSERT_EQ(t.process_.product_list.size(), 1u);
  const ProductRecord& record = t.process_.product_list[0];
  EXPECT_EQ(record.version_string, L"9.1.0.6");
  EXPECT_EQ(record.local_package, L"");
  EXPECT_EQ(record.product_name, L"");
  EXPECT_EQ(record.language, std::wstring(1023, L'7'));
}

TEST(InstallTest, EarlyEnds) {
  const struct {
    const char* name;
    void (*prepare)(Scenario&);
    std::wstring box;
    bool payload_stays;
  } cases[] = {
      {"payload not extracted",
       [](Scenario& t) { t.os_.resources.Remove(L"MSP", L"IDR_MSP"); },
       L"en Error|en error 0", false},
      {"no TargetVersion",
       [](Scenario& t) {
         t.os_.resources.AddString(1033, kStringTargetVersion, L"");
       },
       L"en Error|en error 0", true},
      {"no AcceptedVersions",
       [](Scenario& t) {
         t.os_.resources.AddString(1033, kStringAcceptedVersions, L"");
       },
       L"en Error|en error 0", true},
      {"target list not read", [](Scenario& t) { t.os_.msi.packages.clear(); },
       L"en Error|en error 0", true},
      {"no product present", [](Scenario& t) { t.os_.msi.products.clear(); },
       L"en Error|en none", true},
      {"an empty first entry",
       [](Scenario& t) { t.SetTargetList(std::wstring(L";") + kA); },
       L"en Error|en none", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario t;
    t.AddProduct(kA, L"9.0.43.0", L"1046", L"Ay");
    c.prepare(t);

    EXPECT_FALSE(t.Run());

    EXPECT_EQ(t.Boxes(), std::vector<std::wstring>{c.box});
    EXPECT_EQ(t.os_.files.Exists(kPayloadPath), c.payload_stays);
    EXPECT_TRUE(t.os_.thread.locales_set.empty());
    EXPECT_TRUE(t.os_.msi.configured.empty());
    EXPECT_TRUE(t.process_.product_list.empty());
  }
}

TEST(InstallTest, EndRunStopsAtOnceAndKeepsThePayload) {
  Scenario t;
  t.os_.resources.AddString(1033, kStringAcceptedVersions,
                            L"9.1.0.6,9.0.43.0,");
  t.AddProduct(kA, L"9.0.43.0", L"1046", L"Ay");
  t.AddProduct(kB, L"9.0.43.0", L"1033", L"Bee");

  EXPECT_FALSE(t.Run());

  EXPECT_EQ(t.Boxes(),
            std::vector<std::wstring>{L"pt Unnecessary|pt current Ay"});
  EXPECT_EQ(t.os_.boxes.shown[0].type, 0x50010u);
  EXPECT_TRUE(t.os_.msi.configured.empty());
  EXPECT_EQ(t.os_.thread.locales_set, std::vector<Lcid>{1046});
  EXPECT_TRUE(t.os_.files.Exists(kPayloadPath));
}

TEST(InstallTest, ClosingMessageOnlyWhenEveryProductIsCurrent) {
  const struct {
    const char* name;
    std::wstring version_a, version_b, version_c;
    std::vector<std::wstring> boxes;
  } cases[] = {
      {"all three current",
       L"9.1.0.6",
       L"9,1,0,6",
       L"9.1.0.6",
       {L"en Unnecessary|en current Cee"}},
      {"current then patchable",
       L"9.1.0.6",
       L"9.0.43.0",
       L"9.1.0.6",
       {L"pt Success|pt patched Bee"}},
      {"rejected then current",
       L"8.0.0.0",
       L"9.1.0.6",
       L"9.1.0.6",
       {L"pt Error|pt wrong Ay"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario t;
    t.AddProduct(kA, c.version_a, L"1046", L"Ay");
    t.AddProduct(kB, c.version_b, L"1046", L"Bee");
    t.AddProduct(kC, c.version_c, L"1046", L"Cee");

    EXPECT_TRUE(t.Run());

    EXPECT_EQ(t.Boxes(), c.boxes);
    EXPECT_FALSE(t.os_.files.Exists(kPayloadPath));
  }
}

TEST(InstallTest, ClosingMessageComesAfterTheLocaleIsReset) {
  Scenario t;
  t.AddProduct(kA, L"9.1.0.6", L"1046", L"Ay");
  t.AddProduct(kB, L"9.1.0.6", L"1046", L"Bee");
  t.os_.thread.user_default_locale = 1033;

  EXPECT_TRUE(t.Run());

  EXPECT_EQ(t.os_.thread.locales_set, (std::vector<Lcid>{1046, 1046, 0x400}));
  EXPECT_EQ(t.Boxes(),
            std::vector<std::wstring>{L"en Unnecessary|en current Bee"});
  EXPECT_EQ(t.os_.boxes.shown[0].type, 0x50010u);
  EXPECT_LT(t.At("SetThreadLocale 1024"), t.At("MessageBoxW"));
  // Products already current get no repair.
  EXPECT_TRUE(t.os_.Calls("RegOpenKeyExW").empty());
}

TEST(InstallTest, AnUnusableLanguageKeepsThePreviousLocale) {
  Scenario t;
  t.AddProduct(kA, L"9.0.43.0", L"1046", L"Ay");
  t.AddProduct(kB, L"9.0.43.0", L"", L"Bee");

  EXPECT_TRUE(t.Run());

  EXPECT_EQ(t.os_.thread.locales_set, (std::vector<Lcid>{1046, 0}));
  EXPECT_EQ(t.Boxes(),
            (std::vector<std::wstring>{L"pt Success|pt patched Ay",
                                       L"pt Success|pt patched Bee"}));
}

TEST(InstallTest, PatchResults) {
  const struct {
    Uint result;
    std::wstring box;
    bool removed;
  } cases[] = {
      {0, L"en Success|en patched Ay", true},
      {3010, L"en Success|en patched Ay", true},
      {1641, L"en Success|en patched Ay", true},
      {1603, L"en Error|en error 1603", false},
      {1642, L"en Error|en error 1642", false},
      {0x80070005, L"en Error|en error -2147024891", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    Scenario t;
    t.AddProduct(kA, L"9.0.43.0", L"1033", L"Ay");
    t.AddProduct(kB, L"9.1.0.6", L"1033", L"Bee");
    t.os_.msi.configure_results[kA] = c.result;

    // A failed patch does not end the run.
    EXPECT_TRUE(t.Run());

    EXPECT_EQ(t.Boxes(), std::vector<std::wstring>{c.box});
    EXPECT_EQ(t.os_.files.Exists(kSharedFile), !c.removed);
    EXPECT_EQ(t.os_.Calls("DeleteFileA").size(), c.removed ? 1u : 0u);
    EXPECT_EQ(t.os_.Calls("SetLastError").size(), c.removed ? 0u : 1u);
    EXPECT_EQ(t.process_.product_list[0].patch_command_line,
              L"PATCH=\"C:\\Temp\\MSP5000\"");
    EXPECT_FALSE(t.os_.files.Exists(kPayloadPath));
  }
}

TEST(InstallTest, SharedFileRemovalIsSkippedWithoutAUsablePath) {
  const struct {
    const char* name;
    std::optional<std::wstring> common_files;
    std::vector<std::string> removals;
  } cases[] = {
      {"set", std::wstring(kCommonFiles), {fake::Narrow(kSharedFile)}},
      {"not set", std::nullopt, {}},
      // The value fits its buffer, the path would not (1024 bytes).
      {"path too long", std::wstring(1000, L'c'), {}},
      {"longest path that fits",
       std::wstring(1023 - 32, L'c'),
       {std::string(1023 - 32, 'c') + "\\Corvane Shared\\ B1E56000plu.cfg"}},
      {"value too long", std::wstring(1024, L'c'), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario t;
    t.AddProduct(kA, L"9.0.43.0", L"1033", L"Ay");
    if (c.common_files) {
      t.os_.environment.variables[L"CommonProgramFiles"] = *c.common_files;
    } else {
      t.os_.environment.variables.erase(L"CommonProgramFiles");
    }

    EXPECT_TRUE(t.Run());

    EXPECT_EQ(t.os_.files.narrow_removals, c.removals);
    EXPECT_EQ(t.Boxes(),
              std::vector<std::wstring>{L"en Success|en patched Ay"});
  }
}

TEST(InstallTest, QuietRunPatchesWithoutAnyBox) {
  Scenario t;
  t.process_.quiet_mode = true;
  t.AddProduct(kA, L"9.0.43.0", L"1046", L"Ay");
  t.AddProduct(kB, L"8.0.0.0", L"1046", L"Bee");
  t.AddProduct(kC, L"9.0.43.0", L"1046", L"Cee");
  t.os_.msi.configure_results[kC] = 1603;

  EXPECT_TRUE(t.Run());

  EXPECT_TRUE(t.os_.boxes.shown.empty());
  ASSERT_EQ(t.os_.msi.configured.size(), 2u);
  EXPECT_EQ(t.os_.msi.configured[0].command_line,
            L"PATCH=\"C:\\Temp\\MSP5000\"");
  EXPECT_FALSE(t.os_.files.Exists(kSharedFile));
  EXPECT_FALSE(t.os_.files.Exists(kPayloadPath));
}

TEST(InstallTest, ALongPayloadPathReachesWindowsInstallerWhole) {
  Scenario t;
  const std::wstring payload = L"C:\\" + std::wstring(1100, L'd') + L"\\MSP1";
  ProductRecord record;
  record.product_code = kA;

  t.installer_.ApplyPatch(record, payload);

  ASSERT_EQ(t.os_.msi.configured.size(), 1u);
  EXPECT_EQ(t.os_.msi.configured[0].command_line,
            L"PATCH=\"" + payload + L"\"");
  EXPECT_EQ(record.patch_command_line, t.os_.msi.configured[0].command_line);
}

}  // namespace
}  // namespace sp
