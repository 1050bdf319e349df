"""Self-test of the end-to-end driver, with a probe program built here."""

import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import winerun  # noqa: E402

HERE = Path(__file__).resolve().parent

# 21 product codes joined by ";": longer than Wine prints in one trace line.
LONG_LIST = ";".join("{%08X-1111-2222-3333-%012X}" % (i, i * 7)
                     for i in range(21))

# (flags, caption, text) of the boxes the probe shows, in order.
BOXES = [
    (0x50040, "Instalação concluída", "O produto foi atualizado."),
    (0x50010, 'Erro "1603"', 'Linha 1\nC:\\Temp\\x.msp "aspas" \t fim'),
    (0x0, "", "Legenda vazia: ç ü € 😀"),
    (0x50000, "List of Products", LONG_LIST),
]


def escape(text):
    """The probe's script escapes for a text field."""
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t")


class WineRunTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="winerun-test-"))
        cls.exe, cls.arch = winerun.choose(cls.work / "probe-i686.exe",
                                           cls.work / "probe-x64.exe")
        subprocess.run([cls.arch.cc, "-O2", "-municode", "-mwindows", "-o",
                        str(cls.exe), str(HERE / "probe" / "probe.c")],
                       check=True, timeout=120)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def script(self, prefix, *lines):
        """Writes a probe script; returns its Windows path."""
        path = Path(tempfile.mkstemp(suffix=".txt", dir=self.work)[1])
        path.write_text("".join(line + "\n" for line in lines),
                        encoding="utf-8")
        return prefix.win_path(path)

    def test_boxes_file_and_exit_code(self):
        shots = self.work / "shots"
        with winerun.Prefix(self.arch) as prefix:
            out = prefix.temp_dir() / "done.txt"
            script = self.script(
                prefix,
                *("box\t%x\t%s\t%s" % (f, escape(c), escape(t))
                  for f, c, t in BOXES),
                "write\t%s\tescrito ✓" % escape(prefix.win_path(out)),
                "exit\t7")
            result = prefix.run(self.exe, [script], shots_dir=shots)
            self.assertEqual(result.exit_code, 7)
            self.assertEqual(result.boxes, [(c, t) for _, c, t in BOXES])
            self.assertEqual([b.flags for b in result.boxes],
                             [f for f, _, _ in BOXES])
            self.assertEqual(out.read_text(encoding="utf-8"), "escrito ✓")
            self.assertEqual(prefix.unix_path(prefix.win_path(out).upper()),
                             out)
        shots = sorted(shots.iterdir())
        self.assertEqual([s.name for s in shots],
                         ["box-%02d.png" % i for i in range(1, 5)])
        for shot in shots:
            self.assertEqual(shot.read_bytes()[:8], b"\x89PNG\r\n\x1a\n")

    def test_arguments_reach_the_program_unchanged(self):
        args = ["a b", "Instalação", 'x"y', "C:\\dir\\", "", "/q"]
        with winerun.Prefix(self.arch) as prefix:
            out = prefix.temp_dir() / "args.txt"
            script = self.script(prefix,
                                 "args\t" + escape(prefix.win_path(out)))
            result = prefix.run(self.exe, [script, *args])
            self.assertEqual((result.exit_code, result.boxes), (0, []))
            self.assertEqual(out.read_text(encoding="utf-8"),
                             "".join(a + "\n" for a in args))

    def test_hanging_program_is_killed_at_its_timeout(self):
        with winerun.Prefix(self.arch) as prefix:
            cases = [("sleeps at once", ["sleep\tinf"], []),
                     ("sleeps after a box", ["box\t0\tAntes\tum", "sleep\tinf"],
                      [("Antes", "um")])]
            for name, lines, boxes in cases:
                with self.subTest(name):
                    script = self.script(prefix, *lines)
                    started = time.monotonic()
                    with self.assertRaises(winerun.WineTimeout) as caught:
                        prefix.run(self.exe, [script], timeout=5)
                    self.assertLess(time.monotonic() - started, 15)
                    self.assertEqual(caught.exception.boxes, boxes)
            # The killed prefix still runs programs.
            result = prefix.run(self.exe, [self.script(prefix, "exit\t3")])
            self.assertEqual(result.exit_code, 3)

    def test_unanswered_box_stops_the_run(self):
        with winerun.Prefix(self.arch) as prefix:
            script = self.script(prefix, "box\t10\tPrimeira\tum",
                                 "box\t10\tSegunda\tdois")
            result = prefix.run(self.exe, [script], answer=False)
            self.assertIsNone(result.exit_code)
            self.assertEqual(result.boxes, [("Primeira", "um")])

    def test_scenarios_start_from_a_clean_prefix(self):
        key = r"HKCU\Software\WineRunTest"
        with winerun.Prefix(self.arch) as first:
            marker = first.temp_dir() / "marker.txt"
            script = self.script(
                first, "write\t%s\tx" % escape(first.win_path(marker)))
            self.assertEqual(first.run(self.exe, [script]).exit_code, 0)
            self.assertEqual(first.reg(["add", key, "/f"]).exit_code, 0)
            self.assertEqual(first.reg(["query", key]).exit_code, 0)
            self.assertTrue(marker.exists())
        self.assertFalse(first.path.exists())
        with winerun.Prefix(self.arch) as second:
            self.assertFalse(second.unix_path(first.win_path(marker)).exists())
            self.assertNotEqual(second.reg(["query", key]).exit_code, 0)

    def test_msiexec_installs_a_package(self):
        wxs = self.work / "product.wxs"
        wxs.write_text(PRODUCT_WXS, encoding="utf-8")
        (self.work / "payload.txt").write_text("payload")
        msi = self.work / "product.msi"
        subprocess.run(["wixl", "-o", str(msi), str(wxs)], cwd=self.work,
                       check=True, timeout=120)
        with winerun.Prefix(self.arch) as prefix:
            result = prefix.msiexec(["/i", prefix.win_path(msi), "/qn"],
                                    debug="+msi", timeout=120)
            self.assertEqual((result.exit_code, result.boxes), (0, []))
            self.assertIn("trace:msi:", result.stderr)
            installed = (prefix.common_files_dir() / "WineRunProbe" /
                         "payload.txt")
            if not installed.exists():  # a 32-bit package on 64-bit Windows
                installed = prefix.unix_path(
                    r"C:\Program Files (x86)\Common Files\WineRunProbe"
                    r"\payload.txt")
            self.assertEqual(installed.read_text(), "payload")

    def test_trace_pairs_each_box_with_the_style_of_its_thread(self):
        lines = [
            '0024:Call user32.MessageBoxW(00000000,00c815dc L"a",00c815d4 '
            'L"A",00050010) ret=1400019a9',
            '0030:Call user32.MessageBoxW(00000000,00c815dc L"b",00c815d4 '
            'L"B",00000040) ret=1400019a9',
            '0030:trace:msgbox:MSGBOX_OnInit L"b"',
            "0024:fixme:imm:ImeSetActiveContext stub",
            '0024:trace:msgbox:MSGBOX_OnInit L"a\\00e7"',
            '12.345:0020:0024:trace:msgbox:MSGBOX_OnInit L"no call"...',
        ]
        path = self.work / "trace.txt"
        path.write_text("\n".join(lines[:4]) + "\n" + lines[4][:10])
        trace = winerun._Trace(path)
        trace.poll()
        self.assertEqual(trace.boxes, [("b", True, 0x40)])
        path.write_text("\n".join(lines) + "\n")
        trace.poll()
        self.assertEqual(trace.boxes, [("b", True, 0x40),
                                       ("aç", True, 0x50010),
                                       ("no call", False, None)])

    def test_decode_wine_string(self):
        cases = [
            (r'L"plain"', ("plain", True)),
            (r'L"a\nb\\c\"d\te"', ('a\nb\\c"d\te', True)),
            (r'L"Instala\00e7\00e3o"', ("Instalação", True)),
            (r'L"\d83d\de00"', ("😀", True)),
            (r'L""', ("", True)),
            (r'L"cut sho"...', ("cut sho", False)),
        ]
        for literal, expected in cases:
            with self.subTest(literal):
                self.assertEqual(winerun.decode_wine_string(literal), expected)
        for bad in ['"no L"', r'L"\zz"', 'L"open']:
            with self.subTest(bad):
                self.assertRaises(ValueError, winerun.decode_wine_string, bad)


PRODUCT_WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{A1B2C3D4-E5F6-A7B8-C9D0-E1F2A3B4C5D6}" Name="WineRun Probe"
           Language="1033" Version="1.2.3" Manufacturer="Probe"
           UpgradeCode="{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="p.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="CommonFilesFolder">
        <Directory Id="PROBEDIR" Name="WineRunProbe">
          <Component Id="Main" Guid="{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809}">
            <File Id="payload" Name="payload.txt" Source="payload.txt"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
"""

if __name__ == "__main__":
    unittest.main()
