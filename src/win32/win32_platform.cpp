#include "win32/win32_platform.h"

#include <vector>

#include "win32/windows_support.h"

namespace sp::win32 {

namespace {

HMODULE AsModule(ModuleHandle module) {
  return reinterpret_cast<HMODULE>(module);
}

/// Loads a DLL from the system directory and never from the application's
/// folder or the current directory.
HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module =
      ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) {
    return module;
  }
  // Systems without the search flags: name the file by its full path.
  wchar_t directory[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(directory, length);
  path += L"\\";
  path += name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

/// A function of a system DLL; nullptr when the DLL or the function is
/// missing.
template <typename Function>
Function SystemFunction(const wchar_t* dll, const char* name) {
  HMODULE module = LoadSystemLibrary(dll);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

template <typename Function>
Function MsiFunction(const char* name) {
  return SystemFunction<Function>(L"msi.dll", name);
}

template <typename Char>
std::basic_string<Char> UpToNull(const std::vector<Char>& buffer) {
  std::size_t length = 0;
  while (length < buffer.size() && buffer[length] != 0) ++length;
  return std::basic_string<Char>(buffer.data(), length);
}

HKEY AsKey(RegKey key) {
  if (key == kHkeyClassesRoot) return HKEY_CLASSES_ROOT;
  if (key == kHkeyLocalMachine) return HKEY_LOCAL_MACHINE;
  return reinterpret_cast<HKEY>(key);
}

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  auto set_directories =
      reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
          ::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_directories != nullptr) {
    set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

// ---------------------------------------------------------------- resources

ResourceHandle Win32Resources::FindResourceW(ModuleHandle module,
                                             const std::wstring& name,
                                             const std::wstring& type) {
  return reinterpret_cast<ResourceHandle>(
      ::FindResourceW(AsModule(module), name.c_str(), type.c_str()));
}

ResourceHandle Win32Resources::FindResourceExW(ModuleHandle module,
                                               const std::wstring& type,
                                               const std::wstring& name,
                                               LangId language) {
  return reinterpret_cast<ResourceHandle>(::FindResourceExW(
      AsModule(module), type.c_str(), name.c_str(), language));
}

Dword Win32Resources::SizeofResource(ModuleHandle module,
                                     ResourceHandle found) {
  return ::SizeofResource(AsModule(module), reinterpret_cast<HRSRC>(found));
}

ResourceData Win32Resources::LoadResource(ModuleHandle module,
                                          ResourceHandle found) {
  return reinterpret_cast<ResourceData>(
      ::LoadResource(AsModule(module), reinterpret_cast<HRSRC>(found)));
}

const std::uint8_t* Win32Resources::LockResource(ResourceData loaded) {
  return static_cast<const std::uint8_t*>(
      ::LockResource(reinterpret_cast<HGLOBAL>(loaded)));
}

// ---------------------------------------------------------------- boxes

int Win32Boxes::MessageBoxW(const std::wstring& text,
                            const std::wstring& caption, Uint type) {
  return ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), type);
}

// ---------------------------------------------------------------- thread

Dword Win32Thread::GetLastError() { return ::GetLastError(); }
void Win32Thread::SetLastError(Dword code) { ::SetLastError(code); }
Lcid Win32Thread::GetThreadLocale() { return ::GetThreadLocale(); }
bool Win32Thread::SetThreadLocale(Lcid locale) {
  return ::SetThreadLocale(locale) != FALSE;
}

// ---------------------------------------------------------------- environment

Dword Win32Environment::GetEnvironmentVariableW(const std::wstring& name,
                                                std::wstring& value,
                                                Dword capacity) {
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  const DWORD length =
      ::GetEnvironmentVariableW(name.c_str(), buffer.data(), capacity);
  if (length != 0 && length < capacity) value = UpToNull(buffer);
  return length;
}

Dword Win32Environment::GetEnvironmentVariableA(const std::string& name,
                                                std::string& value,
                                                Dword capacity) {
  std::vector<char> buffer(capacity + 1, '\0');
  const DWORD length =
      ::GetEnvironmentVariableA(name.c_str(), buffer.data(), capacity);
  if (length != 0 && length < capacity) value = UpToNull(buffer);
  return length;
}

// ---------------------------------------------------------------- command line

std::wstring Win32CommandLine::GetCommandLineW() {
  const wchar_t* line = ::GetCommandLineW();
  return line == nullptr ? std::wstring() : std::wstring(line);
}

std::optional<std::vector<std::wstring>> Win32CommandLine::CommandLineToArgvW(
    const std::wstring& command_line) {
  int count = 0;
  ScopedArgv argv(::CommandLineToArgvW(command_line.c_str(), &count));
  if (!argv) return std::nullopt;
  std::vector<std::wstring> arguments;
  for (int i = 0; i < count; ++i) arguments.emplace_back(argv.get()[i]);
  return arguments;
}

// ---------------------------------------------------------------- files

Dword Win32Files::GetTempPathW(Dword capacity, std::wstring& path) {
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  const DWORD length = ::GetTempPathW(capacity, buffer.data());
  if (length != 0 && length < capacity) path = UpToNull(buffer);
  return length;
}

Dword Win32Files::GetFullPathNameW(const std::wstring& path, Dword capacity,
                                   std::wstring& full_path) {
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  const DWORD length =
      ::GetFullPathNameW(path.c_str(), capacity, buffer.data(), nullptr);
  if (length != 0 && length < capacity) full_path = UpToNull(buffer);
  return length;
}

Dword Win32Files::GetTickCount() { return ::GetTickCount(); }

Dword Win32Files::GetFileAttributesW(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str());
}

FileHandle Win32Files::CreateFileW(const std::wstring& path, Dword access,
                                   Dword share_mode, Dword disposition,
                                   Dword attributes) {
  return reinterpret_cast<FileHandle>(
      ::CreateFileW(path.c_str(), access, share_mode, nullptr, disposition,
                    attributes, nullptr));
}

bool Win32Files::WriteFile(FileHandle file, const std::uint8_t* data,
                           Dword size, Dword& written) {
  DWORD count = 0;
  const BOOL ok = ::WriteFile(AsHandle(file), data, size, &count, nullptr);
  written = count;
  return ok != FALSE;
}

bool Win32Files::SetFilePointerEx(FileHandle file, std::int64_t distance,
                                  std::int64_t& new_position, Dword method) {
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER now;
  now.QuadPart = 0;
  const BOOL ok = ::SetFilePointerEx(AsHandle(file), move, &now, method);
  if (ok) new_position = now.QuadPart;
  return ok != FALSE;
}

bool Win32Files::SetEndOfFile(FileHandle file) {
  return ::SetEndOfFile(AsHandle(file)) != FALSE;
}

bool Win32Files::CloseHandle(FileHandle file) {
  return ::CloseHandle(AsHandle(file)) != FALSE;
}

bool Win32Files::DeleteFileW(const std::wstring& path) {
  return ::DeleteFileW(path.c_str()) != FALSE;
}

bool Win32Files::DeleteFileA(const std::string& path) {
  return ::DeleteFileA(path.c_str()) != FALSE;
}

// ---------------------------------------------------------------- installer

Uint Win32Msi::MsiGetSummaryInformationW(MsiHandle database,
                                         const std::wstring& path,
                                         Uint update_count,
                                         MsiHandle& summary) {
  using Fn = UINT(WINAPI*)(MSIHANDLE, LPCWSTR, UINT, MSIHANDLE*);
  static const auto MsiGetSummaryInformationW =
      MsiFunction<Fn>("MsiGetSummaryInformationW");
  if (MsiGetSummaryInformationW == nullptr) return ERROR_PROC_NOT_FOUND;
  MSIHANDLE handle = 0;
  const UINT result =
      MsiGetSummaryInformationW(database, path.c_str(), update_count, &handle);
  if (result == ERROR_SUCCESS) summary = handle;
  return result;
}

Uint Win32Msi::MsiSummaryInfoGetPropertyW(MsiHandle summary, Uint property,
                                          Uint& data_type, int& int_value,
                                          FileTime& time_value,
                                          std::wstring& value,
                                          Dword& capacity) {
  using Fn =
      UINT(WINAPI*)(MSIHANDLE, UINT, PUINT, LPINT, PFILETIME, LPWSTR, LPDWORD);
  static const auto MsiSummaryInfoGetPropertyW =
      MsiFunction<Fn>("MsiSummaryInfoGetPropertyW");
  if (MsiSummaryInfoGetPropertyW == nullptr) return ERROR_PROC_NOT_FOUND;
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  UINT type = 0;
  INT number = 0;
  FILETIME time{};
  DWORD count = capacity;
  const UINT result = MsiSummaryInfoGetPropertyW(
      summary, property, &type, &number, &time, buffer.data(), &count);
  data_type = type;
  int_value = number;
  time_value = {time.dwLowDateTime, time.dwHighDateTime};
  capacity = count;
  // Only a text property writes the buffer.
  if (result == ERROR_SUCCESS && type == kVtLpstr) value = UpToNull(buffer);
  return result;
}

Uint Win32Msi::MsiCloseHandle(MsiHandle handle) {
  using Fn = UINT(WINAPI*)(MSIHANDLE);
  static const auto MsiCloseHandle = MsiFunction<Fn>("MsiCloseHandle");
  if (MsiCloseHandle == nullptr) return ERROR_PROC_NOT_FOUND;
  return MsiCloseHandle(handle);
}

int Win32Msi::MsiQueryProductStateW(const std::wstring& product) {
  using Fn = INSTALLSTATE(WINAPI*)(LPCWSTR);
  static const auto query =
      SystemFunction<Fn>(L"msi.dll", "MsiQueryProductStateW");
  if (query == nullptr) return INSTALLSTATE_UNKNOWN;
  return query(product.c_str());
}

Uint Win32Msi::MsiGetProductInfoW(const std::wstring& product,
                                  const std::wstring& property,
                                  std::wstring& value, Dword& capacity) {
  using Fn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
  static const auto MsiGetProductInfoW = MsiFunction<Fn>("MsiGetProductInfoW");
  if (MsiGetProductInfoW == nullptr) return ERROR_PROC_NOT_FOUND;
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  DWORD count = capacity;
  const UINT result = MsiGetProductInfoW(product.c_str(), property.c_str(),
                                         buffer.data(), &count);
  capacity = count;
  if (result == ERROR_SUCCESS) value = UpToNull(buffer);
  return result;
}

Uint Win32Msi::MsiConfigureProductExW(const std::wstring& product,
                                      int install_level, int install_state,
                                      const std::wstring& command_line) {
  using Fn = UINT(WINAPI*)(LPCWSTR, int, INSTALLSTATE, LPCWSTR);
  static const auto MsiConfigureProductExW =
      MsiFunction<Fn>("MsiConfigureProductExW");
  if (MsiConfigureProductExW == nullptr) return ERROR_PROC_NOT_FOUND;
  return MsiConfigureProductExW(product.c_str(), install_level,
                                static_cast<INSTALLSTATE>(install_state),
                                command_line.c_str());
}

Uint Win32Msi::MsiOpenDatabaseW(const std::wstring& path, Uint persist,
                                MsiHandle& database) {
  using Fn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, MSIHANDLE*);
  static const auto MsiOpenDatabaseW = MsiFunction<Fn>("MsiOpenDatabaseW");
  if (MsiOpenDatabaseW == nullptr) return ERROR_PROC_NOT_FOUND;
  MSIHANDLE handle = 0;
  const UINT result = MsiOpenDatabaseW(
      path.c_str(), reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(persist)),
      &handle);
  if (result == ERROR_SUCCESS) database = handle;
  return result;
}

Uint Win32Msi::MsiDatabaseOpenViewW(MsiHandle database,
                                    const std::wstring& query,
                                    MsiHandle& view) {
  using Fn = UINT(WINAPI*)(MSIHANDLE, LPCWSTR, MSIHANDLE*);
  static const auto MsiDatabaseOpenViewW =
      MsiFunction<Fn>("MsiDatabaseOpenViewW");
  if (MsiDatabaseOpenViewW == nullptr) return ERROR_PROC_NOT_FOUND;
  MSIHANDLE handle = 0;
  const UINT result = MsiDatabaseOpenViewW(database, query.c_str(), &handle);
  if (result == ERROR_SUCCESS) view = handle;
  return result;
}

Uint Win32Msi::MsiViewExecute(MsiHandle view, MsiHandle parameters) {
  using Fn = UINT(WINAPI*)(MSIHANDLE, MSIHANDLE);
  static const auto MsiViewExecute = MsiFunction<Fn>("MsiViewExecute");
  if (MsiViewExecute == nullptr) return ERROR_PROC_NOT_FOUND;
  return MsiViewExecute(view, parameters);
}

Uint Win32Msi::MsiViewFetch(MsiHandle view, MsiHandle& record) {
  using Fn = UINT(WINAPI*)(MSIHANDLE, MSIHANDLE*);
  static const auto MsiViewFetch = MsiFunction<Fn>("MsiViewFetch");
  if (MsiViewFetch == nullptr) return ERROR_PROC_NOT_FOUND;
  MSIHANDLE handle = 0;
  const UINT result = MsiViewFetch(view, &handle);
  if (result == ERROR_SUCCESS) record = handle;
  return result;
}

Uint Win32Msi::MsiRecordGetStringW(MsiHandle record, Uint field,
                                   std::wstring& value, Dword& capacity) {
  using Fn = UINT(WINAPI*)(MSIHANDLE, UINT, LPWSTR, LPDWORD);
  static const auto MsiRecordGetStringW =
      MsiFunction<Fn>("MsiRecordGetStringW");
  if (MsiRecordGetStringW == nullptr) return ERROR_PROC_NOT_FOUND;
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  DWORD count = capacity;
  const UINT result = MsiRecordGetStringW(record, field, buffer.data(), &count);
  capacity = count;
  if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    value = UpToNull(buffer);
  }
  return result;
}

Uint Win32Msi::MsiRecordSetStringW(MsiHandle record, Uint field,
                                   const std::wstring& value) {
  using Fn = UINT(WINAPI*)(MSIHANDLE, UINT, LPCWSTR);
  static const auto MsiRecordSetStringW =
      MsiFunction<Fn>("MsiRecordSetStringW");
  if (MsiRecordSetStringW == nullptr) return ERROR_PROC_NOT_FOUND;
  return MsiRecordSetStringW(record, field, value.c_str());
}

Uint Win32Msi::MsiViewModify(MsiHandle view, int mode, MsiHandle record) {
  using Fn = UINT(WINAPI*)(MSIHANDLE, MSIMODIFY, MSIHANDLE);
  static const auto MsiViewModify = MsiFunction<Fn>("MsiViewModify");
  if (MsiViewModify == nullptr) return ERROR_PROC_NOT_FOUND;
  return MsiViewModify(view, static_cast<MSIMODIFY>(mode), record);
}

Uint Win32Msi::MsiDatabaseCommit(MsiHandle database) {
  using Fn = UINT(WINAPI*)(MSIHANDLE);
  static const auto MsiDatabaseCommit = MsiFunction<Fn>("MsiDatabaseCommit");
  if (MsiDatabaseCommit == nullptr) return ERROR_PROC_NOT_FOUND;
  return MsiDatabaseCommit(database);
}

// ---------------------------------------------------------------- registry

Long Win32Registry::RegOpenKeyExW(RegKey root, const std::wstring& sub_key,
                                  Dword options, Dword access, RegKey& key) {
  HKEY opened = nullptr;
  const LONG result =
      ::RegOpenKeyExW(AsKey(root), sub_key.c_str(), options, access, &opened);
  if (result == ERROR_SUCCESS) key = reinterpret_cast<RegKey>(opened);
  return result;
}

Long Win32Registry::RegQueryValueExW(RegKey key, const std::wstring& name,
                                     Dword* type,
                                     std::vector<std::uint8_t>& data,
                                     Dword& size) {
  std::vector<std::uint8_t> buffer(size);
  DWORD value_type = 0;
  DWORD count = size;
  const LONG result =
      ::RegQueryValueExW(AsKey(key), name.c_str(), nullptr, &value_type,
                         buffer.empty() ? nullptr : buffer.data(), &count);
  if (type != nullptr) *type = value_type;
  if (result == ERROR_SUCCESS) {
    buffer.resize(count);
    data = std::move(buffer);
  }
  if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) size = count;
  return result;
}

Long Win32Registry::RegDeleteValueW(RegKey key, const std::wstring& name) {
  return ::RegDeleteValueW(AsKey(key), name.c_str());
}

Long Win32Registry::RegCloseKey(RegKey key) {
  return ::RegCloseKey(AsKey(key));
}

// ---------------------------------------------------------------- version

Dword Win32Version::GetFileVersionInfoSizeW(const std::wstring& path,
                                            Dword& handle) {
  using Fn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  static const auto size_of =
      SystemFunction<Fn>(L"version.dll", "GetFileVersionInfoSizeW");
  if (size_of == nullptr) return 0;
  DWORD zero = 0;
  const DWORD size = size_of(path.c_str(), &zero);
  handle = zero;
  return size;
}

bool Win32Version::GetFileVersionInfoW(const std::wstring& path, Dword handle,
                                       Dword size,
                                       std::vector<std::uint8_t>& block) {
  using Fn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  static const auto read =
      SystemFunction<Fn>(L"version.dll", "GetFileVersionInfoW");
  if (read == nullptr) return false;
  std::vector<std::uint8_t> buffer(size);
  if (!read(path.c_str(), handle, size, buffer.data())) return false;
  block = std::move(buffer);
  return true;
}

bool Win32Version::VerQueryValueW(const std::vector<std::uint8_t>& block,
                                  const std::wstring& sub_block,
                                  FixedFileInfo& info) {
  using Fn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  static const auto query =
      SystemFunction<Fn>(L"version.dll", "VerQueryValueW");
  if (query == nullptr || block.empty()) return false;
  void* found = nullptr;
  UINT length = 0;
  if (!query(block.data(), sub_block.c_str(), &found, &length) ||
      found == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(found);
  info.file_version_ms = fixed->dwFileVersionMS;
  info.file_version_ls = fixed->dwFileVersionLS;
  info.product_version_ms = fixed->dwProductVersionMS;
  info.product_version_ls = fixed->dwProductVersionLS;
  return true;
}

}  // namespace sp::win32
