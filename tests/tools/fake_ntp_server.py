#!/usr/bin/env python3
"""A purpose-built SNTP server for the tests: a known clock error and chosen faults.

The server's clock is the host's real time plus --offset seconds. For a good answer it
stamps T2 when the request has been read, holds it --hold-ms, stamps T3 and sends;
the originate field echoes the request's transmit field, as a real server does.

--behaviour picks what it does with each request:
  good            a correct answer (stratum 2, leap indicator 0, mode 4)
  silent          never answers
  short           answers with only the first 40 bytes
  client-mode     the answer's mode is 3 (client) instead of 4
  wrong-origin    the originate field is not the request's transmit time
  zero-transmit   the transmit field (T3) is zero
  unsynchronised  leap indicator 3 (clock not synchronised)
  stratum0        stratum 0 with the kiss code --kiss (default RATE: a kiss-o'-death)
  stratum16       stratum 16 (unsynchronised by stratum)
  twice           sends the good answer twice
  other-port      sends the good answer from another UDP port of the same address
  long            a good answer padded to --length bytes (as if authenticated)

--root-delay and --root-dispersion set what the server claims of its own error; --refid-hex
sets the reference id's 4 bytes (any bytes: also a kiss code for 'stratum0').

Prints "ready ADDRESS PORT" once bound; --pidfile and --count-file (number of requests
received so far) let a test check what reached the server. With --exchange-log FILE it
appends, per answer and before sending it, "T1 T2 T3": the request's transmit time and the
server's receive and transmit times on the host's clock (Unix seconds), so that a test can
bound a client's offset by the exchange's own round trip. Ends on SIGTERM or SIGINT.
"""

import argparse
import os
import signal
import socket
import struct
import sys
import time

NTP_UNIX_EPOCH_DIFFERENCE = 2208988800  # seconds from 1900-01-01 to 1970-01-01
BEHAVIOURS = (
    "good", "silent", "short", "client-mode", "wrong-origin", "zero-transmit",
    "unsynchronised", "stratum0", "stratum16", "twice", "other-port", "long",
)


def to_ntp(unix_seconds):
    """8-byte wire form of a Unix time (seconds, fraction; era wrap modulo 2^32)."""
    whole = int(unix_seconds // 1)
    fraction = int((unix_seconds - whole) * 2**32) & 0xFFFFFFFF
    return struct.pack("!II", (whole + NTP_UNIX_EPOCH_DIFFERENCE) & 0xFFFFFFFF, fraction)


def to_short(seconds):
    """NTP short format (16.16 fixed point), saturated as a server would."""
    return min(int(seconds * 2**16), 0xFFFFFFFF)


def from_ntp(data):
    seconds, fraction = struct.unpack("!II", data)
    return seconds - NTP_UNIX_EPOCH_DIFFERENCE + fraction / 2**32


class FakeServer:
    def __init__(self, options):
        self.options = options
        self.count = 0
        family = socket.AF_INET6 if ":" in options.address else socket.AF_INET
        self.sock = socket.socket(family, socket.SOCK_DGRAM)
        self.sock.bind((options.address, options.port))
        self.other = None
        if options.behaviour == "other-port":
            self.other = socket.socket(family, socket.SOCK_DGRAM)
            self.other.bind((options.address, 0))

    def clock(self):
        return time.time() + self.options.offset

    def record_request(self):
        self.count += 1
        if self.options.count_file:
            temporary = self.options.count_file + ".tmp"
            with open(temporary, "w") as out:
                out.write(f"{self.count}\n")
            os.replace(temporary, self.options.count_file)

    def record_exchange(self, request, t2, t3):
        if self.options.exchange_log and len(request) >= 48:
            offset = self.options.offset
            with open(self.options.exchange_log, "a") as out:
                out.write(f"{from_ntp(request[40:48]):.7f} {t2 - offset:.7f} {t3 - offset:.7f}\n")

    def answer(self, request, t2, t3):
        behaviour = self.options.behaviour
        version = (request[0] >> 3) & 7 if request else 3
        leap = 3 if behaviour == "unsynchronised" else 0
        mode = 3 if behaviour == "client-mode" else 4
        stratum = {"stratum0": 0, "stratum16": 16}.get(behaviour, 2)
        reference_id = (self.options.kiss.encode("ascii").ljust(4, b"\0")[:4]
                        if behaviour == "stratum0" else bytes([127, 0, 0, 1]))
        if self.options.refid_hex:
            reference_id = bytes.fromhex(self.options.refid_hex).ljust(4, b"\0")[:4]
        originate = request[40:48] if len(request) >= 48 else bytes(8)
        if behaviour == "wrong-origin":
            seconds, fraction = struct.unpack("!II", originate)
            originate = struct.pack("!II", (seconds + 1) & 0xFFFFFFFF, fraction)
        transmit = bytes(8) if behaviour == "zero-transmit" else to_ntp(t3)
        packet = (
            struct.pack("!BBbb", (leap << 6) | (version << 3) | mode, stratum, 6, -20)
            + struct.pack("!II", to_short(self.options.root_delay),
                          to_short(self.options.root_dispersion))
            + reference_id
            + to_ntp(t2 - 16)  # reference time: last set 16 s ago
            + originate
            + to_ntp(t2)
            + transmit
        )
        if behaviour == "short":
            return packet[:40]
        if behaviour == "long":
            return packet + bytes(max(0, self.options.length - len(packet)))
        return packet

    def serve(self):
        while True:
            request, client = self.sock.recvfrom(1024)
            self.record_request()
            if self.options.behaviour == "silent":
                continue
            if self.options.delay_ms:
                time.sleep(self.options.delay_ms / 1000)
            t2 = self.clock()
            if self.options.hold_ms:
                time.sleep(self.options.hold_ms / 1000)
            t3 = self.clock()
            packet = self.answer(request, t2, t3)
            self.record_exchange(request, t2, t3)
            sender = self.other or self.sock
            sender.sendto(packet, client)
            if self.options.behaviour == "twice":
                sender.sendto(packet, client)


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=123, help="0 picks a free port")
    parser.add_argument("--offset", type=float, default=0.0,
                        help="server clock minus real time, in seconds")
    parser.add_argument("--behaviour", choices=BEHAVIOURS, default="good")
    parser.add_argument("--hold-ms", type=float, default=0.0, help="time from T2 to T3")
    parser.add_argument("--delay-ms", type=float, default=0.0,
                        help="wait before stamping T2 (a slow request path)")
    parser.add_argument("--length", type=int, default=72,
                        help="answer size for 'long' (72: with a SHA-1 digest)")
    parser.add_argument("--kiss", default="RATE", help="kiss code for 'stratum0'")
    parser.add_argument("--refid-hex", help="reference id bytes in hex (overrides --kiss)")
    parser.add_argument("--root-delay", type=float, default=256 / 2**16, help="seconds")
    parser.add_argument("--root-dispersion", type=float, default=512 / 2**16, help="seconds")
    parser.add_argument("--pidfile")
    parser.add_argument("--count-file")
    parser.add_argument("--exchange-log")
    return parser.parse_args(argv)


def main(argv):
    options = parse_arguments(argv)

    def stop(_signal, _frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        server = FakeServer(options)
    except OSError as error:
        print(f"cannot bind {options.address}:{options.port}: {error}", file=sys.stderr)
        return 1
    if options.count_file:
        server.count = -1
        server.record_request()  # the file exists, holding 0, from the start
    if options.pidfile:
        with open(options.pidfile, "w") as out:
            out.write(f"{os.getpid()}\n")
    address, port = server.sock.getsockname()[:2]
    print(f"ready {address} {port}", flush=True)
    try:
        server.serve()
    finally:
        if options.pidfile:
            try:
                os.unlink(options.pidfile)
            except FileNotFoundError:
                pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
