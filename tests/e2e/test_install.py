"""The install run under Wine, with real products installed in the prefix.

Each test installs fixture products (built with wixl from product codes of
the sample patch's target list) with Wine's msiexec, then runs the service
pack without options (or with /q) and checks the message boxes, the call
that Windows Installer received (from Wine's +msi trace), the shared
components file and the temporary copy of the patch package.

Wine's Windows Installer reports success for patches it does not really
apply, so these tests check what the program passed and reported, not the
patching itself.
"""

import os
import re
import shutil
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import fixtures  # noqa: E402
import winerun  # noqa: E402

FIRST, SECOND = fixtures.PRODUCT_CODES[0], fixtures.PRODUCT_CODES[1]
NAME = "Corvane Mervolt 9"
OTHER_NAME = "Corvane Mervolt 9 Standard"

ERROR = "Installation Error"
UNNECESSARY = "Installation Unnecessary"
SUCCESS = "Installation Successful"
TEXT_301 = "The service pack was successfully installed and %s has been updated."
TEXT_306 = "Your version of %s is up-to-date and this service pack is not necessary"
TEXT_307 = (
    "The service pack could not be installed because the expected Corvane "
    "product could not be located on your computer.\nMake sure that you are "
    "using the correct service pack for the product."
)
TEXT_308 = (
    "This service pack could not be installed because it is not designed "
    "for the version of %s that is installed on your computer."
)
# Message 301 and its caption in the Portuguese (Brazil) table.
SUCCESS_1046 = "Instalação bem-sucedida"
TEXT_301_1046 = "O Service Pack foi instalado com êxito e %s foi atualizado."

SHARED_FOLDER = "Corvane Shared"
SHARED_FILE = " B1E56000plu.cfg"

_CONFIGURE = re.compile(
    r":trace:msi:MsiConfigureProductExW (L\"[^\"]*\") (-?\d+) (-?\d+) (L\".*)$"
)
_SUMMARY = re.compile(r":trace:msi:MsiGetSummaryInformationW \d+, (L\".*?\"), ")


def configure_calls(stderr):
    """(product, level, state, command line) of each MsiConfigureProductExW
    call in Wine's +msi trace."""
    calls = []
    for line in stderr.splitlines():
        m = _CONFIGURE.search(line)
        if m:
            product, _ = winerun.decode_wine_string(m.group(1))
            command, complete = winerun.decode_wine_string(m.group(4))
            assert complete, "command line cut in the trace: " + line
            calls.append((product, int(m.group(2)), int(m.group(3)), command))
    return calls


def summary_paths(stderr):
    """The package paths whose summary information the program opened."""
    return [
        winerun.decode_wine_string(m.group(1))[0]
        for m in map(_SUMMARY.search, stderr.splitlines())
        if m
    ]


class InstallRunTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.exe, cls.arch = winerun.choose(
            os.environ.get("SP_EXE_I686", ""), os.environ.get("SP_EXE_X64", "")
        )
        if not cls.exe.is_file():
            raise unittest.SkipTest("no service pack built at %s" % cls.exe)
        cls.work = Path(tempfile.mkdtemp(prefix="install-e2e-"))
        cls.packages = {}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    # -- scenario

    def package(self, code, version, language, name):
        """The fixture package of a product, built once per class."""
        key = (code, version, language, name)
        if key not in self.packages:
            path = self.work / ("product-%d.msi" % len(self.packages))
            fixtures.build_product_msi(path, code, version, language, name)
            self.packages[key] = path
        return self.packages[key]

    def install(self, prefix, code, version, language=1033, name=NAME):
        msi = self.package(code, version, language, name)
        result = prefix.msiexec(["/i", prefix.win_path(msi), "/qn"], timeout=180)
        self.assertEqual(result.exit_code, 0, "fixture %s not installed" % code)

    def set_display_version(self, prefix, code, text):
        """Sets the version text Wine's Windows Installer reports for the
        product (its VersionString), which a package cannot carry."""
        key = "HKLM\\" + fixtures.install_properties_key(code)
        result = prefix.reg(
            ["add", key, "/v", "DisplayVersion", "/t", "REG_SZ", "/d", text, "/f"]
        )
        self.assertEqual(result.exit_code, 0)

    def shared_folder(self, prefix):
        """The maker's folder in the shared-components directory, holding the
        file the program removes and a neighbour without the leading space."""
        folder = prefix.common_files_dir() / SHARED_FOLDER
        folder.mkdir(parents=True, exist_ok=True)
        (folder / SHARED_FILE).write_text("plug-in configuration\n")
        (folder / SHARED_FILE.strip()).write_text("stays\n")
        return folder

    def temporary_copies(self, prefix):
        return sorted(p.name for p in prefix.temp_dir().glob("MSP*"))

    def run_service_pack(self, prefix, args=()):
        self.assertEqual(self.temporary_copies(prefix), [])
        result = prefix.run(self.exe, list(args), timeout=240, debug="+msi")
        self.assertEqual(result.exit_code, 0)
        return result

    def assert_patched_with_payload(self, result, prefix, code):
        """Windows Installer was called once, for `code`, with PATCH set to
        the temporary copy of the package that the program read its target
        list from; that copy is gone."""
        calls = configure_calls(result.stderr)
        self.assertEqual(len(calls), 1, calls)
        product, level, state, command = calls[0]
        self.assertEqual((product, level, state), (code, 0, 5))
        m = re.fullmatch(r'PATCH="(.*)"', command)
        self.assertIsNotNone(m, command)
        payload = m.group(1)
        self.assertRegex(
            payload, r"^%s\\MSP\d+$" % re.escape(prefix.win_path(prefix.temp_dir()))
        )
        self.assertEqual(summary_paths(result.stderr), [payload])
        self.assertEqual(self.temporary_copies(prefix), [])

    # -- tests

    def test_no_target_product(self):
        with winerun.Prefix(self.arch) as prefix:
            result = self.run_service_pack(prefix)
            self.assertEqual(result.boxes, [(ERROR, TEXT_307)])
            self.assertEqual(result.boxes[0].flags, 0x50010)
            self.assertEqual(configure_calls(result.stderr), [])
            # An early end leaves the temporary copy behind.
            self.assertEqual(len(self.temporary_copies(prefix)), 1)

    def test_current_product(self):
        # The product's language is Portuguese (Brazil); the closing message
        # comes after the locale is set back, in the user's language.
        with winerun.Prefix(self.arch) as prefix:
            self.install(prefix, FIRST, "9.1.0.6", language=1046)
            folder = self.shared_folder(prefix)
            result = self.run_service_pack(prefix)
            self.assertEqual(result.boxes, [(UNNECESSARY, TEXT_306 % NAME)])
            self.assertEqual(result.boxes[0].flags, 0x50010)
            self.assertEqual(configure_calls(result.stderr), [])
            self.assertTrue((folder / SHARED_FILE).exists())
            self.assertEqual(self.temporary_copies(prefix), [])

    def test_version_text_with_commas_counts_as_current(self):
        # No package can carry "9,1,0,6" as its ProductVersion: the product is
        # installed at 9.0.43.0 and the version text that Windows Installer
        # reports for it is then set in the prefix's registry.
        with winerun.Prefix(self.arch) as prefix:
            self.install(prefix, FIRST, "9.0.43.0")
            self.set_display_version(prefix, FIRST, "9,1,0,6")
            result = self.run_service_pack(prefix)
            self.assertEqual(result.boxes, [(UNNECESSARY, TEXT_306 % NAME)])
            self.assertEqual(configure_calls(result.stderr), [])

    def test_patchable_product_in_portuguese(self):
        with winerun.Prefix(self.arch) as prefix:
            self.install(prefix, FIRST, "9.0.43.0", language=1046)
            folder = self.shared_folder(prefix)
            result = self.run_service_pack(prefix)
            self.assertEqual(result.boxes, [(SUCCESS_1046, TEXT_301_1046 % NAME)])
            self.assertEqual(result.boxes[0].flags, 0x50040)
            self.assert_patched_with_payload(result, prefix, FIRST)
            self.assertFalse((folder / SHARED_FILE).exists())
            self.assertTrue((folder / SHARED_FILE.strip()).exists())

    def test_unaccepted_version(self):
        with winerun.Prefix(self.arch) as prefix:
            self.install(prefix, FIRST, "8.0.0.0")
            result = self.run_service_pack(prefix)
            self.assertEqual(result.boxes, [(ERROR, TEXT_308 % NAME)])
            self.assertEqual(configure_calls(result.stderr), [])
            # The run reached its normal end.
            self.assertEqual(self.temporary_copies(prefix), [])

    def test_current_and_patchable_products(self):
        with winerun.Prefix(self.arch) as prefix:
            self.install(prefix, FIRST, "9.1.0.6")
            self.install(prefix, SECOND, "9.0.43.0", name=OTHER_NAME)
            folder = self.shared_folder(prefix)
            result = self.run_service_pack(prefix)
            self.assertEqual(result.boxes, [(SUCCESS, TEXT_301 % OTHER_NAME)])
            self.assert_patched_with_payload(result, prefix, SECOND)
            self.assertFalse((folder / SHARED_FILE).exists())

    def test_quiet_run_patches_without_a_box(self):
        with winerun.Prefix(self.arch) as prefix:
            self.install(prefix, FIRST, "9.0.43.0", language=1046)
            folder = self.shared_folder(prefix)
            result = self.run_service_pack(prefix, ["/q"])
            self.assertEqual(result.boxes, [])
            self.assert_patched_with_payload(result, prefix, FIRST)
            self.assertFalse((folder / SHARED_FILE).exists())


if __name__ == "__main__":
    unittest.main()
