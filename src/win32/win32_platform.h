// The platform interfaces on real Windows.
#pragma once

#include "platform/platform.h"

namespace sp::win32 {

class Win32Resources : public ModuleResources {
 public:
  ResourceHandle FindResourceW(ModuleHandle module, const std::wstring& name,
                               const std::wstring& type) override;
  ResourceHandle FindResourceExW(ModuleHandle module, const std::wstring& type,
                                 const std::wstring& name,
                                 LangId language) override;
  Dword SizeofResource(ModuleHandle module, ResourceHandle found) override;
  ResourceData LoadResource(ModuleHandle module, ResourceHandle found) override;
  const std::uint8_t* LockResource(ResourceData loaded) override;
};

class Win32Boxes : public MessageBoxes {
 public:
  int MessageBoxW(const std::wstring& text, const std::wstring& caption,
                  Uint type) override;
};

class Win32Thread : public ThreadState {
 public:
  Dword GetLastError() override;
  void SetLastError(Dword code) override;
  Lcid GetThreadLocale() override;
  bool SetThreadLocale(Lcid locale) override;
};

class Win32Environment : public Environment {
 public:
  Dword GetEnvironmentVariableW(const std::wstring& name, std::wstring& value,
                                Dword capacity) override;
  Dword GetEnvironmentVariableA(const std::string& name, std::string& value,
                                Dword capacity) override;
};

class Win32CommandLine : public CommandLine {
 public:
  std::wstring GetCommandLineW() override;
  std::optional<std::vector<std::wstring>> CommandLineToArgvW(
      const std::wstring& command_line) override;
};

class Win32Files : public Files {
 public:
  Dword GetTempPathW(Dword capacity, std::wstring& path) override;
  Dword GetFullPathNameW(const std::wstring& path, Dword capacity,
                         std::wstring& full_path) override;
  Dword GetTickCount() override;
  Dword GetFileAttributesW(const std::wstring& path) override;
  FileHandle CreateFileW(const std::wstring& path, Dword access,
                         Dword share_mode, Dword disposition,
                         Dword attributes) override;
  bool WriteFile(FileHandle file, const std::uint8_t* data, Dword size,
                 Dword& written) override;
  bool SetFilePointerEx(FileHandle file, std::int64_t distance,
                        std::int64_t& new_position, Dword method) override;
  bool SetEndOfFile(FileHandle file) override;
  bool CloseHandle(FileHandle file) override;
  bool DeleteFileW(const std::wstring& path) override;
  bool DeleteFileA(const std::string& path) override;
};

/// msi.dll, loaded from the system directory only on first use.
class Win32Msi : public WindowsInstaller {
 public:
  Uint MsiGetSummaryInformationW(MsiHandle database, const std::wstring& path,
                                 Uint update_count,
                                 MsiHandle& summary) override;
  Uint MsiSummaryInfoGetPropertyW(MsiHandle summary, Uint property,
                                  Uint& data_type, int& int_value,
                                  FileTime& time_value, std::wstring& value,
                                  Dword& capacity) override;
  Uint MsiCloseHandle(MsiHandle handle) override;
  int MsiQueryProductStateW(const std::wstring& product) override;
  Uint MsiGetProductInfoW(const std::wstring& product,
                          const std::wstring& property, std::wstring& value,
                          Dword& capacity) override;
  Uint MsiConfigureProductExW(const std::wstring& product, int install_level,
                              int install_state,
                              const std::wstring& command_line) override;
  Uint MsiOpenDatabaseW(const std::wstring& path, Uint persist,
                        MsiHandle& database) override;
  Uint MsiDatabaseOpenViewW(MsiHandle database, const std::wstring& query,
                            MsiHandle& view) override;
  Uint MsiViewExecute(MsiHandle view, MsiHandle parameters) override;
  Uint MsiViewFetch(MsiHandle view, MsiHandle& record) override;
  Uint MsiRecordGetStringW(MsiHandle record, Uint field, std::wstring& value,
                           Dword& capacity) override;
  Uint MsiRecordSetStringW(MsiHandle record, Uint field,
                           const std::wstring& value) override;
  Uint MsiViewModify(MsiHandle view, int mode, MsiHandle record) override;
  Uint MsiDatabaseCommit(MsiHandle database) override;
};

class Win32Registry : public Registry {
 public:
  Long RegOpenKeyExW(RegKey root, const std::wstring& sub_key, Dword options,
                     Dword access, RegKey& key) override;
  Long RegQueryValueExW(RegKey key, const std::wstring& name, Dword* type,
                        std::vector<std::uint8_t>& data, Dword& size) override;
  Long RegDeleteValueW(RegKey key, const std::wstring& name) override;
  Long RegCloseKey(RegKey key) override;
};

/// version.dll, loaded from the system directory only on first use.
class Win32Version : public VersionInfo {
 public:
  Dword GetFileVersionInfoSizeW(const std::wstring& path,
                                Dword& handle) override;
  bool GetFileVersionInfoW(const std::wstring& path, Dword handle, Dword size,
                           std::vector<std::uint8_t>& block) override;
  bool VerQueryValueW(const std::vector<std::uint8_t>& block,
                      const std::wstring& sub_block,
                      FixedFileInfo& info) override;
};

/// Restricts the DLL search of the process to the system directory, where
/// the platform offers that.
void RestrictDllSearch();

}  // namespace sp::win32
