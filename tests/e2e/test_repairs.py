"""The pre-patch repairs under Wine, on a product installed from a fixture.

Each test installs a fixture product from the sample patch's target list at
9.0.43.0, gives it a "Transforms" registration value, and sets up the host
product's key (Software\\Corvane\\Mervolt\\R16.0\\Merv-A:B) with a desktop
module: a real DLL with a version resource, built here from module/.  The
service pack then runs without options.  Wine's relay trace of the calls the
program makes (registry, version information, Windows Installer, message
boxes), with their results, shows what the repairs did and in what order;
the registry and the cached package are read afterwards as well.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import fixtures  # noqa: E402
import winerun  # noqa: E402

CODE = fixtures.PRODUCT_CODES[0]
PACKED = fixtures.packed_code(CODE)
NAME = "Corvane Mervolt 9"
REGISTRATION_KEY = "HKCR\\Installer\\Products\\" + PACKED
INSTALL_PROPERTIES = "HKLM\\" + fixtures.install_properties_key(CODE)
MODULE_DIR = "C:\\Corvane\\Mervolt"

# Extra Property rows of the fixture: one that the cached package repair
# replaces, and neighbours that stay.
PROPERTIES = {"MERVBUILD": "9.0.43.0b", "MERVNOTE": "9.0.43.0b ",
              "MERVBASE": "9.0.43.0"}

# The calls the relay trace records: those of the repairs, the patch call
# and the message box (which the driver needs to see).
RELAYED = [
    "user32.MessageBoxW", "advapi32.RegOpenKeyExW", "advapi32.RegQueryValueExW",
    "advapi32.RegDeleteValueW", "advapi32.RegCloseKey",
    "version.GetFileVersionInfoSizeW", "version.GetFileVersionInfoW",
    "version.VerQueryValueW", "msi.MsiOpenDatabaseW",
    "msi.MsiDatabaseOpenViewW", "msi.MsiViewExecute", "msi.MsiViewFetch",
    "msi.MsiRecordGetStringW", "msi.MsiRecordSetStringW", "msi.MsiViewModify",
    "msi.MsiDatabaseCommit", "msi.MsiCloseHandle",
    "msi.MsiConfigureProductExW",
]
_CALL = re.compile(r"^([0-9a-f]+):Call (\w+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
_RET = re.compile(r"^([0-9a-f]+):Ret  (\w+)\.(\w+)\(\) retval=([0-9a-f]+) "
                  r"ret=([0-9a-f]+)$")


def host_key(code):
    """The host product's key: the last three digits of the code's second
    and third groups, joined by a colon."""
    groups = code.strip("{}").split("-")
    return ("HKLM\\Software\\Corvane\\Mervolt\\R16.0\\Merv-%s:%s" %
            (groups[1][-3:], groups[2][-3:]))


def program_calls(stderr):
    """The relayed calls that the program itself made, in order, as
    (function, arguments, result) with the result as an integer.

    They are the calls of the thread that applied the patch whose return
    address lies in the program's image, near that of the patch call; calls
    that Wine's modules make on the program's behalf (msi.dll reading the
    registry, version.dll passing on to kernelbase) are left out.
    """
    thread = image = None
    for line in stderr.splitlines():
        m = _CALL.match(line)
        if m and m.group(3) == "MsiConfigureProductExW":
            thread, image = m.group(1), int(m.group(5), 16)
            break
    if thread is None:
        return []
    calls, open_calls = [], []
    for line in stderr.splitlines():
        m = _CALL.match(line)
        if m and m.group(1) == thread:
            open_calls.append((m.group(5), len(calls)))
            calls.append([m.group(3), m.group(4), None, int(m.group(5), 16)])
            continue
        m = _RET.match(line)
        if m and m.group(1) == thread:
            ret_address, index = open_calls.pop()
            if ret_address != m.group(5):
                raise AssertionError("unbalanced relay trace at " + line)
            calls[index][2] = int(m.group(4), 16)
    return [(name, args, result) for name, args, result, ret in calls
            if abs(ret - image) < 0x1000000]


def names(calls):
    return [c[0] for c in calls]


def property_table(msi_path):
    """The Property table of a package, as msitools reads it."""
    out = subprocess.run(["msiinfo", "export", str(msi_path), "Property"],
                         capture_output=True, text=True, check=True,
                         timeout=60)
    rows = out.stdout.splitlines()[3:]  # column names, types, table name
    return dict(row.split("\t", 1) for row in rows if row)


class RepairsTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.exe, cls.arch = winerun.choose(os.environ.get("SP_EXE_I686", ""),
                                           os.environ.get("SP_EXE_X64", ""))
        if not cls.exe.is_file():
            raise unittest.SkipTest("no service pack built at %s" % cls.exe)
        cls.work = Path(tempfile.mkdtemp(prefix="repairs-e2e-"))
        cls.msi = fixtures.build_product_msi(cls.work / "product.msi", CODE,
                                             "9.0.43.0", 1033, NAME,
                                             PROPERTIES)
        cls.modules = {v: cls.build_module(v) for v in ("16.0.1.2",
                                                        "9.0.43.0")}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def build_module(cls, version):
        """A DLL whose version resource gives `version` as file version."""
        out = cls.work / version
        out.mkdir()
        windres = cls.arch.cc.replace("-gcc", "-windres")
        subprocess.run([windres, "-DMODULE_VERSION=" + version.replace(".", ","),
                        str(HERE / "module" / "module.rc"), "-O", "coff", "-o",
                        str(out / "module.o")], check=True, timeout=60)
        subprocess.run([cls.arch.cc, "-shared", "-o", str(out / "desktop.mvx"),
                        str(HERE / "module" / "module.c"), str(out / "module.o")],
                       check=True, timeout=120)
        return out / "desktop.mvx"

    # -- scenario

    def install(self, prefix, module_version="16.0.1.2", host=True,
                display_version=None):
        """Installs the fixture product and sets up its surroundings; returns
        the cached package's Unix path."""
        result = prefix.msiexec(["/i", prefix.win_path(self.msi), "/qn"],
                                timeout=180)
        self.assertEqual(result.exit_code, 0, "fixture not installed")
        reg = ["Windows Registry Editor Version 5.00", "",
               "[HKEY_CURRENT_USER\\Software\\Wine\\Debug]",
               '"RelayInclude"="%s"' % ";".join(RELAYED), "",
               "[%s]" % REGISTRATION_KEY.replace("HKCR", "HKEY_CLASSES_ROOT"),
               '"Transforms"=":1033.mst"', ""]
        if host:
            reg += ["[%s]" % host_key(CODE).replace("HKLM",
                                                    "HKEY_LOCAL_MACHINE"),
                    '"MervLocation"="%s"' % MODULE_DIR.replace("\\", "\\\\"),
                    ""]
        if display_version:
            reg += ["[%s]" % INSTALL_PROPERTIES.replace("HKLM",
                                                        "HKEY_LOCAL_MACHINE"),
                    '"DisplayVersion"="%s"' % display_version, ""]
        reg_file = prefix.root / "scenario.reg"
        reg_file.write_text("\r\n".join(reg), encoding="utf-16")
        result = prefix.run("regedit.exe", ["/S", prefix.win_path(reg_file)])
        self.assertEqual(result.exit_code, 0, "registry not set up")
        if module_version:
            folder = prefix.path / "drive_c" / "Corvane" / "Mervolt"
            folder.mkdir(parents=True)
            shutil.copy(self.modules[module_version], folder / "desktop.mvx")
        prefix.wait()
        query = prefix.reg(["query", INSTALL_PROPERTIES, "/v", "LocalPackage"])
        local = re.search(r"LocalPackage\s+REG_SZ\s+(\S.*)", query.stdout)
        self.assertIsNotNone(local, query.stdout)
        return prefix.unix_path(local.group(1).strip())

    def has_transforms(self, prefix):
        return prefix.reg(["query", REGISTRATION_KEY, "/v",
                           "Transforms"]).exit_code == 0

    def run_service_pack(self, prefix):
        """Runs the service pack; checks that the patch was applied to the
        product after the repairs and reported with message 301; returns the
        program's calls."""
        result = prefix.run(self.exe, timeout=240)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(result.boxes, [(
            "Installation Successful",
            "The service pack was successfully installed and %s has been "
            "updated." % NAME)])
        calls = program_calls(result.stderr)
        configure = [c for c in calls if c[0] == "MsiConfigureProductExW"]
        self.assertEqual(len(configure), 1, names(calls))
        self.assertIn('L"%s",00000000,00000005,' % CODE, configure[0][1])
        self.assertEqual(configure[0][2], 0)
        # The repairs come before the patch, the message after it.
        self.assertEqual(names(calls)[-2:],
                         ["MsiConfigureProductExW", "MessageBoxW"])
        return calls

    def repair_calls(self, calls):
        """The calls of the two repairs: those between the closing of the
        target list's summary handle and the patch call."""
        self.assertEqual(names(calls)[0], "MsiCloseHandle", names(calls))
        return calls[1:names(calls).index("MsiConfigureProductExW")]

    # -- transforms registration

    def test_different_module_version_deletes_transforms(self):
        with winerun.Prefix(self.arch) as prefix:
            self.install(prefix, module_version="16.0.1.2")
            self.assertTrue(self.has_transforms(prefix))
            calls = self.repair_calls(self.run_service_pack(prefix))
            self.assertFalse(self.has_transforms(prefix))
        self.assertEqual(names(calls), [
            "RegOpenKeyExW", "RegQueryValueExW", "GetFileVersionInfoSizeW",
            "GetFileVersionInfoW", "VerQueryValueW", "RegOpenKeyExW",
            "RegDeleteValueW", "RegCloseKey", "RegCloseKey"])
        host, _, size, data, query, reg, delete, close1, close2 = calls
        self.assertIn('80000002,', host[1])
        self.assertIn('L"%s",00000000,00000001,' %
                      host_key(CODE)[5:].replace("\\", "\\\\"), host[1])
        self.assertIn('L"C:\\\\Corvane\\\\Mervolt\\\\desktop.mvx"', size[1])
        self.assertIn('80000000,', reg[1])
        self.assertIn('L"Installer\\\\Products\\\\%s",00000000,00020006,' %
                      PACKED, reg[1])
        self.assertIn('L"Transforms"', delete[1])
        # Registry results are error codes, 0 for success; the version
        # information gives its size and then TRUE twice.
        self.assertGreater(size[2], 0)
        self.assertEqual([c[2] for c in calls],
                         [0, 0, size[2], 1, 1, 0, 0, 0, 0])
        # The registration key closes first, then the host key.
        self.assertNotEqual(close1[1], close2[1])

    def test_equal_module_version_keeps_transforms(self):
        with winerun.Prefix(self.arch) as prefix:
            self.install(prefix, module_version="9.0.43.0")
            calls = self.repair_calls(self.run_service_pack(prefix))
            self.assertTrue(self.has_transforms(prefix))
        self.assertEqual(names(calls), [
            "RegOpenKeyExW", "RegQueryValueExW", "GetFileVersionInfoSizeW",
            "GetFileVersionInfoW", "VerQueryValueW", "RegCloseKey"])

    def test_no_host_key_changes_nothing_and_patch_follows(self):
        with winerun.Prefix(self.arch) as prefix:
            self.install(prefix, module_version=None, host=False)
            calls = self.repair_calls(self.run_service_pack(prefix))
            self.assertTrue(self.has_transforms(prefix))
        # The host key cannot be opened (ERROR_FILE_NOT_FOUND): nothing else
        # touches the registry.
        self.assertEqual(names(calls), ["RegOpenKeyExW"])
        self.assertEqual(calls[0][2], 2)

    # -- cached package

    def test_letter_in_installed_version_rewrites_cached_package(self):
        with winerun.Prefix(self.arch) as prefix:
            package = self.install(prefix, module_version="9.0.43.0",
                                   display_version="9.0.43.0b")
            before = property_table(package)
            self.assertEqual(before["MERVBUILD"], "9.0.43.0b")
            calls = self.repair_calls(self.run_service_pack(prefix))
            after = property_table(package)
            # 9.0.43.0b reads as the module's 9.0.43.0: the first repair
            # leaves the registration alone.
            self.assertTrue(self.has_transforms(prefix))
        msi = [c for c in calls if c[0].startswith("Msi")]
        self.assertEqual(msi[0][0], "MsiOpenDatabaseW")
        self.assertIn(",00000001,", msi[0][1])  # MSIDBOPEN_TRANSACT
        self.assertIn('"SELECT Value FROM Property"', msi[1][1])
        sets = [c for c in msi if c[0] == "MsiRecordSetStringW"]
        modifies = [c for c in msi if c[0] == "MsiViewModify"]
        self.assertEqual(len(sets), 1)
        self.assertIn('00000001,', sets[0][1])
        self.assertIn('L"9.0.43.0"', sets[0][1])
        self.assertEqual(len(modifies), 1)
        self.assertIn(",00000004,", modifies[0][1])  # MSIMODIFY_REPLACE
        # One fetch after the write-back, then the commit and the closes:
        # view, then database.
        tail = names(msi)[names(msi).index("MsiViewModify") + 1:]
        self.assertEqual(tail, ["MsiCloseHandle", "MsiViewFetch",
                                "MsiCloseHandle", "MsiDatabaseCommit",
                                "MsiCloseHandle", "MsiCloseHandle"])
        self.assertEqual(msi[-1][1], msi[names(msi).index(
            "MsiDatabaseCommit")][1])
        # The package holds what Windows Installer made of the write-back:
        # the value replaced when it accepted it, untouched when it refused.
        expected = dict(before)
        if modifies[0][2] == 0:
            expected["MERVBUILD"] = "9.0.43.0"
        self.assertEqual(after, expected)
        print("\nMsiViewModify(MSIMODIFY_REPLACE) returned %d; MERVBUILD in "
              "the cached package after the run: %r" %
              (modifies[0][2], after["MERVBUILD"]), file=sys.stderr)

    def test_plain_installed_version_leaves_cached_package_closed(self):
        with winerun.Prefix(self.arch) as prefix:
            package = self.install(prefix, module_version="9.0.43.0")
            before = property_table(package)
            calls = self.repair_calls(self.run_service_pack(prefix))
            after = property_table(package)
        self.assertNotIn("MsiOpenDatabaseW", names(calls))
        self.assertEqual([c for c in names(calls) if c.startswith("Msi")], [])
        self.assertEqual(after, before)


if __name__ == "__main__":
    unittest.main()
