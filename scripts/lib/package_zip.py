#!/usr/bin/env python3
"""Packs the Windows release: OUT/quillon-VERSION-win64.zip and OUT/SHA256SUMS.

    package_zip.py --version V --epoch SECONDS --quillon EXE --query EXE
                   --mbedtls-license FILE --out DIR

The zip holds one folder quillon-VERSION/ with the two programs, README.txt and
url/time.txt (from package/, with CR LF line ends and the version filled in), LICENSE.txt
(Quillon's licence, the repository's LICENSE) and LICENSE-mbedtls.txt (Mbed TLS's licence
text, which its source carries), both with CR LF.
The same inputs give the same bytes: fixed entry order, fixed permissions, and every
entry's time is EPOCH (the last commit's) in UTC. SHA256SUMS lists the zip and each
file in it, as `sha256sum -c` reads it next to the unpacked folder.
"""

import argparse
import hashlib
import time
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
PACKAGE_FILES = REPO / "package"
# The zip format's time stamps start in 1980.
EARLIEST_ZIP_TIME = 315532800


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def windows_text(path, version):
    return crlf(path.read_text("ascii").replace("@VERSION@", version))


def package_contents(version, quillon, query, mbedtls_license):
    """(name inside the folder, bytes, Unix mode) in the order they are packed."""
    return [
        ("quillon.exe", Path(quillon).read_bytes(), 0o755),
        ("quillon-query.exe", Path(query).read_bytes(), 0o755),
        ("README.txt", windows_text(PACKAGE_FILES / "README.txt", version), 0o644),
        ("LICENSE.txt", crlf((REPO / "LICENSE").read_text("ascii")), 0o644),
        ("LICENSE-mbedtls.txt", crlf(Path(mbedtls_license).read_text("ascii")), 0o644),
        ("url/time.txt", windows_text(PACKAGE_FILES / "time.txt", version), 0o644),
    ]


def entry(name, mode, epoch):
    info = zipfile.ZipInfo(name, time.gmtime(max(epoch, EARLIEST_ZIP_TIME))[:6])
    info.create_system = 3  # Unix, so that the mode below is what unzip applies
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= 0x10  # MS-DOS directory flag
    else:
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def write_package(version, epoch, quillon, query, mbedtls_license, out):
    folder = f"quillon-{version}"
    zip_path = Path(out) / f"{folder}-win64.zip"
    zip_path.parent.mkdir(parents=True, exist_ok=True)
    contents = package_contents(version, quillon, query, mbedtls_license)
    folders = sorted({f"{folder}/"} | {f"{folder}/{Path(n).parent}/" for n, _, _ in contents
                                       if "/" in n})
    with zipfile.ZipFile(zip_path, "w") as archive:
        for name in folders:
            archive.writestr(entry(name, 0o40755, epoch), b"")
        for name, data, mode in contents:
            archive.writestr(entry(f"{folder}/{name}", 0o100000 | mode, epoch), data,
                             compresslevel=9)

    sums = [(zip_path.read_bytes(), zip_path.name)]
    sums += [(data, f"{folder}/{name}") for name, data, _ in contents]
    (Path(out) / "SHA256SUMS").write_text(
        "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for data, name in sums))
    return zip_path


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--quillon", required=True)
    parser.add_argument("--query", required=True)
    parser.add_argument("--mbedtls-license", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    print(write_package(args.version, args.epoch, args.quillon, args.query,
                        args.mbedtls_license, args.out))


if __name__ == "__main__":
    main()
