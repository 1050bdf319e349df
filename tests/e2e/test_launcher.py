"""The administrator actions /e and /i of the real service pack under Wine.

Each test starts from a fresh prefix, runs the executable with the options an
administrator would type, and checks the message boxes, the exit code and the
files written.
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

LIST_CAPTION = "List of Products"
TARGET_LIST = ";".join(fixtures.PRODUCT_CODES)
TEMP_NAME = re.compile(r"^MSP\d+$")


class AdministratorActionsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.exe, cls.arch = winerun.choose(
            os.environ.get("SP_EXE_I686", ""), os.environ.get("SP_EXE_X64", ""))
        if not cls.exe.is_file():
            raise unittest.SkipTest("no service pack built at %s" % cls.exe)
        # The sample package is reproducible: made again, it is the payload
        # the default build carries.
        cls.work = Path(tempfile.mkdtemp(prefix="launcher-e2e-"))
        source = Path(os.environ.get("SP_SOURCE_DIR", HERE.parents[1]))
        subprocess.run([sys.executable,
                        str(source / "resources/sample/make_sample_msp.py"),
                        str(cls.work / "sample.msp")], check=True)
        cls.payload = (cls.work / "sample.msp").read_bytes()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def run(self, result=None):
        # Every test gets a fresh prefix, kept for inspection when it fails.
        with winerun.Prefix(self.arch) as self.prefix:
            self.cwd = self.prefix.user_dir() / "Work"
            self.cwd.mkdir()
            outcome = super().run(result)
            if outcome is not None and not outcome.wasSuccessful():
                self.prefix.keep = True
            return outcome

    def run_exe(self, *args):
        result = self.prefix.run(self.exe, list(args), cwd=self.cwd,
                                 timeout=120)
        self.assertEqual(result.exit_code, 0)
        return result

    def temp_copies(self):
        return sorted(p for p in self.prefix.temp_dir().iterdir()
                      if p.name.startswith("MSP"))

    def test_extract_to_path(self):
        for number, option in enumerate(("/e", "/E")):
            out = self.cwd / ("out%d.msp" % number)
            result = self.run_exe(option, out.name)
            self.assertEqual(result.boxes, [])
            self.assertEqual(out.read_bytes(), self.payload)

    def test_extract_replaces_an_existing_file(self):
        out = self.cwd / "old.msp"
        out.write_bytes(b"x" * (len(self.payload) + 4096))
        result = self.run_exe("/e", self.prefix.win_path(out))
        self.assertEqual(result.boxes, [])
        self.assertEqual(out.read_bytes(), self.payload)

    def test_extract_without_path_makes_one_temporary_copy(self):
        result = self.run_exe("/e")
        self.assertEqual(result.boxes, [])
        copies = self.temp_copies()
        self.assertEqual(len(copies), 1, copies)
        self.assertRegex(copies[0].name, TEMP_NAME)
        self.assertEqual(copies[0].read_bytes(), self.payload)
        # A second run picks a new name and keeps the first copy.
        self.run_exe("/e")
        self.assertEqual(len(self.temp_copies()), 2)

    def test_list_shows_the_whole_target_list_also_when_quiet(self):
        for args in (["/i"], ["/q", "/i"]):
            result = self.run_exe(*args)
            self.assertEqual(result.boxes, [(LIST_CAPTION, TARGET_LIST)], args)
            self.assertEqual(result.boxes[0].flags, 0x50000, args)
        # The list's copy of the payload stays in the temporary directory.
        self.assertEqual(len(self.temp_copies()), 2)

    def test_nothing_after_list_takes_effect(self):
        result = self.run_exe("/i", "/e", "x.msp", "/q")
        self.assertEqual(result.boxes, [(LIST_CAPTION, TARGET_LIST)])
        self.assertFalse((self.cwd / "x.msp").exists())

    def test_extract_then_list(self):
        result = self.run_exe("/e", "pay.msp", "/i")
        self.assertEqual(result.boxes, [(LIST_CAPTION, TARGET_LIST)])
        self.assertEqual((self.cwd / "pay.msp").read_bytes(), self.payload)

    def test_extract_into_missing_directory_writes_nothing(self):
        result = self.run_exe("/e", "C:\\no\\such\\dir\\x.msp")
        self.assertEqual(result.boxes, [])
        self.assertFalse(self.prefix.unix_path("C:\\no").exists())


if __name__ == "__main__":
    unittest.main()
