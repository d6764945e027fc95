#!/usr/bin/env python3
"""The Windows package as a user gets it: the zip packed (as scripts/package packs it) from
this tree's programs, unpacked into an empty folder. Its listing and checksums, the Mbed TLS
licence it ships, the version the programs carry, quillon.exe started there offering the
shipped url\\time.txt, and quillon-query.exe from there asking a local fake server on a free
port."""

import hashlib
import re
import struct
import subprocess
import sys
import unittest
import zipfile
from pathlib import Path

from harness import (IDCANCEL, REPO, RETRIEVED, WindowTest, lookup_line, pane_lines,
                     require)

PACK = REPO / "scripts" / "lib" / "package_zip.py"
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def utf16(text):
    """A regular expression matching `text` as the version record stores it."""
    return re.escape(text.encode("utf-16-le"))


class Package(WindowTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.version = require("QUILLON_VERSION")
        dist = Path(cls.work) / "dist"
        subprocess.run([sys.executable, str(PACK), "--version", cls.version, "--epoch", "0",
                        "--quillon", cls.exe, "--query", require("QUILLON_QUERY_EXE"),
                        "--mbedtls-license", require("QUILLON_MBEDTLS_LICENSE"),
                        "--out", str(dist)], check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, timeout=60)
        cls.zip = dist / f"quillon-{cls.version}-win64.zip"
        cls.sums = (dist / "SHA256SUMS").read_text()
        unpacked = Path(cls.work) / "unpacked"
        unpacked.mkdir()
        with zipfile.ZipFile(cls.zip) as archive:
            cls.names = archive.namelist()
            archive.extractall(unpacked)
        cls.folder = unpacked / f"quillon-{cls.version}"

    def test_listing_checksums_and_line_ends(self):
        top = f"quillon-{self.version}/"
        self.assertEqual(self.names, [top, top + "url/", top + "quillon.exe",
                                      top + "quillon-query.exe", top + "README.txt",
                                      top + "LICENSE.txt", top + "LICENSE-mbedtls.txt",
                                      top + "url/time.txt"])
        files = {self.zip.name: self.zip.read_bytes()}
        files.update({n: (self.folder.parent / n).read_bytes() for n in self.names
                      if not n.endswith("/")})
        self.assertEqual(self.sums, "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                                            for name, data in files.items()))
        for text in ("README.txt", "LICENSE.txt", "LICENSE-mbedtls.txt", "url/time.txt"):
            data = (self.folder / text).read_bytes()
            self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), text)
        self.assertIn(f"Quillon {self.version} for Windows".encode(),
                      (self.folder / "README.txt").read_bytes())

    def test_licences_are_shipped_whole_and_named(self):
        readme = (self.folder / "README.txt").read_bytes()
        for name, source, words in (
                ("LICENSE-mbedtls.txt", require("QUILLON_MBEDTLS_LICENSE"), b"Apache License"),
                ("LICENSE.txt", REPO / "LICENSE", b"MIT License")):
            shipped = (self.folder / name).read_bytes()
            source = Path(source).read_bytes()
            self.assertEqual(shipped, source.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))
            self.assertIn(words, shipped)
            self.assertIn(name.encode(), readme)
        self.assertIn(b"Mbed TLS", readme)

    def test_window_carries_the_project_version(self):
        data = (self.folder / "quillon.exe").read_bytes()
        numbers = [int(n) for n in self.version.split(".")]
        at = data.index(FIXED_FILE_INFO_SIGNATURE)
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", data, at + 8)
        self.assertEqual((file_ms, file_ls), (numbers[0] << 16 | numbers[1],
                                              numbers[2] << 16 | numbers[3]))
        self.assertEqual((product_ms, product_ls), (file_ms, file_ls))
        text = ", ".join(map(str, numbers))
        for key in ("FileVersion", "ProductVersion"):  # UTF-16 key, alignment, UTF-16 value
            pattern = utf16(key + "\0") + b"(?:\0\0)?" + utf16(text + "\0")
            self.assertIsNotNone(re.search(pattern, data), key)
        self.assertIn(f'name="Quillon" version="{self.version}"'.encode(), data)

    def test_window_offers_the_shipped_server_list(self):
        shipped = (self.folder / "url" / "time.txt").read_text("ascii").splitlines()
        servers = [line for line in shipped if not line.startswith("#")]
        app = self.launch(exe=str(self.folder / "quillon.exe"), cwd=self.folder)
        count, selected, items = self.auto.combo_list()
        self.assertEqual((items, selected), (servers, 0))
        self.assertEqual(items[0], "pool.ntp.org")
        self.auto.click(IDCANCEL)
        self.assertEqual(app.wait_exit(10), 0)
        self.assert_no_crash_text(app)

    def query(self, *args):
        return subprocess.run(["wine", str(self.folder / "quillon-query.exe"), *args],
                              cwd=self.folder, env=self.wine.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)

    def test_query_asks_a_server_on_another_port(self):
        server = self.fake_server(port=0, offset=3.5)
        result = self.query(server.address, "--port", str(server.port))
        self.assertEqual(result.returncode, 0, result)
        lines = pane_lines(result.stdout.decode("ascii"))
        self.assertEqual(lines[:2], [lookup_line(server.address), RETRIEVED], lines)
        self.assertAlmostEqual(float(lines[5].split()[0]), 3.5, delta=0.05)
        self.assertEqual(server.requests, 1)
        usage = self.query("--port", str(server.port))
        self.assertEqual(usage.returncode, 2, usage)
        self.assertIn(b"try 'quillon-query --help'", usage.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
