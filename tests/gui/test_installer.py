#!/usr/bin/env python3
"""The Windows Installer package: its tables as msiinfo reads them, and under Wine, in a
prefix of its own, a silent install, upgrades in place (also by the fourth version field
alone), an older package refused over a newer one, and a removal that leaves nothing."""

import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from harness import REPO, Wine, Xvfb, require

sys.path.insert(0, str(REPO / "scripts" / "lib"))
from package_msi import write_msi  # noqa: E402

UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
EVENT_SOURCE = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quillon"
INSTALLED_QUERY = r"C:\Program Files\Quillon\quillon-query.exe"


def table(msi, name):
    """The rows of a table as msiinfo exports it (after its three header lines)."""
    out = subprocess.run(["msiinfo", "export", str(msi), name], check=True,
                         capture_output=True, text=True, timeout=60).stdout
    return [tuple(line.split("\t")) for line in out.splitlines()[3:]]


class Installer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.version = require("QUILLON_VERSION")
        cls.work = Path(tempfile.mkdtemp(prefix="quillon-msi-"))
        cls.addClassCleanup(shutil.rmtree, cls.work, True)
        major, minor, patch, build = map(int, cls.version.split("."))
        cls.same_three = f"{major}.{minor}.{patch}.{build + 1}"
        cls.higher = f"{major}.{minor}.{patch + 1}.0"
        cls.msi = {v: write_msi(v, 0, require("QUILLON_EXE"), require("QUILLON_QUERY_EXE"),
                                require("QUILLON_MBEDTLS_LICENSE"), cls.work / v)
                   for v in (cls.version, cls.same_three, cls.higher)}

    def test_tables(self):
        msi = self.msi[self.version]
        props = dict(table(msi, "Property"))
        self.assertEqual([props[p] for p in ("ProductName", "ProductVersion", "Manufacturer")],
                         ["Quillon", self.version, "Quillon"])
        higher = dict(table(self.msi[self.higher], "Property"))
        self.assertEqual(higher["UpgradeCode"], props["UpgradeCode"])
        self.assertNotEqual(higher["ProductCode"], props["ProductCode"])
        self.assertEqual(props["ProductCode"], props["ProductCode"].upper())
        self.assertEqual(sorted(table(msi, "Upgrade")), [
            (props["UpgradeCode"], "", self.version, "", "513", "", "WIX_UPGRADE_DETECTED"),
            (props["UpgradeCode"], self.version, "", "", "2", "", "WIX_DOWNGRADE_DETECTED")])
        self.assertIn("A newer version of Quillon is already installed",
                      dict(table(msi, "LaunchCondition"))["NOT WIX_DOWNGRADE_DETECTED"])

    def entries(self):
        """DisplayVersion of each uninstall entry named Quillon."""
        keys = re.split(r"\r?\n\s*\r?\n", self.wine.run("reg", "query", UNINSTALL, "/s").stdout)
        return [re.search(r"DisplayVersion\s+REG_SZ\s+(\S+)", key).group(1) for key in keys
                if re.search(r"DisplayName\s+REG_SZ\s+Quillon\s*$", key, re.M)]

    def msiexec(self, action, version):
        path = "Z:" + str(self.msi[version]).replace("/", "\\")
        return self.wine.run("msiexec", action, path, "/qn").returncode

    def test_install_upgrade_downgrade_and_removal_under_wine(self):
        xvfb = Xvfb()
        self.addCleanup(xvfb.stop)
        self.wine = Wine(xvfb.display, str(self.work / "prefix"))
        self.addCleanup(self.wine.stop)
        drive_c = self.work / "prefix" / "drive_c"
        folder = drive_c / "Program Files" / "Quillon"
        self.assertEqual(self.msiexec("/i", self.version), 0)
        self.assertEqual(sorted(str(p.relative_to(folder)) for p in folder.rglob("*")),
                         ["LICENSE-mbedtls.txt", "LICENSE.txt", "README.txt",
                          "quillon-query.exe", "quillon.exe", "url", "url/time.txt"])
        # (Wine puts the all-users Start menu entry into the user's Start menu.)
        self.assertEqual(len(list(drive_c.rglob("Quillon.lnk"))), 1)
        version = self.wine.run(INSTALLED_QUERY, "--version")
        self.assertEqual(version.stdout.strip(), f"quillon-query {self.version}", version)
        source = self.wine.run("reg", "query", EVENT_SOURCE).stdout
        self.assertRegex(source, r"EventMessageFile\s+REG_SZ\s+" + re.escape(INSTALLED_QUERY))
        self.assertRegex(source, r"TypesSupported\s+REG_DWORD\s+0x7\b")
        self.assertEqual(self.entries(), [self.version])

        for newer in (self.same_three, self.higher):
            self.assertEqual(self.msiexec("/i", newer), 0, newer)
            self.assertEqual(self.entries(), [newer])
        self.assertNotEqual(self.msiexec("/i", self.version), 0)  # the launch condition
        self.assertEqual(self.entries(), [self.higher])

        self.assertEqual(self.msiexec("/x", self.higher), 0)
        self.assertEqual(self.entries(), [])
        self.assertNotEqual(self.wine.run("reg", "query", EVENT_SOURCE).returncode, 0)
        self.assertFalse(folder.exists())
        self.assertEqual(list(drive_c.rglob("Quillon.lnk")), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
