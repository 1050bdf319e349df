#include "fake/fake_platform.h"

#include <algorithm>
#include <cwctype>

namespace sp::fake {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      // Enough for test output: UTF-8 of the basic plane.
      if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
      } else {
        out += static_cast<char>(0xE0 | ((c >> 12) & 0x0F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      }
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring Widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

namespace {

std::wstring Upper(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

/// True when `text` and its terminator fit in `capacity` characters.
template <typename String>
bool FitsIn(const String& text, Dword capacity) {
  return text.size() + 1 <= capacity;
}

}  // namespace

// ---------------------------------------------------------------- resources

std::wstring FakeResources::Key(const std::wstring& type,
                                const std::wstring& name) {
  return Upper(type) + L"/" + Upper(name);
}

void FakeResources::Add(const std::wstring& type, const std::wstring& name,
                        LangId language, std::vector<std::uint8_t> bytes) {
  entries_.push_back({Upper(type), Upper(name), language, std::move(bytes)});
}

void FakeResources::Remove(const std::wstring& type, const std::wstring& name) {
  std::erase_if(entries_, [&](const Entry& e) {
    return e.type == Upper(type) && e.name == Upper(name);
  });
}

void FakeResources::AddString(LangId language, Uint id,
                              const std::wstring& text) {
  strings_[{language, id}] = text;
  const Uint block = id / 16 + 1;
  const std::wstring name = L"#" + std::to_wstring(block);
  std::erase_if(entries_, [&](const Entry& e) {
    return e.type == L"#6" && e.name == name && e.language == language;
  });
  std::vector<std::uint8_t> bytes;
  for (Uint i = (block - 1) * 16; i < block * 16; ++i) {
    auto found = strings_.find({language, i});
    const std::wstring s = found == strings_.end() ? L"" : found->second;
    auto put = [&](std::uint16_t unit) {
      bytes.push_back(unit & 0xFF);
      bytes.push_back(unit >> 8);
    };
    put(static_cast<std::uint16_t>(s.size()));
    for (wchar_t c : s) put(static_cast<std::uint16_t>(c));
  }
  entries_.push_back({L"#6", name, language, std::move(bytes)});
}

ResourceHandle FakeResources::Find(const std::wstring& type,
                                   const std::wstring& name,
                                   std::optional<LangId> language) {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.type == Upper(type) && e.name == Upper(name) &&
        (!language || *language == e.language)) {
      return i + 1;
    }
  }
  return 0;
}

ResourceHandle FakeResources::FindResourceW(ModuleHandle,
                                            const std::wstring& name,
                                            const std::wstring& type) {
  log_.push_back("FindResourceW " + Narrow(name) + " " + Narrow(type));
  return Find(type, name, std::nullopt);
}

ResourceHandle FakeResources::FindResourceExW(ModuleHandle,
                                              const std::wstring& type,
                                              const std::wstring& name,
                                              LangId language) {
  log_.push_back("FindResourceExW " + Narrow(type) + " " + Narrow(name) + " " +
                 std::to_string(language));
  return Find(type, name, language);
}

Dword FakeResources::SizeofResource(ModuleHandle, ResourceHandle found) {
  log_.push_back("SizeofResource");
  if (found == 0 || found > entries_.size()) return 0;
  return static_cast<Dword>(entries_[found - 1].bytes.size());
}

ResourceData FakeResources::LoadResource(ModuleHandle, ResourceHandle found) {
  log_.push_back("LoadResource");
  if (found == 0 || found > entries_.size()) return 0;
  const Entry& e = entries_[found - 1];
  if (fail_load.count(Key(e.type, e.name))) return 0;
  return found;
}

const std::uint8_t* FakeResources::LockResource(ResourceData loaded) {
  log_.push_back("LockResource");
  if (loaded == 0 || loaded > entries_.size()) return nullptr;
  Entry& e = entries_[loaded - 1];
  if (fail_lock.count(Key(e.type, e.name))) return nullptr;
  static const std::uint8_t kEmpty = 0;
  return e.bytes.empty() ? &kEmpty : e.bytes.data();
}

// ---------------------------------------------------------------- boxes

int FakeBoxes::MessageBoxW(const std::wstring& text,
                           const std::wstring& caption, Uint type) {
  log_.push_back("MessageBoxW " + Narrow(caption));
  shown.push_back({text, caption, type});
  return 1;
}

// ---------------------------------------------------------------- thread

Dword FakeThread::GetLastError() {
  log_.push_back("GetLastError");
  return last_error;
}

void FakeThread::SetLastError(Dword code) {
  log_.push_back("SetLastError " + std::to_string(code));
  last_error = code;
}

Lcid FakeThread::GetThreadLocale() {
  log_.push_back("GetThreadLocale");
  return locale;
}

bool FakeThread::SetThreadLocale(Lcid requested) {
  log_.push_back("SetThreadLocale " + std::to_string(requested));
  locales_set.push_back(requested);
  if (requested == kLocaleUserDefault) {
    locale = user_default_locale;
    return true;
  }
  if (requested == 0 || rejected.count(requested)) {
    last_error = kErrorInvalidParameter;
    return false;
  }
  locale = requested;
  return true;
}

// ---------------------------------------------------------------- environment

Dword FakeEnvironment::GetEnvironmentVariableW(const std::wstring& name,
                                               std::wstring& value,
                                               Dword capacity) {
  log_.push_back("GetEnvironmentVariableW " + Narrow(name));
  auto found = variables.find(name);
  if (found == variables.end()) return 0;
  if (!FitsIn(found->second, capacity)) {
    return static_cast<Dword>(found->second.size() + 1);
  }
  value = found->second;
  return static_cast<Dword>(value.size());
}

Dword FakeEnvironment::GetEnvironmentVariableA(const std::string& name,
                                               std::string& value,
                                               Dword capacity) {
  log_.push_back("GetEnvironmentVariableA " + name);
  auto found = variables.find(Widen(name));
  if (found == variables.end()) return 0;
  const std::string narrow = Narrow(found->second);
  if (!FitsIn(narrow, capacity)) return static_cast<Dword>(narrow.size() + 1);
  value = narrow;
  return static_cast<Dword>(value.size());
}

// ---------------------------------------------------------------- command line

std::wstring FakeCommandLine::GetCommandLineW() {
  log_.push_back("GetCommandLineW");
  return command_line;
}

std::optional<std::vector<std::wstring>> FakeCommandLine::CommandLineToArgvW(
    const std::wstring& line) {
  log_.push_back("CommandLineToArgvW " + Narrow(line));
  return arguments;
}

// ---------------------------------------------------------------- files

std::wstring FakeFiles::Parent(const std::wstring& path) {
  auto slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

bool FakeFiles::Fail(Dword code) {
  thread_.last_error = code;
  return false;
}

Dword FakeFiles::GetTempPathW(Dword capacity, std::wstring& path) {
  log_.push_back("GetTempPathW " + std::to_string(capacity));
  if (temp_path_error != 0) {
    Fail(temp_path_error);
    return 0;
  }
  if (!FitsIn(temp_path, capacity)) {
    return static_cast<Dword>(temp_path.size() + 1);
  }
  path = temp_path;
  return static_cast<Dword>(path.size());
}

Dword FakeFiles::GetFullPathNameW(const std::wstring& path, Dword capacity,
                                  std::wstring& full_path) {
  log_.push_back("GetFullPathNameW " + Narrow(path) + " " +
                 std::to_string(capacity));
  if (path.empty()) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  std::wstring full = path.size() >= 2 && path[1] == L':'
                          ? path
                          : current_directory + L"\\" + path;
  if (!FitsIn(full, capacity)) return static_cast<Dword>(full.size() + 1);
  full_path = full;
  return static_cast<Dword>(full.size());
}

Dword FakeFiles::GetTickCount() { return tick_count; }

Dword FakeFiles::GetFileAttributesW(const std::wstring& path) {
  log_.push_back("GetFileAttributesW " + Narrow(path));
  std::wstring trimmed = path;
  while (trimmed.size() > 2 && trimmed.back() == L'\\') trimmed.pop_back();
  if (directories.count(trimmed)) return kFileAttributeDirectory;
  if (files.count(path)) return kFileAttributeNormal;
  Fail(kErrorFileNotFound);
  return kInvalidFileAttributes;
}

FileHandle FakeFiles::CreateFileW(const std::wstring& given, Dword access,
                                  Dword share_mode, Dword disposition,
                                  Dword attributes) {
  // A relative path names a file in the current directory.
  const std::wstring path = given.size() >= 2 && given[1] == L':'
                                ? given
                                : current_directory + L"\\" + given;
  log_.push_back("CreateFileW " + Narrow(given) +
                 " access=" + std::to_string(access) +
                 " share=" + std::to_string(share_mode) +
                 " disposition=" + std::to_string(disposition) +
                 " attributes=" + std::to_string(attributes));
  if (!directories.count(Parent(path))) {
    Fail(kErrorPathNotFound);
    return kInvalidHandleValue;
  }
  if (directories.count(path) || locked.count(path)) {
    Fail(directories.count(path) ? kErrorAccessDenied : 32);
    return kInvalidHandleValue;
  }
  if (created_by_others.erase(path)) files[path];  // appears just now
  const bool exists = files.count(path) != 0;
  switch (disposition) {
    case kCreateNew:
      if (exists) {
        Fail(kErrorFileExists);
        return kInvalidHandleValue;
      }
      files[path];
      break;
    case kCreateAlways:
      files[path].clear();
      break;
    case kOpenAlways:
      files[path];
      break;
    case kOpenExisting:
      if (!exists) {
        Fail(kErrorFileNotFound);
        return kInvalidHandleValue;
      }
      break;
    default:
      Fail(kErrorInvalidParameter);
      return kInvalidHandleValue;
  }
  const FileHandle handle = next_handle_++;
  handles_[handle] = {path, 0, (access & kGenericWrite) != 0};
  // OPEN_ALWAYS and CREATE_ALWAYS report an existing file this way.
  thread_.last_error = exists ? kErrorAlreadyExists : 0;
  return handle;
}

bool FakeFiles::WriteFile(FileHandle file, const std::uint8_t* data, Dword size,
                          Dword& written) {
  const int call = ++write_calls;
  log_.push_back("WriteFile " + std::to_string(size));
  written = 0;
  auto found = handles_.find(file);
  if (found == handles_.end()) return Fail(kErrorInvalidHandle);
  Open& open = found->second;
  if (!open.writable) return Fail(kErrorAccessDenied);
  Dword count = size;
  const bool failing = failing_writes.count(call) != 0;
  if (failing || short_writes.count(call)) {
    count = size > short_by ? size - short_by : 0;
  }
  auto& bytes = files[open.path];
  if (bytes.size() < static_cast<std::size_t>(open.position) + count) {
    bytes.resize(open.position + count);
  }
  std::copy(data, data + count, bytes.begin() + open.position);
  open.position += count;
  written = count;
  if (failing) return Fail(kErrorDiskFull);
  return true;
}

bool FakeFiles::SetFilePointerEx(FileHandle file, std::int64_t distance,
                                 std::int64_t& new_position, Dword method) {
  log_.push_back("SetFilePointerEx " + std::to_string(distance) + " " +
                 std::to_string(method));
  auto found = handles_.find(file);
  if (found == handles_.end()) return Fail(kErrorInvalidHandle);
  if (seek_error != 0) return Fail(seek_error);
  Open& open = found->second;
  const std::int64_t base =
      method == kFileBegin ? 0
      : method == kFileEnd ? static_cast<std::int64_t>(files[open.path].size())
                           : open.position;
  if (base + distance < 0) return Fail(kErrorInvalidParameter);
  open.position = base + distance;
  new_position = open.position;
  return true;
}

bool FakeFiles::SetEndOfFile(FileHandle file) {
  log_.push_back("SetEndOfFile");
  auto found = handles_.find(file);
  if (found == handles_.end()) return Fail(kErrorInvalidHandle);
  if (set_end_of_file_error != 0) return Fail(set_end_of_file_error);
  files[found->second.path].resize(found->second.position);
  return true;
}

bool FakeFiles::CloseHandle(FileHandle file) {
  log_.push_back("CloseHandle");
  return handles_.erase(file) != 0 || Fail(kErrorInvalidHandle);
}

bool FakeFiles::DeleteFileW(const std::wstring& path) {
  log_.push_back("DeleteFileW " + Narrow(path));
  if (!files.erase(path)) return Fail(kErrorFileNotFound);
  files_removed.push_back(path);
  return true;
}

bool FakeFiles::DeleteFileA(const std::string& path) {
  log_.push_back("DeleteFileA " + path);
  narrow_removals.push_back(path);
  if (!files.erase(Widen(path))) return Fail(kErrorFileNotFound);
  files_removed.push_back(Widen(path));
  return true;
}

std::optional<std::string> FakeFiles::Content(const std::wstring& path) const {
  auto found = files.find(path);
  if (found == files.end()) return std::nullopt;
  return std::string(found->second.begin(), found->second.end());
}

// ---------------------------------------------------------------- installer

MsiHandle FakeMsi::New(Handle handle) {
  const MsiHandle id = next_++;
  handles_[id] = std::move(handle);
  return id;
}

Uint FakeMsi::MsiGetSummaryInformationW(MsiHandle database,
                                        const std::wstring& path,
                                        Uint update_count, MsiHandle& summary) {
  log_.push_back("MsiGetSummaryInformationW " + std::to_string(database) + " " +
                 Narrow(path) + " " + std::to_string(update_count));
  if (!packages.count(path) || (files != nullptr && !files->Exists(path))) {
    return 110;  // ERROR_OPEN_FAILED
  }
  summary = New({Kind::kSummary, path});
  return 0;
}

Uint FakeMsi::MsiSummaryInfoGetPropertyW(MsiHandle summary, Uint property,
                                         Uint& data_type, int& int_value,
                                         FileTime&, std::wstring& value,
                                         Dword& capacity) {
  log_.push_back("MsiSummaryInfoGetPropertyW " + std::to_string(property) +
                 " " + std::to_string(capacity));
  summary_capacities.push_back(capacity);
  auto found = handles_.find(summary);
  if (found == handles_.end() || found->second.kind != Kind::kSummary) {
    return kErrorInvalidHandle;
  }
  const Summary& package = packages[found->second.path];
  if (package.integer_properties.count(property)) {
    data_type = 3;  // VT_I4: the text buffer is not written
    int_value = 1;
    return 0;
  }
  auto text = package.text.find(property);
  if (text == package.text.end()) {
    data_type = 0;  // VT_EMPTY
    return 0;
  }
  data_type = kVtLpstr;
  if (!FitsIn(text->second, capacity)) {
    capacity = static_cast<Dword>(text->second.size());
    return kErrorMoreData;
  }
  value = text->second;
  capacity = static_cast<Dword>(value.size());
  return 0;
}

Uint FakeMsi::MsiCloseHandle(MsiHandle handle) {
  log_.push_back("MsiCloseHandle " + std::to_string(handle));
  closed.push_back(handle);
  return handles_.erase(handle) ? 0 : kErrorInvalidHandle;
}

int FakeMsi::MsiQueryProductStateW(const std::wstring& product) {
  log_.push_back("MsiQueryProductStateW " + Narrow(product));
  auto found = products.find(product);
  return found == products.end() ? kInstallStateUnknown : found->second.state;
}

Uint FakeMsi::MsiGetProductInfoW(const std::wstring& product,
                                 const std::wstring& property,
                                 std::wstring& value, Dword& capacity) {
  log_.push_back("MsiGetProductInfoW " + Narrow(product) + " " +
                 Narrow(property) + " " + std::to_string(capacity));
  auto found = products.find(product);
  if (found == products.end()) return kErrorUnknownProduct;
  auto failing = found->second.failing.find(property);
  if (failing != found->second.failing.end()) return failing->second;
  auto prop = found->second.properties.find(property);
  if (prop == found->second.properties.end()) return kErrorUnknownProperty;
  if (!FitsIn(prop->second, capacity)) {
    capacity = static_cast<Dword>(prop->second.size());
    return kErrorMoreData;
  }
  value = prop->second;
  capacity = static_cast<Dword>(value.size());
  return 0;
}

Uint FakeMsi::MsiConfigureProductExW(const std::wstring& product,
                                     int install_level, int install_state,
                                     const std::wstring& command_line) {
  log_.push_back("MsiConfigureProductExW " + Narrow(product) + " " +
                 std::to_string(install_level) + " " +
                 std::to_string(install_state) + " " + Narrow(command_line));
  configured.push_back({product, install_level, install_state, command_line});
  auto result = configure_results.find(product);
  return result == configure_results.end() ? 0 : result->second;
}

Uint FakeMsi::MsiOpenDatabaseW(const std::wstring& path, Uint persist,
                               MsiHandle& database) {
  log_.push_back("MsiOpenDatabaseW " + Narrow(path) + " " +
                 std::to_string(persist));
  auto found = databases.find(path);
  if (found == databases.end()) return 110;  // ERROR_OPEN_FAILED
  if (found->second.open_result != 0) return found->second.open_result;
  database = New({Kind::kDatabase, path});
  return 0;
}

Uint FakeMsi::MsiDatabaseOpenViewW(MsiHandle database,
                                   const std::wstring& query, MsiHandle& view) {
  log_.push_back("MsiDatabaseOpenViewW " + Narrow(query));
  auto found = handles_.find(database);
  if (found == handles_.end() || found->second.kind != Kind::kDatabase) {
    return kErrorInvalidHandle;
  }
  const Uint result = databases[found->second.path].view_result;
  if (result != 0) return result;
  view = New({Kind::kView, found->second.path, database});
  return 0;
}

Uint FakeMsi::MsiViewExecute(MsiHandle view, MsiHandle parameters) {
  log_.push_back("MsiViewExecute " + std::to_string(parameters));
  auto found = handles_.find(view);
  if (found == handles_.end() || found->second.kind != Kind::kView) {
    return kErrorInvalidHandle;
  }
  return databases[found->second.path].execute_result;
}

Uint FakeMsi::MsiViewFetch(MsiHandle view, MsiHandle& record) {
  log_.push_back("MsiViewFetch");
  auto found = handles_.find(view);
  if (found == handles_.end() || found->second.kind != Kind::kView) {
    return kErrorInvalidHandle;
  }
  Handle& v = found->second;
  const auto& values = databases[v.path].property_values;
  if (v.row >= values.size()) return kErrorNoMoreItems;
  record = New({Kind::kRecord, v.path, view, v.row, values[v.row]});
  ++v.row;
  return 0;
}

Uint FakeMsi::MsiRecordGetStringW(MsiHandle record, Uint field,
                                  std::wstring& value, Dword& capacity) {
  log_.push_back("MsiRecordGetStringW " + std::to_string(field) + " " +
                 std::to_string(capacity));
  auto found = handles_.find(record);
  if (found == handles_.end() || found->second.kind != Kind::kRecord) {
    return kErrorInvalidHandle;
  }
  const std::wstring& text = found->second.value;
  if (!FitsIn(text, capacity)) {
    // The installer fills what fits, then reports the length needed.
    if (capacity > 0) value = text.substr(0, capacity - 1);
    capacity = static_cast<Dword>(text.size());
    return kErrorMoreData;
  }
  value = text;
  capacity = static_cast<Dword>(text.size());
  return 0;
}

Uint FakeMsi::MsiRecordSetStringW(MsiHandle record, Uint field,
                                  const std::wstring& value) {
  log_.push_back("MsiRecordSetStringW " + std::to_string(field) + " " +
                 Narrow(value));
  auto found = handles_.find(record);
  if (found == handles_.end() || found->second.kind != Kind::kRecord) {
    return kErrorInvalidHandle;
  }
  found->second.value = value;
  return 0;
}

Uint FakeMsi::MsiViewModify(MsiHandle view, int mode, MsiHandle record) {
  log_.push_back("MsiViewModify " + std::to_string(mode));
  auto v = handles_.find(view);
  auto r = handles_.find(record);
  if (v == handles_.end() || r == handles_.end()) return kErrorInvalidHandle;
  Database& db = databases[v->second.path];
  if (db.modify_result != 0) return db.modify_result;
  if (mode == kMsiModifyReplace) {
    db.property_values[r->second.row] = r->second.value;
  }
  return 0;
}

Uint FakeMsi::MsiDatabaseCommit(MsiHandle database) {
  log_.push_back("MsiDatabaseCommit");
  auto found = handles_.find(database);
  if (found == handles_.end()) return kErrorInvalidHandle;
  ++databases[found->second.path].commits;
  return 0;
}

// ---------------------------------------------------------------- registry

void FakeRegistry::SetString(RegKey root, const std::wstring& path,
                             const std::wstring& name,
                             const std::wstring& text) {
  std::vector<std::uint8_t> data;
  for (wchar_t c : text + L'\0') {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
  }
  keys[{root, path}][name] = {1, std::move(data)};  // REG_SZ
}

Long FakeRegistry::RegOpenKeyExW(RegKey root, const std::wstring& sub_key,
                                 Dword options, Dword access, RegKey& key) {
  log_.push_back("RegOpenKeyExW " + std::to_string(root) + " " +
                 Narrow(sub_key) + " " + std::to_string(options) + " " +
                 std::to_string(access));
  const auto id = std::make_pair(root, sub_key);
  if (!keys.count(id)) return kErrorFileNotFound;
  if ((access & ~kKeyQueryValue) != 0 && read_only.count(id)) {
    return kErrorAccessDenied;
  }
  key = next_++;
  open_[key] = id;
  return 0;
}

Long FakeRegistry::RegQueryValueExW(RegKey key, const std::wstring& name,
                                    Dword* type,
                                    std::vector<std::uint8_t>& data,
                                    Dword& size) {
  log_.push_back("RegQueryValueExW " + Narrow(name) + " " +
                 std::to_string(size));
  auto found = open_.find(key);
  if (found == open_.end()) return kErrorInvalidHandle;
  auto& values = keys[found->second];
  auto value = values.find(name);
  if (value == values.end()) return kErrorFileNotFound;
  if (type) *type = value->second.type;
  if (value->second.data.size() > size) {
    size = static_cast<Dword>(value->second.data.size());
    return kErrorMoreData;
  }
  data = value->second.data;
  size = static_cast<Dword>(data.size());
  return 0;
}

Long FakeRegistry::RegDeleteValueW(RegKey key, const std::wstring& name) {
  log_.push_back("RegDeleteValueW " + Narrow(name));
  auto found = open_.find(key);
  if (found == open_.end()) return kErrorInvalidHandle;
  return keys[found->second].erase(name) ? 0 : kErrorFileNotFound;
}

Long FakeRegistry::RegCloseKey(RegKey key) {
  log_.push_back("RegCloseKey");
  closed.push_back(key);
  return open_.erase(key) ? 0 : kErrorInvalidHandle;
}

// ---------------------------------------------------------------- version

Dword FakeVersion::GetFileVersionInfoSizeW(const std::wstring& path,
                                           Dword& handle) {
  log_.push_back("GetFileVersionInfoSizeW " + Narrow(path));
  handle = 0;
  return files.count(path) ? 256 : 0;
}

bool FakeVersion::GetFileVersionInfoW(const std::wstring& path, Dword handle,
                                      Dword size,
                                      std::vector<std::uint8_t>& block) {
  log_.push_back("GetFileVersionInfoW " + Narrow(path) + " " +
                 std::to_string(handle) + " " + std::to_string(size));
  auto found = files.find(path);
  if (found == files.end()) return false;
  // The block carries the path so that VerQueryValueW can find the file.
  block.assign(size, 0);
  const std::string narrow = Narrow(path);
  std::copy(narrow.begin(), narrow.end(), block.begin());
  return true;
}

bool FakeVersion::VerQueryValueW(const std::vector<std::uint8_t>& block,
                                 const std::wstring& sub_block,
                                 FixedFileInfo& info) {
  log_.push_back("VerQueryValueW " + Narrow(sub_block));
  const std::wstring path =
      Widen(std::string(reinterpret_cast<const char*>(block.data())));
  auto found = files.find(path);
  if (sub_block != L"\\" || found == files.end() || without_root.count(path)) {
    return false;
  }
  info = found->second;
  return true;
}

std::vector<std::string> FakePlatform::Calls(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& line : log) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

}  // namespace sp::fake
