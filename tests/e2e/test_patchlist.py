"""The /p action under Wine: the patch list file, byte for byte.

The sample service pack (SP_EXE_I686 or SP_EXE_X64) carries one text, the
sample patchinfo206.txt. Two more service packs are assembled here the way
an author does it, from the same sources with other SERVICEPACK_TEXTS: one
with two texts and one with none.
"""

import os
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

SAMPLE_DIR = fixtures.SOURCE_DIR / "resources" / "sample"
SEPARATOR = b"*****\r\n"

ERROR = "Installation Error"
TEXT_310 = (
    "You must supply a patch list with the command line to install this "
    "service pack installation."
)
ERROR_FLAGS = 0x50010


def block(text):
    """One block of a patch list: separator line, the text, CR LF."""
    return SEPARATOR + text + b"\r\n"


def sample_exe():
    exe, arch = winerun.choose(
        os.environ.get("SP_EXE_I686", ""), os.environ.get("SP_EXE_X64", "")
    )
    if not exe.is_file():
        raise unittest.SkipTest("no service pack built at %s" % exe)
    return exe, arch


class PatchListCase(unittest.TestCase):
    """Runs in a fresh prefix with an empty working directory in drive C."""

    def setUp(self):
        self.prefix = self.enterContext(winerun.Prefix(self.arch))
        self.work = self.prefix.path / "drive_c" / "work"
        self.work.mkdir()

    def run_exe(self, exe, *args):
        result = self.prefix.run(exe, list(args), cwd=self.work, timeout=120)
        self.assertEqual(result.exit_code, 0)
        return result

    def assert_box_310(self, result):
        self.assertEqual(result.boxes, [(ERROR, TEXT_310)])
        self.assertEqual(result.boxes[0].flags, ERROR_FLAGS)

    def work_files(self):
        return sorted(p.name for p in self.work.iterdir())


class SamplePatchListTest(PatchListCase):
    @classmethod
    def setUpClass(cls):
        cls.exe, cls.arch = sample_exe()
        cls.text = (SAMPLE_DIR / "patchinfo206.txt").read_bytes()

    def test_the_same_path_twice_holds_the_block_twice(self):
        for _ in range(2):
            self.assertEqual(self.run_exe(self.exe, "/p", "out.txt").boxes, [])
        self.assertEqual(
            (self.work / "out.txt").read_bytes(), block(self.text) * 2
        )

    def test_an_existing_file_keeps_its_content(self):
        (self.work / "list.txt").write_bytes(b"earlier entry\r\n")
        self.assertEqual(self.run_exe(self.exe, "/p", "list.txt").boxes, [])
        self.assertEqual(
            (self.work / "list.txt").read_bytes(),
            b"earlier entry\r\n" + block(self.text),
        )

    def test_without_a_path_the_name_comes_from_the_first_product_code(self):
        group = fixtures.PRODUCT_CODES[0].split("-")[1]
        self.assertEqual(self.run_exe(self.exe, "/p").boxes, [])
        name = "patchlist%s.txt" % group
        self.assertEqual(self.work_files(), [name])
        self.assertEqual((self.work / name).read_bytes(), block(self.text))
        # The copy of the payload stays in the temporary directory.
        copies = list(self.prefix.temp_dir().glob("MSP*"))
        self.assertEqual(len(copies), 1, copies)
        sample = self.work.parent / "sample.msp"
        subprocess.run(
            [sys.executable, str(SAMPLE_DIR / "make_sample_msp.py"), str(sample)],
            check=True,
            timeout=60,
        )
        self.assertEqual(copies[0].read_bytes(), sample.read_bytes())

    def test_a_missing_directory_shows_message_310_and_creates_nothing(self):
        self.assert_box_310(self.run_exe(self.exe, "/p", "missing\\out.txt"))
        self.assertEqual(self.work_files(), [])

    def test_quiet_mode_shows_no_box_when_the_file_cannot_be_opened(self):
        result = self.run_exe(self.exe, "/q", "/p", "missing\\out.txt")
        self.assertEqual(result.boxes, [])
        self.assertEqual(self.work_files(), [])


class AssembledPatchListTest(PatchListCase):
    """Service packs assembled with two texts and with none."""

    # The second text has a bare LF and no line end of its own: the bytes
    # pass unchanged.
    TEXTS = [b"First=1\r\nSecond=two\r\n", b"Other=x\nno line end"]

    @classmethod
    def setUpClass(cls):
        _, cls.arch = sample_exe()
        cls.dir = Path(tempfile.mkdtemp(prefix="patchlist-e2e-"))
        try:
            texts = []
            for i, text in enumerate(cls.TEXTS):
                path = cls.dir / ("text%d.txt" % i)
                path.write_bytes(text)
                texts.append(str(path))
            cls.two_texts = cls.assemble("two", ";".join(texts))
            cls.no_text = cls.assemble("none", "")
        except BaseException:
            shutil.rmtree(cls.dir, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def assemble(cls, name, texts):
        """Builds the service pack with SERVICEPACK_TEXTS=texts; returns a
        copy of it. One build directory serves every variant, so the second
        rebuilds only the resources."""
        source = fixtures.SOURCE_DIR
        toolchain = "mingw-i686" if cls.arch is winerun.I686 else "mingw-x86_64"
        build = cls.dir / "build"
        for command in (
            [
                "cmake", "-S", str(source), "-B", str(build),
                "--toolchain", str(source / "cmake" / (toolchain + ".cmake")),
                "-DCMAKE_BUILD_TYPE=Release",
                "-DSERVICEPACK_TEXTS=" + texts,
            ],
            ["cmake", "--build", str(build), "-j2"],
        ):
            subprocess.run(command, check=True, capture_output=True, timeout=600)
        exe = cls.dir / ("servicepack-%s.exe" % name)
        shutil.copyfile(build / "servicepack.exe", exe)
        return exe

    def test_two_texts_give_two_blocks_in_id_order(self):
        self.assertEqual(self.run_exe(self.two_texts, "/p", "out.txt").boxes, [])
        self.assertEqual(
            (self.work / "out.txt").read_bytes(),
            block(self.TEXTS[0]) + block(self.TEXTS[1]),
        )

    def test_no_text_shows_message_310_and_leaves_the_file_empty(self):
        self.assert_box_310(self.run_exe(self.no_text, "/p", "out.txt"))
        self.assertEqual((self.work / "out.txt").read_bytes(), b"")

    def test_no_text_in_quiet_mode_shows_no_box(self):
        self.assertEqual(self.run_exe(self.no_text, "/q", "/p", "out.txt").boxes, [])
        self.assertEqual((self.work / "out.txt").read_bytes(), b"")


if __name__ == "__main__":
    unittest.main()
