#include "install.h"

#include "messages.h"
#include "payload.h"
#include "process_state.h"
#include "repairs.h"

namespace sp {

namespace {

/// The environment variable that names the shared-components directory.
constexpr char kCommonFilesVariable[] = "CommonProgramFiles";
/// The maker's folder there, and the file removed from it after a patch.
constexpr char kSharedFolder[] = "Corvane Shared";
constexpr char kSharedFile[] = " B1E56000plu.cfg";

bool IsWhiteSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' ||
         c == L'\r';
}

}  // namespace

std::vector<std::wstring> SplitTargetList(const std::wstring& list) {
  std::vector<std::wstring> codes;
  const std::wstring rest = list + L';';
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = rest.find(L';', start);
    if (end == std::wstring::npos || end == start) break;
    codes.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  return codes;
}

std::int32_t ReadNumber(const std::wstring& text) {
  std::size_t i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  std::uint32_t value = 0;  // wraps around, as the runtime's conversion does
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - L'0');
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

VersionQuad ParseVersion(const std::wstring& text) {
  VersionQuad version;
  std::wstring rest = text;
  for (wchar_t& c : rest) {
    if (c == L',') c = L'.';
  }
  for (std::size_t part = 0; part < 3; ++part) {
    const std::size_t dot = rest.find(L'.');
    if (dot == std::wstring::npos) return version;
    version.parts[part] =
        static_cast<std::uint16_t>(ReadNumber(rest.substr(0, dot)));
    rest.erase(0, dot + 1);
  }
  version.parts[3] = static_cast<std::uint16_t>(ReadNumber(rest));
  return version;
}

bool VersionsEqual(const VersionQuad& a, const VersionQuad& b) {
  return a == b;
}

bool VersionsDiffer(const VersionQuad& a, const VersionQuad& b) {
  return !VersionsEqual(a, b);
}

GateOutcome ClassifyVersion(const VersionQuad& installed,
                            const std::wstring& target_version,
                            const std::wstring& accepted_versions) {
  const VersionQuad target = ParseVersion(target_version);
  if (VersionsEqual(installed, target)) return GateOutcome::kAlreadyCurrent;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = accepted_versions.find(L',', start);
    if (comma == std::wstring::npos) return GateOutcome::kNotAccepted;
    const VersionQuad entry =
        ParseVersion(accepted_versions.substr(start, comma - start));
    if (VersionsEqual(installed, entry)) return GateOutcome::kPatchable;
    if (VersionsEqual(entry, target)) return GateOutcome::kEndRun;
    start = comma + 1;
  }
}

bool PatchSucceeded(Uint result) {
  return result == kErrorSuccess || result == kErrorSuccessRebootRequired ||
         result == kErrorSuccessRebootInitiated;
}

std::wstring PatchCommandLine(const std::wstring& payload_path) {
  return L"PATCH=\"" + payload_path + L"\"";
}

std::optional<std::string> SharedComponentsFile(
    const std::string& common_files) {
  std::string path = common_files;
  path += '\\';
  path += kSharedFolder;
  path += '\\';
  path += kSharedFile;
  if (path.size() + 1 > kSharedPathCapacity) return std::nullopt;
  return path;
}

bool Installer::InstallRun() {
  std::wstring payload_path;
  if (!payload_.ExtractPayload(payload_path)) {
    messages_.ShowMessage(kMsgInstallError);
    return false;
  }
  ProductRecord record_template;
  if (messages_.LoadText(kStringTargetVersion, record_template.target_version,
                         kTextCapacity) == 0 ||
      messages_.LoadText(kStringAcceptedVersions,
                         record_template.accepted_versions,
                         kTextCapacity) == 0) {
    messages_.ShowMessage(kMsgInstallError);
    return false;
  }
  std::wstring list;
  if (!reader_.ReadPatchTargetList(payload_path, list)) {
    messages_.ShowMessage(kMsgInstallError);
    return false;
  }
  DiscoverProducts(list, record_template);
  ProductList& products = process_.product_list;
  if (products.empty()) {
    messages_.ShowMessage(kMsgNoProduct);
    return false;
  }

  std::size_t up_to_date_count = 0;
  for (std::size_t i = 0; i < products.size(); ++i) {
    ProductRecord& record = products[i];
    process_.current_product_name = record.product_name;
    // The messages about this product come in its language. A rejected
    // identifier (an empty or non-numeric Language gives 0) leaves the
    // locale as it was.
    thread_.SetThreadLocale(static_cast<Lcid>(ReadNumber(record.language)));
    const VersionQuad installed = ParseVersion(record.version_string);
    switch (VersionGate(record, installed)) {
      case GateOutcome::kAlreadyCurrent:
        ++up_to_date_count;
        break;
      case GateOutcome::kNotAccepted:
        break;
      case GateOutcome::kEndRun:
        return false;  // the temporary package stays
      case GateOutcome::kPatchable:
        // Neither repair can keep the patch from being applied.
        repairs_.RepairTransformsRegistration(record, installed);
        repairs_.RepairCachedPackageVersion(record);
        ApplyPatch(record, payload_path);
        break;
    }
  }

  if (up_to_date_count == products.size()) {
    // The closing message names the last product, in the user's language.
    thread_.SetThreadLocale(kLocaleUserDefault);
    messages_.ShowMessage(kMsgUpToDate);
  }
  files_.DeleteFileW(payload_path);
  return true;
}

void Installer::DiscoverProducts(const std::wstring& list,
                                 const ProductRecord& record_template) {
  for (const std::wstring& code : SplitTargetList(list)) {
    if (!IsProductPresent(code)) continue;
    ProductRecord record = record_template;
    record.product_code = code;
    record.version_string = ReadProductProperty(code, L"VersionString");
    record.local_package = ReadProductProperty(code, L"LocalPackage");
    record.product_name = ReadProductProperty(code, L"ProductName");
    record.language = ReadProductProperty(code, L"Language");
    process_.product_list.push_back(std::move(record));
  }
}

bool Installer::IsProductPresent(const std::wstring& product_code) {
  const int state = msi_.MsiQueryProductStateW(product_code);
  return state == kInstallStateAdvertised || state == kInstallStateDefault;
}

std::wstring Installer::ReadProductProperty(const std::wstring& product_code,
                                            const std::wstring& property) {
  std::wstring value;
  Dword capacity = kProductPropertyCapacity;
  // A failed query, or a value too long for the buffer, gives no value
  // rather than a partial one.
  if (msi_.MsiGetProductInfoW(product_code, property, value, capacity) !=
      kErrorSuccess) {
    return L"";
  }
  return value.substr(0, value.find(L'\0'));
}

GateOutcome Installer::VersionGate(const ProductRecord& record,
                                   const VersionQuad& installed) {
  const GateOutcome outcome = ClassifyVersion(installed, record.target_version,
                                              record.accepted_versions);
  if (outcome == GateOutcome::kNotAccepted) {
    messages_.ShowMessage(kMsgWrongVersion);
  } else if (outcome == GateOutcome::kEndRun) {
    messages_.ShowMessage(kMsgUpToDate);
  }
  return outcome;
}

void Installer::ApplyPatch(ProductRecord& record,
                           const std::wstring& payload_path) {
  record.patch_command_line = PatchCommandLine(payload_path);
  const Uint result = msi_.MsiConfigureProductExW(
      record.product_code, kInstallLevelDefault, kInstallStateDefault,
      record.patch_command_line);
  if (!PatchSucceeded(result)) {
    // Message 300 shows the thread's last error code: make it this result.
    thread_.SetLastError(result);
    messages_.ShowMessage(kMsgInstallError);
    return;
  }
  RemoveSharedComponentsFile();
  messages_.ShowMessage(kMsgInstalled);
}

void Installer::RemoveSharedComponentsFile() {
  std::string common_files;
  const Dword length = environment_.GetEnvironmentVariableA(
      kCommonFilesVariable, common_files, kSharedPathCapacity);
  // Not set (or empty), or too long for the buffer: nothing to remove.
  if (length == 0 || length >= kSharedPathCapacity) return;
  const std::optional<std::string> path = SharedComponentsFile(common_files);
  if (!path) return;
  files_.DeleteFileA(*path);  // a missing or busy file changes nothing
}

}  // namespace sp
