// The install run: the default action, from extracting the patch package to
// the last message, product by product. It finds the target products that
// are present, decides per product by its installed version whether the
// patch applies, and asks Windows Installer to apply it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sp {

class Messages;
class Payload;
class Repairs;
class TargetListReader;
struct ProcessState;

/// One target product present on the machine, and the version strings of
/// the service pack that decide its course. Every record of a run is a copy
/// of one template that carries TargetVersion and AcceptedVersions.
struct ProductRecord {
  /// The product code exactly as listed in the package's target list.
  std::wstring product_code;
  /// String 700: the version a product has once the patch is applied.
  std::wstring target_version;
  /// The product's "ProductName"; empty when it could not be read.
  std::wstring product_name;
  /// The product's "Language" as decimal text, such as 1033; empty when it
  /// could not be read.
  std::wstring language;
  /// The command line Windows Installer was given for the patch; empty until
  /// the patch is applied.
  std::wstring patch_command_line;
  /// String 900: the versions the patch applies to, each followed by ','.
  std::wstring accepted_versions;
  /// The product's "VersionString", its installed version as text; empty
  /// when it could not be read.
  std::wstring version_string;
  /// The product's "LocalPackage", the path of its cached installation
  /// package; empty when it could not be read.
  std::wstring local_package;
};

/// The present target products in the order of the target list. Filled by
/// discovery, read by the install run, emptied when the process ends.
using ProductList = std::vector<ProductRecord>;

/// The product codes of a target list, in order: the entries between the
/// ';' separators, untrimmed and unchecked, up to the first empty entry
/// (an empty list, a leading ';', two ';' in a row, or the end). A code
/// listed twice comes twice.
std::vector<std::wstring> SplitTargetList(const std::wstring& list);

/// A number read from text as the C runtime's wide-text-to-integer
/// conversion reads it: leading white space skipped, an optional '+' or '-',
/// then decimal digits up to the first other character. No digits give 0.
/// There is no overflow check: the result wraps around in 32 bits.
std::int32_t ReadNumber(const std::wstring& text);

/// A version in four parts, first.second.third.fourth. Only equality is
/// asked of versions; they have no order.
struct VersionQuad {
  std::array<std::uint16_t, 4> parts{};
  friend bool operator==(const VersionQuad&, const VersionQuad&) = default;
};

/// Reads a version text; never fails. ',' counts as '.'. Each of the first
/// three parts is taken only when a '.' follows it; the fourth is read from
/// whatever is left (so "9.1" is 9.0.0.0 and "1.2.3.4.5" is 1.2.3.4). Each
/// part keeps the low 16 bits of its number (70000 gives 4464, -1 gives
/// 65535); missing parts are 0.
VersionQuad ParseVersion(const std::wstring& text);

/// True when all four parts are equal.
bool VersionsEqual(const VersionQuad& a, const VersionQuad& b);
/// True when any part differs.
bool VersionsDiffer(const VersionQuad& a, const VersionQuad& b);

/// What the version gate decides for one product.
enum class GateOutcome {
  /// Already at TargetVersion: nothing to do.
  kAlreadyCurrent,
  /// At one of the AcceptedVersions: the patch applies.
  kPatchable,
  /// At a version the patch does not serve (message 308).
  kNotAccepted,
  /// An accepted entry equals TargetVersion before any entry equals the
  /// installed version: the whole run ends (message 306).
  kEndRun,
};

/// The gate's decision for an installed version. The entries of
/// `accepted_versions` are the texts before each ','; text after the last
/// ',' is no entry. They are tried in order, and the first that equals the
/// installed version (kPatchable) or else TargetVersion (kEndRun) decides.
GateOutcome ClassifyVersion(const VersionQuad& installed,
                            const std::wstring& target_version,
                            const std::wstring& accepted_versions);

/// True for the results of a product configuration that count as a patch
/// applied: 0, and the two successes that ask for or start a restart (3010
/// and 1641).
bool PatchSucceeded(Uint result);

/// The command line that sets the PATCH property to the package path: the
/// text PATCH= and the path in double quotes, whole, whatever its length.
std::wstring PatchCommandLine(const std::wstring& payload_path);

/// Capacity for product property values, terminator included.
inline constexpr Dword kProductPropertyCapacity = 1024;
/// Capacity in bytes of the shared-components file path, and of the
/// environment value it is made from, terminator included.
inline constexpr Dword kSharedPathCapacity = 1024;

/// The file removed from the maker's shared-components folder after a
/// successful patch: "<common files>\Corvane Shared\ B1E56000plu.cfg" (the
/// file name begins with a space). Nothing when the path and its terminator
/// would not fit in kSharedPathCapacity bytes.
std::optional<std::string> SharedComponentsFile(
    const std::string& common_files);

/// The install run and its parts, over the platform areas it needs.
class Installer {
 public:
  Installer(ThreadState& thread, Environment& environment, Files& files,
            WindowsInstaller& msi, Payload& payload, TargetListReader& reader,
            Messages& messages, ProcessState& process, Repairs& repairs)
      : thread_(thread),
        environment_(environment),
        files_(files),
        msi_(msi),
        payload_(payload),
        reader_(reader),
        messages_(messages),
        process_(process),
        repairs_(repairs) {}

  /// The default action. True when the run reached its normal end, whatever
  /// happened to the single products; false when it ended early (the
  /// package not extracted, string 700 or 900 missing, the target list not
  /// read, no target product present, or a gate outcome kEndRun). Only the
  /// normal end deletes the temporary copy of the package.
  bool InstallRun();

  /// Appends to the process's ProductList a copy of `record_template` for
  /// every product of `list` (see SplitTargetList) that Windows Installer
  /// reports as installed or advertised, with its four properties read.
  void DiscoverProducts(const std::wstring& list,
                        const ProductRecord& record_template);

  /// True when the product is advertised or installed.
  bool IsProductPresent(const std::wstring& product_code);

  /// The product's property value; empty when the query fails or the value
  /// does not fit kProductPropertyCapacity characters.
  std::wstring ReadProductProperty(const std::wstring& product_code,
                                   const std::wstring& property);

  /// ClassifyVersion for the record, with `installed` the record's parsed
  /// VersionString; shows message 308 for kNotAccepted and 306 for kEndRun.
  GateOutcome VersionGate(const ProductRecord& record,
                          const VersionQuad& installed);

  /// Reconfigures the product with the package at `payload_path` as its
  /// patch, keeping the command line in the record. On success (see
  /// PatchSucceeded) removes the shared-components file and shows message
  /// 301; otherwise shows message 300 with the installer's result.
  void ApplyPatch(ProductRecord& record, const std::wstring& payload_path);

 private:
  void RemoveSharedComponentsFile();

  ThreadState& thread_;
  Environment& environment_;
  Files& files_;
  WindowsInstaller& msi_;
  Payload& payload_;
  TargetListReader& reader_;
  Messages& messages_;
  ProcessState& process_;
  Repairs& repairs_;
};

}  // namespace sp
