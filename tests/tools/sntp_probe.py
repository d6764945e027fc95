#!/usr/bin/env python3
"""Asks an SNTP server for the time until it answers; an independent reference client.

Usage: sntp_probe.py ADDRESS PORT [--wait SECONDS] [--samples N]

Prints "offset SECONDS delay SECONDS stratum N leap N" for the sample with the smallest
round-trip delay and exits 0, or exits 1 when nothing answered within --wait seconds.
Used to wait for a test server to come up and to cross-check what it serves. With
--synchronised only answers with a stratum of 1 to 15 and a leap indicator other than 3 count
(a server that has just started may answer as unsynchronised first), asked at most twice a
second: ntpsec's ntpd was seen to stay unsynchronised while asked faster.
"""

import argparse
import socket
import struct
import sys
import time

NTP_UNIX_EPOCH_DIFFERENCE = 2208988800


def to_ntp(unix_seconds):
    whole = int(unix_seconds // 1)
    fraction = int((unix_seconds - whole) * 2**32) & 0xFFFFFFFF
    return struct.pack("!II", (whole + NTP_UNIX_EPOCH_DIFFERENCE) & 0xFFFFFFFF, fraction)


def from_ntp(data):
    seconds, fraction = struct.unpack("!II", data)
    return seconds - NTP_UNIX_EPOCH_DIFFERENCE + fraction / 2**32


def exchange(sock):
    """One request; (offset, delay, stratum, leap) or None when no valid answer came."""
    request = bytearray(48)
    request[0] = 0x23  # version 4, client mode
    t1 = time.time()
    request[40:48] = to_ntp(t1)
    sock.send(bytes(request))
    answer = sock.recv(1024)
    t4 = time.time()
    if len(answer) < 48 or answer[24:32] != request[40:48]:
        return None
    t2, t3 = from_ntp(answer[32:40]), from_ntp(answer[40:48])
    offset = ((t2 - t1) + (t3 - t4)) / 2
    delay = (t4 - t1) - (t3 - t2)
    return offset, delay, answer[1], answer[0] >> 6


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("address")
    parser.add_argument("port", type=int)
    parser.add_argument("--wait", type=float, default=5.0)
    parser.add_argument("--samples", type=int, default=1)
    parser.add_argument("--synchronised", action="store_true")
    options = parser.parse_args(argv)

    deadline = time.monotonic() + options.wait
    pause = 0.5 if options.synchronised else 0.05
    samples = []
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.connect((options.address, options.port))
        sock.settimeout(0.2)
        while len(samples) < options.samples and time.monotonic() < deadline:
            try:
                sample = exchange(sock)
            except (socket.timeout, ConnectionRefusedError):
                time.sleep(pause)
                continue
            if sample is not None and options.synchronised and not (
                    1 <= sample[2] <= 15 and sample[3] != 3):
                time.sleep(pause)
            elif sample is not None:
                samples.append(sample)
    if not samples:
        print(f"no answer from {options.address}:{options.port}", file=sys.stderr)
        return 1
    offset, delay, stratum, leap = min(samples, key=lambda s: s[1])
    print(f"offset {offset:.6f} delay {delay:.6f} stratum {stratum} leap {leap}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
