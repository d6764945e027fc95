#!/usr/bin/env python3
"""Builds the Windows Installer package OUT/quillon-VERSION-x64.msi from package/quillon.wxs.

    package_msi.py --version V --epoch SECONDS --quillon EXE --query EXE
                   --mbedtls-license FILE --out DIR [--faketime LIBFAKETIME]

It installs the files the zip ships into C:\\Program Files\\Quillon. wixl alone gives
different bytes on each run; the same inputs give the same bytes here, because
- the staged files carry EPOCH as their time (the embedded cabinet records it),
- with --faketime, wixl and msibuild run with the clock stopped at EPOCH (both write the
  current time into the summary information), and
- the product code is derived from the version and the package code (for which wixl draws
  a random one) from the version and EPOCH.
The upgrade row is widened to include its own version: Windows Installer compares only the
first three fields of ProductVersion, so a release differing from the installed one only in
the fourth would otherwise be installed beside it.
"""

import argparse
import os
import re
import subprocess
import tempfile
import time
import uuid
from pathlib import Path

from package_zip import PACKAGE_FILES, package_contents

WXS = PACKAGE_FILES / "quillon.wxs"
# The namespace of the codes derived here; never change it (the upgrade code is in WXS).
CODES = uuid.UUID("0F0FD9C4-1469-43DB-B08B-B24431801A92")
# msidbUpgradeAttributesMigrateFeatures | msidbUpgradeAttributesVersionMaxInclusive
UPGRADE_INCLUDING_ITS_VERSION = 0x001 | 0x200


def upgrade_code():
    return re.search(r'UpgradeCode="([0-9A-F-]{36})"', WXS.read_text("ascii")).group(1)


def product_code(version):
    return str(uuid.uuid5(CODES, f"product {version}")).upper()


def package_code(version, epoch):
    return str(uuid.uuid5(CODES, f"package {version} {epoch}")).upper()


def stage(folder, contents, epoch):
    for name, data, _ in contents:
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        os.utime(path, (epoch, epoch))


def tool_environment(epoch, faketime):
    env = dict(os.environ, TZ="UTC")
    if faketime:
        stopped = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(epoch))
        env.update(LD_PRELOAD=faketime, FAKETIME=stopped, FAKETIME_DONT_FAKE_MONOTONIC="1")
    return env


def write_msi(version, epoch, quillon, query, mbedtls_license, out, faketime=None):
    msi = Path(out) / f"quillon-{version}-x64.msi"
    msi.parent.mkdir(parents=True, exist_ok=True)
    env = tool_environment(epoch, faketime)
    with tempfile.TemporaryDirectory(prefix="quillon-msi.") as work:
        staged = Path(work) / "stage"
        stage(staged, package_contents(version, quillon, query, mbedtls_license), epoch)
        built = Path(work) / msi.name
        subprocess.run(["wixl", "-a", "x64", "-D", f"Version={version}",
                        "-D", f"ProductCode={product_code(version)}", "-o", str(built), str(WXS)],
                       cwd=staged, env=env, check=True)
        # (Attributes is part of the Upgrade table's key: the row is replaced, not updated.)
        row = "`Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
        widened = ("INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, "
                   f"`ActionProperty`) VALUES ('{{{upgrade_code()}}}', '{version}', "
                   f"{UPGRADE_INCLUDING_ITS_VERSION}, 'WIX_UPGRADE_DETECTED')")
        subprocess.run(["msibuild", str(built), "-q", f"DELETE FROM {row}", "-q", widened,
                        "-s", "Quillon", "Quillon", "x64;1033",
                        "{" + package_code(version, epoch) + "}"], env=env, check=True)
        built.replace(msi)
    return msi


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--version", "--quillon", "--query", "--mbedtls-license", "--out"):
        parser.add_argument(option, required=True)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--faketime", help="libfaketime.so.1, to stop the tools' clock")
    args = parser.parse_args()
    print(write_msi(args.version, args.epoch, args.quillon, args.query, args.mbedtls_license,
                    args.out, args.faketime))


if __name__ == "__main__":
    main()
