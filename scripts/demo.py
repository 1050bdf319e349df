#!/usr/bin/env python3
"""Runs the sample service pack's main job under Wine and shows what it did.

A throwaway Wine prefix gets the sample target product (the first product
code of the sample patch's list, version 9.0.43.0, Portuguese (Brazil)),
installed from a package built with wixl. The service pack then runs without
options, as an administrator would start it: it finds the product, applies
the patch and reports in the product's language. Then /i shows the products
the patch targets. Every message box is printed and saved as a screenshot.
"""

import os
import shutil
import sys
import tempfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
import fixtures  # noqa: E402
import winerun  # noqa: E402

PRODUCT = fixtures.PRODUCT_CODES[0]
NAME = "Corvane Mervolt 9"


def main():
    shots = SOURCE / "build" / "demo"
    shutil.rmtree(shots, ignore_errors=True)
    shots.mkdir(parents=True)
    cache = SOURCE / "build" / "demo-cache"
    exe, arch = winerun.choose(SOURCE / "build/windows/servicepack.exe",
                               SOURCE / "build/windows64/servicepack.exe")
    print("Service pack: %s (%s build under Wine)" % (exe, arch.name))
    if arch.name != "i686":
        print("  (this machine cannot run 32-bit code, so Wine runs the x86-64"
              " build of the same sources and resources)")
    work = Path(tempfile.mkdtemp(prefix="sp-demo-"))
    try:
        msi = work / "mervolt9.msi"
        fixtures.build_product_msi(msi, PRODUCT, "9.0.43.0", 1046, NAME)
        print("Preparing a Wine prefix (the first time takes a minute)...")
        with winerun.Prefix(arch, cache=cache) as prefix:
            installed = prefix.msiexec(["/i", prefix.win_path(msi), "/qn"],
                                       timeout=300)
            if installed.exit_code != 0:
                sys.exit("could not install the sample product")
            print("Installed %s %s, version 9.0.43.0, language 1046" %
                  (NAME, PRODUCT))
            shared = prefix.common_files_dir() / "Corvane Shared"
            shared.mkdir(parents=True, exist_ok=True)
            (shared / " B1E56000plu.cfg").write_text("plug-in settings\n")

            print("\nRunning: servicepack.exe   (no options: the install run)")
            result = prefix.run(exe, [], timeout=300, shots_dir=shots,
                                debug="+msi")
            for number, box in enumerate(result.boxes, 1):
                print("\n--- message box %d ---" % number)
                print("Caption: %s" % box.caption)
                print("Text:    %s" % box.text.replace("\n", "\n         "))
                if box.shot:
                    print("Screenshot: %s" % box.shot)
            calls = [line.split("trace:msi:", 1)[1]
                     for line in result.stderr.splitlines()
                     if "trace:msi:MsiConfigureProductExW" in line]
            print("\nWindows Installer received:")
            for call in calls:
                print("  " + call)
            gone = not (shared / " B1E56000plu.cfg").exists()
            print("Shared components file removed: %s" % ("yes" if gone else "no"))
            left = sorted(p.name for p in prefix.temp_dir().glob("MSP*"))
            print("Temporary copies of the patch left behind: %s" %
                  (", ".join(left) or "none"))
            print("Exit code: %s" % result.exit_code)

            print("\nRunning: servicepack.exe /i   (the products it targets)")
            listing = prefix.run(exe, ["/i"], timeout=120,
                                 shots_dir=shots / "list")
            for box in listing.boxes:
                print("Caption: %s" % box.caption)
                print("Text:    %s" % box.text)
                if box.shot:
                    print("Screenshot: %s" % box.shot)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
