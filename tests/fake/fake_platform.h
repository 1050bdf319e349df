// An in-memory operating system for the unit tests. Every area records the
// calls made to it in one shared log, in order, and can be told what to
// answer and where to fail.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sp::fake {

/// One line per platform call, e.g. "MsiQueryProductStateW {A}".
using CallLog = std::vector<std::string>;

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
std::vector<std::uint8_t> Bytes(const std::string& text);

inline constexpr ModuleHandle kModule = 0x400000;

class FakeResources : public ModuleResources {
 public:
  explicit FakeResources(CallLog& log) : log_(log) {}

  /// Adds a resource; `name` and `type` as the program passes them ("#206"
  /// for an integer id).
  void Add(const std::wstring& type, const std::wstring& name, LangId language,
           std::vector<std::uint8_t> bytes);
  /// Adds one string to the string table of `language`.
  void AddString(LangId language, Uint id, const std::wstring& text);
  void Remove(const std::wstring& type, const std::wstring& name);

  ResourceHandle FindResourceW(ModuleHandle module, const std::wstring& name,
                               const std::wstring& type) override;
  ResourceHandle FindResourceExW(ModuleHandle module, const std::wstring& type,
                                 const std::wstring& name,
                                 LangId language) override;
  Dword SizeofResource(ModuleHandle module, ResourceHandle found) override;
  ResourceData LoadResource(ModuleHandle module, ResourceHandle found) override;
  const std::uint8_t* LockResource(ResourceData loaded) override;

  /// Resources (by "type/name") whose load or lock fails.
  std::set<std::wstring> fail_load;
  std::set<std::wstring> fail_lock;

 private:
  struct Entry {
    std::wstring type;
    std::wstring name;
    LangId language;
    std::vector<std::uint8_t> bytes;
  };
  static std::wstring Key(const std::wstring& type, const std::wstring& name);
  ResourceHandle Find(const std::wstring& type, const std::wstring& name,
                      std::optional<LangId> language);
  CallLog& log_;
  std::vector<Entry> entries_;
  std::map<std::pair<LangId, Uint>, std::wstring> strings_;
};

class FakeBoxes : public MessageBoxes {
 public:
  explicit FakeBoxes(CallLog& log) : log_(log) {}
  struct Box {
    std::wstring text;
    std::wstring caption;
    Uint type;
  };
  int MessageBoxW(const std::wstring& text, const std::wstring& caption,
                  Uint type) override;
  std::vector<Box> shown;

 private:
  CallLog& log_;
};

class FakeThread : public ThreadState {
 public:
  explicit FakeThread(CallLog& log) : log_(log) {}
  Dword GetLastError() override;
  void SetLastError(Dword code) override;
  Lcid GetThreadLocale() override;
  bool SetThreadLocale(Lcid locale) override;

  Dword last_error = 0;
  Lcid user_default_locale = 1033;
  Lcid locale = 1033;
  /// Locales SetThreadLocale rejects (0 is always rejected).
  std::set<Lcid> rejected;
  std::vector<Lcid> locales_set;

 private:
  CallLog& log_;
};

class FakeEnvironment : public Environment {
 public:
  explicit FakeEnvironment(CallLog& log) : log_(log) {}
  Dword GetEnvironmentVariableW(const std::wstring& name, std::wstring& value,
                                Dword capacity) override;
  Dword GetEnvironmentVariableA(const std::string& name, std::string& value,
                                Dword capacity) override;
  std::map<std::wstring, std::wstring> variables;

 private:
  CallLog& log_;
};

class FakeCommandLine : public CommandLine {
 public:
  explicit FakeCommandLine(CallLog& log) : log_(log) {}
  std::wstring GetCommandLineW() override;
  std::optional<std::vector<std::wstring>> CommandLineToArgvW(
      const std::wstring& command_line) override;
  std::wstring command_line = L"servicepack.exe";
  /// What the split yields; nothing makes the split fail.
  std::optional<std::vector<std::wstring>> arguments =
      std::vector<std::wstring>{L"servicepack.exe"};

 private:
  CallLog& log_;
};

/// Windows paths in memory: "C:\dir\file". Directories must exist for a file
/// to be created in them. CreateFileW takes a relative path as one in
/// `current_directory`.
class FakeFiles : public Files {
 public:
  FakeFiles(CallLog& log, FakeThread& thread) : log_(log), thread_(thread) {}

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

  /// The file's text as 8-bit characters; fails the test's expectations by
  /// returning nothing when the file does not exist.
  std::optional<std::string> Content(const std::wstring& path) const;
  bool Exists(const std::wstring& path) const { return files.count(path) != 0; }

  std::map<std::wstring, std::vector<std::uint8_t>> files;
  std::set<std::wstring> directories{L"C:", L"C:\\Temp", L"C:\\Work"};
  std::wstring temp_path = L"C:\\Temp\\";
  Dword temp_path_error = 0;  // non-zero: GetTempPathW fails with it
  std::wstring current_directory = L"C:\\Work";
  Dword tick_count = 5000;
  /// Paths that another process holds open for writing.
  std::set<std::wstring> locked;
  /// Paths a CreateFileW with kCreateNew finds taken just then, once each:
  /// another process created the file between the name's choice and ours.
  std::set<std::wstring> created_by_others;
  /// 1-based numbers of WriteFile calls that fail (after writing `short_by`
  /// bytes fewer than asked, at least nothing).
  std::set<int> failing_writes;
  /// WriteFile calls that succeed but write this many bytes fewer.
  std::set<int> short_writes;
  /// Non-zero: SetEndOfFile fails with this code.
  Dword set_end_of_file_error = 0;
  /// Non-zero: SetFilePointerEx fails with it.
  Dword seek_error = 0;
  Dword short_by = 1;
  int write_calls = 0;
  std::vector<std::wstring> files_removed;
  std::vector<std::string> narrow_removals;
  int open_handles() const { return static_cast<int>(handles_.size()); }

 private:
  struct Open {
    std::wstring path;
    std::int64_t position = 0;
    bool writable = false;
  };
  static std::wstring Parent(const std::wstring& path);
  bool Fail(Dword code);
  CallLog& log_;
  FakeThread& thread_;
  std::map<FileHandle, Open> handles_;
  FileHandle next_handle_ = 0x100;
};

/// Windows Installer in memory: products, summary information of package
/// files, and databases with a Property table.
class FakeMsi : public WindowsInstaller {
 public:
  FakeMsi(CallLog& log, FakeFiles* package_files = nullptr)
      : files(package_files), log_(log) {}
  /// When set, summary information opens only packages whose file exists
  /// there.
  FakeFiles* files = nullptr;

  struct Product {
    int state = kInstallStateDefault;
    std::map<std::wstring, std::wstring> properties;
    /// Properties whose query fails with this code.
    std::map<std::wstring, Uint> failing;
  };
  struct Summary {
    /// Property id to text; an absent id is not set in the package.
    std::map<Uint, std::wstring> text;
    std::set<Uint> integer_properties;
  };
  struct Database {
    std::vector<std::wstring> property_values;
    Uint open_result = 0;
    Uint view_result = 0;
    Uint execute_result = 0;
    Uint modify_result = 0;
    int commits = 0;
  };

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

  std::map<std::wstring, Product> products;
  /// Package files by full path.
  std::map<std::wstring, Summary> packages;
  std::map<std::wstring, Database> databases;
  struct Configure {
    std::wstring product;
    int level;
    int state;
    std::wstring command_line;
  };
  std::vector<Configure> configured;
  /// Results of MsiConfigureProductExW by product; 0 when not listed.
  std::map<std::wstring, Uint> configure_results;
  /// Capacities passed to MsiSummaryInfoGetPropertyW, in order.
  std::vector<Dword> summary_capacities;
  std::vector<MsiHandle> closed;
  int open_handles() const { return static_cast<int>(handles_.size()); }

 private:
  enum class Kind { kSummary, kDatabase, kView, kRecord };
  struct Handle {
    Kind kind;
    std::wstring path;    // summary and database: the package
    MsiHandle owner = 0;  // view: database; record: view
    std::size_t row = 0;  // view: next row; record: its row
    std::wstring value;   // record: field 1
  };
  MsiHandle New(Handle handle);
  CallLog& log_;
  std::map<MsiHandle, Handle> handles_;
  MsiHandle next_ = 1;
};

class FakeRegistry : public Registry {
 public:
  explicit FakeRegistry(CallLog& log) : log_(log) {}
  struct Value {
    Dword type;
    std::vector<std::uint8_t> data;
  };
  /// Keys by root and path (case as the program writes it).
  std::map<std::pair<RegKey, std::wstring>, std::map<std::wstring, Value>> keys;
  /// Keys whose opening with write access is refused.
  std::set<std::pair<RegKey, std::wstring>> read_only;
  /// Sets a REG_SZ value from text, terminator included.
  void SetString(RegKey root, const std::wstring& path,
                 const std::wstring& name, const std::wstring& text);

  Long RegOpenKeyExW(RegKey root, const std::wstring& sub_key, Dword options,
                     Dword access, RegKey& key) override;
  Long RegQueryValueExW(RegKey key, const std::wstring& name, Dword* type,
                        std::vector<std::uint8_t>& data, Dword& size) override;
  Long RegDeleteValueW(RegKey key, const std::wstring& name) override;
  Long RegCloseKey(RegKey key) override;

  std::vector<RegKey> closed;
  int open_keys() const { return static_cast<int>(open_.size()); }

 private:
  CallLog& log_;
  std::map<RegKey, std::pair<RegKey, std::wstring>> open_;
  RegKey next_ = 0x1000;
};

class FakeVersion : public VersionInfo {
 public:
  explicit FakeVersion(CallLog& log) : log_(log) {}
  /// Files with version information.
  std::map<std::wstring, FixedFileInfo> files;
  /// Files whose version information exists but whose root block is missing.
  std::set<std::wstring> without_root;

  Dword GetFileVersionInfoSizeW(const std::wstring& path,
                                Dword& handle) override;
  bool GetFileVersionInfoW(const std::wstring& path, Dword handle, Dword size,
                           std::vector<std::uint8_t>& block) override;
  bool VerQueryValueW(const std::vector<std::uint8_t>& block,
                      const std::wstring& sub_block,
                      FixedFileInfo& info) override;

 private:
  CallLog& log_;
};

/// Every fake area, wired to one call log.
struct FakePlatform {
  CallLog log;
  FakeResources resources{log};
  FakeBoxes boxes{log};
  FakeThread thread{log};
  FakeEnvironment environment{log};
  FakeCommandLine command_line{log};
  FakeFiles files{log, thread};
  FakeMsi msi{log, &files};
  FakeRegistry registry{log};
  FakeVersion version{log};

  Platform platform() {
    return Platform{resources, boxes, thread,   environment, command_line,
                    files,     msi,   registry, version};
  }
  /// Calls in the log that begin with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) const;
};

}  // namespace sp::fake
