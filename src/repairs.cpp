#include "repairs.h"

#include <array>

#include "messages.h"
#include "msi.h"

namespace sp {

namespace {

/// Capacity of the host key path and of the registration key path,
/// terminator included.
constexpr std::size_t kHostKeyPathCapacity = 1024;
constexpr std::size_t kRegistrationPathCapacity = 256;

/// For each character of the packed code, the index in the braced code it
/// is taken from.
constexpr std::array<std::size_t, 32> kPackOrder = {
    8,  7,  6,  5,  4,  3,  2,  1,                    // first group
    13, 12, 11, 10,                                   // second group
    18, 17, 16, 15,                                   // third group
    21, 20, 23, 22,                                   // fourth group
    26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35};  // fifth group
constexpr std::size_t kBracedGuidLength = 38;

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') ||
         (c >= L'A' && c <= L'F');
}

/// Owns one open registry key and closes it, once, when it goes out of
/// scope.
class RegKeyHolder {
 public:
  explicit RegKeyHolder(Registry& registry) : registry_(registry) {}
  RegKeyHolder(const RegKeyHolder&) = delete;
  RegKeyHolder& operator=(const RegKeyHolder&) = delete;
  ~RegKeyHolder() {
    if (open_) registry_.RegCloseKey(key_);
  }

  /// Opens `path` under `root` with options 0 and `access`; true when the
  /// key is open.
  bool Open(RegKey root, const std::wstring& path, Dword access) {
    RegKey key = 0;
    if (registry_.RegOpenKeyExW(root, path, 0, access, key) != kErrorSuccess) {
      return false;
    }
    key_ = key;
    open_ = true;
    return true;
  }
  RegKey get() const { return key_; }

 private:
  Registry& registry_;
  RegKey key_ = 0;
  bool open_ = false;
};

}  // namespace

bool IsBracedGuid(std::wstring_view code) {
  if (code.size() != kBracedGuidLength) return false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const wchar_t c = code[i];
    if (i == 0) {
      if (c != L'{') return false;
    } else if (i == kBracedGuidLength - 1) {
      if (c != L'}') return false;
    } else if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (c != L'-') return false;
    } else if (!IsHexDigit(c)) {
      return false;
    }
  }
  return true;
}

std::optional<std::wstring> PackProductCode(std::wstring_view code) {
  if (code.size() < kBracedGuidLength) return std::nullopt;
  std::wstring packed;
  packed.reserve(kPackOrder.size());
  for (std::size_t from : kPackOrder) packed += code[from];
  return packed;
}

std::optional<std::wstring> HostKeyPath(std::wstring_view code) {
  const std::size_t dash = code.find(L'-');
  if (dash == std::wstring_view::npos || code.size() < dash + 10) {
    return std::nullopt;
  }
  const std::wstring a(code.substr(dash + 2, 3));
  const std::wstring b(code.substr(dash + 7, 3));
  // "%:" is no conversion: the colon stands for itself and takes no argument.
  return FormatText(L"Software\\Corvane\\Mervolt\\R16.0\\Merv-%s%:%s", {a, b},
                    kHostKeyPathCapacity);
}

std::optional<std::wstring> LocationText(
    const std::vector<std::uint8_t>& data) {
  if (data.size() % 2 != 0 || data.size() > kLocationCapacity) {
    return std::nullopt;
  }
  std::wstring text;
  for (std::size_t i = 0; i < data.size(); i += 2) {
    const auto c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (c == L'\0') return text;
    text += c;
  }
  // No terminator in the data: only usable when one still fits behind it.
  if (data.size() == kLocationCapacity) return std::nullopt;
  return text;
}

std::optional<std::wstring> ModulePath(std::wstring_view location) {
  std::wstring path(location);
  path += L'\\';
  path += kModuleName;
  if (path.size() > kModulePathCapacity - 1) return std::nullopt;
  return path;
}

std::wstring FileVersionText(const FixedFileInfo& info) {
  const auto high = [](Dword value) { return static_cast<long>(value >> 16); };
  const auto low = [](Dword value) {
    return static_cast<long>(value & 0xFFFF);
  };
  return FormatText(L"%u.%u.%u.%u",
                    {high(info.file_version_ms), low(info.file_version_ms),
                     high(info.file_version_ls), low(info.file_version_ls)},
                    kModulePathCapacity);
}

bool CallsForPackageRepair(std::wstring_view version_string) {
  if (version_string.find(L'b') != std::wstring_view::npos) return true;
  if (version_string.find(L'c') != std::wstring_view::npos) return true;
  return version_string == L"9.0.34.0";
}

bool IsReplacedVersionValue(std::wstring_view value) {
  return value == L"9.0.43.0b" || value == L"9.0.43.0c" || value == L"9.0.34.0";
}

void Repairs::RepairTransformsRegistration(const ProductRecord& record,
                                           const VersionQuad& installed) {
  // The registration data is only touched on the evidence of a readable
  // module version that differs; any gap in that evidence ends the repair.
  if (!IsBracedGuid(record.product_code)) return;
  const std::optional<std::wstring> host_path =
      HostKeyPath(record.product_code);
  if (!host_path) return;

  RegKeyHolder host(registry_);
  if (!host.Open(kHkeyLocalMachine, *host_path, kKeyQueryValue)) return;

  std::vector<std::uint8_t> data;
  Dword size = kLocationCapacity;
  if (registry_.RegQueryValueExW(host.get(), kLocationValue, nullptr, data,
                                 size) != kErrorSuccess) {
    return;
  }
  const std::optional<std::wstring> location = LocationText(data);
  if (!location) return;
  const std::optional<std::wstring> module_path = ModulePath(*location);
  if (!module_path) return;

  std::wstring module_version;
  if (!GetFileVersionText(*module_path, module_version)) return;
  if (!VersionsDiffer(ParseVersion(module_version), installed)) return;

  const std::optional<std::wstring> packed =
      PackProductCode(record.product_code);
  if (!packed) return;
  const std::wstring registration_path = FormatText(
      L"Installer\\Products\\%s", {*packed}, kRegistrationPathCapacity);
  RegKeyHolder registration(registry_);
  if (!registration.Open(kHkeyClassesRoot, registration_path, kKeyWrite)) {
    return;
  }
  // A value that is not there is no failure.
  registry_.RegDeleteValueW(registration.get(), kTransformsValue);
  // The registration key closes first, then the host key.
}

bool Repairs::GetFileVersionText(const std::wstring& path, std::wstring& text) {
  Dword handle = 0;
  const Dword size = version_.GetFileVersionInfoSizeW(path, handle);
  if (size == 0) return false;
  // The block lives in memory that is released on every path out of here.
  std::vector<std::uint8_t> block;
  if (!version_.GetFileVersionInfoW(path, 0, size, block)) return false;
  FixedFileInfo info;
  if (!version_.VerQueryValueW(block, L"\\", info)) return false;
  text = FileVersionText(info);
  return true;
}

void Repairs::RepairCachedPackageVersion(const ProductRecord& record) {
  if (!CallsForPackageRepair(record.version_string)) return;

  MsiHandleHolder database(msi_);
  if (msi_.MsiOpenDatabaseW(record.local_package, kMsiDbOpenTransact,
                            database.Receive()) != kErrorSuccess) {
    return;
  }
  MsiHandleHolder view(msi_);
  if (msi_.MsiDatabaseOpenViewW(database.get(), kPropertyQuery,
                                view.Receive()) != kErrorSuccess) {
    return;  // the database closes unchanged
  }

  if (msi_.MsiViewExecute(view.get(), 0) == kErrorSuccess) {
    // Each fetched record is closed before the next fetch, the last one when
    // the loop ends.
    MsiHandleHolder row(msi_);
    bool replaced = false;
    bool fetched =
        msi_.MsiViewFetch(view.get(), row.Receive()) == kErrorSuccess;
    while (fetched) {
      std::wstring value;
      Dword count = kPropertyValueCapacity;
      // A value too long for the buffer is reported as such and matches
      // nothing.
      if (msi_.MsiRecordGetStringW(row.get(), 1, value, count) ==
              kErrorSuccess &&
          IsReplacedVersionValue(value)) {
        msi_.MsiRecordSetStringW(row.get(), 1, kRepairedVersion);
        msi_.MsiViewModify(view.get(), kMsiModifyReplace, row.get());
        replaced = true;
      }
      fetched = msi_.MsiViewFetch(view.get(), row.Receive()) == kErrorSuccess;
      if (replaced) break;
    }
  }

  // Committed whether or not a value was replaced; then the view closes, and
  // the database last.
  msi_.MsiDatabaseCommit(database.get());
  view.Reset();
  database.Reset();
}

}  // namespace sp
