// The two silent corrections made to an installed product just before the
// patch is applied: the "Transforms" registration value, and a version value
// in the product's cached installation package.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install.h"
#include "platform/platform.h"

namespace sp {

/// Capacity of the host location value, in bytes.
inline constexpr Dword kLocationCapacity = 2048;
/// Capacity of the module path and of the module version text, terminator
/// included.
inline constexpr std::size_t kModulePathCapacity = 1024;
/// Capacity of a Property value read from the cached package, terminator
/// included.
inline constexpr Dword kPropertyValueCapacity = 260;

/// The value naming the host product's folder, and the module in it.
inline constexpr wchar_t kLocationValue[] = L"MervLocation";
inline constexpr wchar_t kModuleName[] = L"desktop.mvx";
/// The registration value the first repair deletes.
inline constexpr wchar_t kTransformsValue[] = L"Transforms";
/// The query over the cached package's Property table.
inline constexpr wchar_t kPropertyQuery[] = L"SELECT Value FROM Property";
/// The value that replaces a listed version value in the cached package.
inline constexpr wchar_t kRepairedVersion[] = L"9.0.43.0";

/// True when `code` is a product code in registry form: 38 characters, an
/// opening brace, hexadecimal groups of 8, 4, 4, 4 and 12 digits separated by
/// dashes, and a closing brace.
bool IsBracedGuid(std::wstring_view code);

/// The packed form under which Windows Installer registers a product: the
/// first three groups reversed, the two characters of every pair in the last
/// two groups swapped, 32 characters in all, letter case kept. Only the digit
/// positions of a braced code are read; braces and dashes are not examined.
/// Nothing when `code` has fewer than 38 characters.
std::optional<std::wstring> PackProductCode(std::wstring_view code);

/// The path under HKEY_LOCAL_MACHINE of the host product's key:
/// "Software\Corvane\Mervolt\R16.0\Merv-" followed by the three characters
/// two after the code's first dash, a colon, and the three characters seven
/// after it (for a braced code, the last three digits of the second and of
/// the third group). Nothing when the code has no dash or ends before the
/// second piece does.
std::optional<std::wstring> HostKeyPath(std::wstring_view code);

/// The text of a "MervLocation" value as the registry returned it: its
/// UTF-16 characters up to the first terminator, or all of them when the
/// data holds none but leaves room for one in `kLocationCapacity` bytes.
/// Nothing when the byte count is odd (the data is no whole UTF-16 text) or
/// the data fills the whole capacity without a terminator.
std::optional<std::wstring> LocationText(const std::vector<std::uint8_t>& data);

/// The path of the host module: the location exactly as stored, a backslash
/// and "desktop.mvx" (a location ending in a backslash gives two). Nothing
/// when the path does not fit `kModulePathCapacity` characters with its
/// terminator.
std::optional<std::wstring> ModulePath(std::wstring_view location);

/// A file version as "a.b.c.d": the high and low words of the most
/// significant double word, then those of the least significant one.
std::wstring FileVersionText(const FixedFileInfo& info);

/// True when the installed version text calls for the cached package repair:
/// it holds a "b", else a "c", else it is exactly "9.0.34.0". Letter case
/// counts.
bool CallsForPackageRepair(std::wstring_view version_string);

/// True when a Property value, as a whole, is one the cached package repair
/// replaces: "9.0.43.0b", "9.0.43.0c" or "9.0.34.0", letter case counting.
bool IsReplacedVersionValue(std::wstring_view value);

/// The pre-patch repairs. Neither reports anything or can stop the run;
/// every key and handle they open is closed again before they return.
class Repairs {
 public:
  Repairs(Registry& registry, VersionInfo& version, WindowsInstaller& msi)
      : registry_(registry), version_(version), msi_(msi) {}

  /// Deletes the "Transforms" value of the product's registration key under
  /// HKEY_CLASSES_ROOT when the file version of the host module differs from
  /// `installed`. Changes nothing when the product code is not a braced
  /// GUID, the host key or its location is missing or unusable, the module's
  /// version cannot be read, or the versions are equal.
  void RepairTransformsRegistration(const ProductRecord& record,
                                    const VersionQuad& installed);

  /// The file version of `path` as "a.b.c.d". False, with `text` untouched,
  /// when the file has no readable version information.
  bool GetFileVersionText(const std::wstring& path, std::wstring& text);

  /// When the record's VersionString calls for it, rewrites the first value
  /// of the cached package's Property table that is a listed version value
  /// to "9.0.43.0", in a transaction that is then committed.
  void RepairCachedPackageVersion(const ProductRecord& record);

 private:
  Registry& registry_;
  VersionInfo& version_;
  WindowsInstaller& msi_;
};

}  // namespace sp
