// The operating system as the program logic sees it: one small interface per
// area. Each operation mirrors one Windows call: the same inputs, the same
// result codes and the same capacity rules, with std::wstring in place of raw
// buffers. The Win32 implementation makes the real calls; the tests use an
// in-memory fake.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sp {

using Dword = std::uint32_t;
using Uint = std::uint32_t;
using Long = std::int32_t;
using LangId = std::uint16_t;
using Lcid = std::uint32_t;
/// Windows Installer handle; 0 means none.
using MsiHandle = std::uint32_t;
/// Opaque handles: a module, a found resource, a loaded resource, an open
/// registry key, an open file.
using ModuleHandle = std::uintptr_t;
using ResourceHandle = std::uintptr_t;
using ResourceData = std::uintptr_t;
using RegKey = std::uintptr_t;
using FileHandle = std::uintptr_t;

// Windows error codes the logic steers by.
inline constexpr Dword kErrorSuccess = 0;
inline constexpr Dword kErrorFileNotFound = 2;
inline constexpr Dword kErrorPathNotFound = 3;
inline constexpr Dword kErrorAccessDenied = 5;
inline constexpr Dword kErrorInvalidHandle = 6;
inline constexpr Dword kErrorFileExists = 80;
inline constexpr Dword kErrorInvalidParameter = 87;
inline constexpr Dword kErrorDiskFull = 112;
inline constexpr Dword kErrorAlreadyExists = 183;
inline constexpr Dword kErrorMoreData = 234;
inline constexpr Dword kErrorNoMoreItems = 259;
inline constexpr Dword kErrorUnknownProduct = 1605;
inline constexpr Dword kErrorUnknownProperty = 1608;
inline constexpr Dword kErrorSuccessRebootInitiated = 1641;
inline constexpr Dword kErrorSuccessRebootRequired = 3010;

// Language and locale identifiers.
inline constexpr LangId kLangEnglishUs = 1033;
inline constexpr Lcid kLocaleUserDefault = 0x400;
/// The language part of a locale identifier.
constexpr LangId LangIdFromLcid(Lcid lcid) {
  return static_cast<LangId>(lcid & 0xFFFF);
}

/// Module resources of one loaded module. Names and types are strings; a
/// string "#N" names the integer id N, as for FindResourceW.
class ModuleResources {
 public:
  virtual ~ModuleResources() = default;
  /// 0 when the module has no such resource.
  virtual ResourceHandle FindResourceW(ModuleHandle module,
                                       const std::wstring& name,
                                       const std::wstring& type) = 0;
  /// The resource in exactly the given language; 0 when there is none.
  virtual ResourceHandle FindResourceExW(ModuleHandle module,
                                         const std::wstring& type,
                                         const std::wstring& name,
                                         LangId language) = 0;
  /// The size in bytes; 0 on failure.
  virtual Dword SizeofResource(ModuleHandle module, ResourceHandle found) = 0;
  /// 0 on failure.
  virtual ResourceData LoadResource(ModuleHandle module,
                                    ResourceHandle found) = 0;
  /// The resource's bytes in place; nullptr on failure.
  virtual const std::uint8_t* LockResource(ResourceData loaded) = 0;
};

/// Message boxes. Style bits as for MessageBoxW.
inline constexpr Uint kMbOk = 0x0;
inline constexpr Uint kMbIconError = 0x10;
inline constexpr Uint kMbIconInformation = 0x40;
inline constexpr Uint kMbSetForeground = 0x10000;
inline constexpr Uint kMbTopmost = 0x40000;

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  /// Shows a box without owner window and waits until it is closed. The
  /// result is the button pressed, 0 on failure.
  virtual int MessageBoxW(const std::wstring& text, const std::wstring& caption,
                          Uint type) = 0;
};

/// The calling thread's last error code and locale.
class ThreadState {
 public:
  virtual ~ThreadState() = default;
  virtual Dword GetLastError() = 0;
  virtual void SetLastError(Dword code) = 0;
  virtual Lcid GetThreadLocale() = 0;
  /// False when the locale is rejected; the thread's locale then stays.
  virtual bool SetThreadLocale(Lcid locale) = 0;
};

/// The process environment.
class Environment {
 public:
  virtual ~Environment() = default;
  /// Without room for the value and its terminator in `capacity` characters
  /// the result is the capacity needed (terminator included) and `value` is
  /// untouched; otherwise the value's length. 0 when the variable is not set.
  virtual Dword GetEnvironmentVariableW(const std::wstring& name,
                                        std::wstring& value,
                                        Dword capacity) = 0;
  /// The same in the ANSI code page, `capacity` in bytes.
  virtual Dword GetEnvironmentVariableA(const std::string& name,
                                        std::string& value, Dword capacity) = 0;
};

/// The process command line.
class CommandLine {
 public:
  virtual ~CommandLine() = default;
  virtual std::wstring GetCommandLineW() = 0;
  /// The arguments by the standard Windows rules; nothing when the split
  /// fails. The argument array is released before this returns.
  virtual std::optional<std::vector<std::wstring>> CommandLineToArgvW(
      const std::wstring& command_line) = 0;
};

// File access, sharing, dispositions and attributes as for CreateFileW.
inline constexpr Dword kGenericRead = 0x80000000;
inline constexpr Dword kGenericWrite = 0x40000000;
inline constexpr Dword kFileShareRead = 0x1;
inline constexpr Dword kCreateNew = 1;
inline constexpr Dword kCreateAlways = 2;
inline constexpr Dword kOpenExisting = 3;
inline constexpr Dword kOpenAlways = 4;
inline constexpr Dword kFileAttributeDirectory = 0x10;
inline constexpr Dword kFileAttributeNormal = 0x80;
inline constexpr Dword kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr FileHandle kInvalidHandleValue = ~FileHandle{0};
inline constexpr Dword kFileBegin = 0;
inline constexpr Dword kFileEnd = 2;

/// Files, paths and the temporary directory. Failures leave their code as
/// the thread's last error.
class Files {
 public:
  virtual ~Files() = default;
  /// The temporary directory with its final backslash. Without room for it
  /// and its terminator in `capacity` characters: the capacity needed,
  /// `path` untouched. 0 on failure.
  virtual Dword GetTempPathW(Dword capacity, std::wstring& path) = 0;
  /// The absolute form of `path`, with the same capacity rule.
  virtual Dword GetFullPathNameW(const std::wstring& path, Dword capacity,
                                 std::wstring& full_path) = 0;
  /// Milliseconds since the system started; seeds temporary names.
  virtual Dword GetTickCount() = 0;
  /// kInvalidFileAttributes when nothing is there.
  virtual Dword GetFileAttributesW(const std::wstring& path) = 0;
  /// kInvalidHandleValue on failure.
  virtual FileHandle CreateFileW(const std::wstring& path, Dword access,
                                 Dword share_mode, Dword disposition,
                                 Dword attributes) = 0;
  virtual bool WriteFile(FileHandle file, const std::uint8_t* data, Dword size,
                         Dword& written) = 0;
  /// Moves the file pointer; `new_position` receives where it now stands.
  virtual bool SetFilePointerEx(FileHandle file, std::int64_t distance,
                                std::int64_t& new_position, Dword method) = 0;
  /// Cuts or extends the file at its file pointer.
  virtual bool SetEndOfFile(FileHandle file) = 0;
  virtual bool CloseHandle(FileHandle file) = 0;
  virtual bool DeleteFileW(const std::wstring& path) = 0;
  /// Removal by a path in the ANSI code page.
  virtual bool DeleteFileA(const std::string& path) = 0;
};

// Windows Installer values.
inline constexpr int kInstallStateAdvertised = 1;
inline constexpr int kInstallStateDefault = 5;
inline constexpr int kInstallStateUnknown = -1;
inline constexpr int kInstallLevelDefault = 0;
inline constexpr Uint kPidTemplate = 7;
inline constexpr Uint kVtLpstr = 30;
inline constexpr Uint kMsiDbOpenTransact = 1;
inline constexpr int kMsiModifyReplace = 4;

struct FileTime {
  Dword low = 0;
  Dword high = 0;
};

/// The Windows Installer calls the program makes. String values follow the
/// installer's capacity rule: `capacity` counts characters including the
/// terminator; when the value does not fit the result is kErrorMoreData and
/// `capacity` receives the value's length without terminator. A failed call
/// leaves the value untouched.
class WindowsInstaller {
 public:
  virtual ~WindowsInstaller() = default;
  virtual Uint MsiGetSummaryInformationW(MsiHandle database,
                                         const std::wstring& path,
                                         Uint update_count,
                                         MsiHandle& summary) = 0;
  virtual Uint MsiSummaryInfoGetPropertyW(MsiHandle summary, Uint property,
                                          Uint& data_type, int& int_value,
                                          FileTime& time_value,
                                          std::wstring& value,
                                          Dword& capacity) = 0;
  virtual Uint MsiCloseHandle(MsiHandle handle) = 0;
  virtual int MsiQueryProductStateW(const std::wstring& product) = 0;
  virtual Uint MsiGetProductInfoW(const std::wstring& product,
                                  const std::wstring& property,
                                  std::wstring& value, Dword& capacity) = 0;
  virtual Uint MsiConfigureProductExW(const std::wstring& product,
                                      int install_level, int install_state,
                                      const std::wstring& command_line) = 0;
  virtual Uint MsiOpenDatabaseW(const std::wstring& path, Uint persist,
                                MsiHandle& database) = 0;
  virtual Uint MsiDatabaseOpenViewW(MsiHandle database,
                                    const std::wstring& query,
                                    MsiHandle& view) = 0;
  virtual Uint MsiViewExecute(MsiHandle view, MsiHandle parameters) = 0;
  virtual Uint MsiViewFetch(MsiHandle view, MsiHandle& record) = 0;
  virtual Uint MsiRecordGetStringW(MsiHandle record, Uint field,
                                   std::wstring& value, Dword& capacity) = 0;
  virtual Uint MsiRecordSetStringW(MsiHandle record, Uint field,
                                   const std::wstring& value) = 0;
  virtual Uint MsiViewModify(MsiHandle view, int mode, MsiHandle record) = 0;
  virtual Uint MsiDatabaseCommit(MsiHandle database) = 0;
};

// Registry roots and access rights.
inline constexpr RegKey kHkeyClassesRoot = 0x80000000;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002;
inline constexpr Dword kKeyQueryValue = 0x1;
inline constexpr Dword kKeyWrite = 0x20006;

/// The registry. Results are Windows error codes.
class Registry {
 public:
  virtual ~Registry() = default;
  virtual Long RegOpenKeyExW(RegKey root, const std::wstring& sub_key,
                             Dword options, Dword access, RegKey& key) = 0;
  /// `size` holds the capacity in bytes on entry. When the data is larger
  /// the result is kErrorMoreData, `size` the bytes needed and `data`
  /// untouched; otherwise `data` receives the bytes and `size` their count.
  virtual Long RegQueryValueExW(RegKey key, const std::wstring& name,
                                Dword* type, std::vector<std::uint8_t>& data,
                                Dword& size) = 0;
  virtual Long RegDeleteValueW(RegKey key, const std::wstring& name) = 0;
  virtual Long RegCloseKey(RegKey key) = 0;
};

/// The fixed part of a file's version information.
struct FixedFileInfo {
  Dword file_version_ms = 0;
  Dword file_version_ls = 0;
  Dword product_version_ms = 0;
  Dword product_version_ls = 0;
};

/// File version information.
class VersionInfo {
 public:
  virtual ~VersionInfo() = default;
  /// The size of the file's version information; 0 when it has none.
  virtual Dword GetFileVersionInfoSizeW(const std::wstring& path,
                                        Dword& handle) = 0;
  /// Reads `size` bytes of version information into `block`.
  virtual bool GetFileVersionInfoW(const std::wstring& path, Dword handle,
                                   Dword size,
                                   std::vector<std::uint8_t>& block) = 0;
  /// The root block "\" of `block` as its fixed file information.
  virtual bool VerQueryValueW(const std::vector<std::uint8_t>& block,
                              const std::wstring& sub_block,
                              FixedFileInfo& info) = 0;
};

/// Every area at once, for the places that wire the program together.
struct Platform {
  ModuleResources& resources;
  MessageBoxes& boxes;
  ThreadState& thread;
  Environment& environment;
  CommandLine& command_line;
  Files& files;
  WindowsInstaller& msi;
  Registry& registry;
  VersionInfo& version;
};

}  // namespace sp
