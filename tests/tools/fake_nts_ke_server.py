#!/usr/bin/env python3
"""A hostile NTS key-exchange server (RFC 8915, section 4) for the tests: TLS 1.3 with ALPN
ntske/1 on loopback, one port per behaviour, all in one process.

Each BEHAVIOUR given on the command line gets a port of its own on --address; the server
prints "ready BEHAVIOUR PORT" for each and then "ready". Behaviours:
  good              NTPv4, AEAD 15, eight cookies, NTPv4 Server --ntp-server and NTPv4
                    Port --ntp-port, End of Message (it cannot export keys: no NTP follows)
  error             an Error record (1, bad request) and End of Message
  warning           a good response with a Warning record (code 0x8001) in it
  no-cookies        NTPv4 and AEAD 15 but no cookie
  aead17            AEAD algorithm 17 instead of 15
  unknown-critical  a record of an unknown type (0x4321) with the critical bit set
  length-past-data  a cookie record whose length runs past the data, then the close
  endless           records of an unknown, uncritical type, for as long as the client reads
  trickle           a good start, then a record of 60,000 bytes at five bytes a second
  closes            reads the request and closes the connection without a word
  mute              completes the handshake, reads the request, never answers
  wrong-alpn        offers only ALPN http/1.1 (the client's ntske/1 is not agreed), else good
  tls12             TLS 1.2 at most
  silent            accepts the TCP connection and never speaks TLS
  names=HOST[/PORT] a good response whose NTPv4 Server record is HOST (and Port record PORT,
                    else --ntp-port): where a hostile server may send its clients

With --request-log FILE it appends "BEHAVIOUR HEX" for each request read. Ends on SIGTERM.
"""

import argparse
import os
import signal
import socket
import ssl
import struct
import sys
import threading
import time

BEHAVIOURS = (
    "good", "error", "warning", "no-cookies", "aead17", "unknown-critical", "length-past-data",
    "endless", "trickle", "closes", "mute", "wrong-alpn", "tls12", "silent",
)
CRITICAL = 0x8000


def record(kind, body=b"", critical=True):
    return struct.pack("!HH", kind | (CRITICAL if critical else 0), len(body)) + body


def words(*values):
    return b"".join(struct.pack("!H", v) for v in values)


class Server:
    def __init__(self, options):
        self.options = options
        self.log_lock = threading.Lock()

    def context(self, behaviour):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.options.cert, self.options.key)
        if behaviour == "tls12":
            context.maximum_version = ssl.TLSVersion.TLSv1_2
        else:
            context.minimum_version = ssl.TLSVersion.TLSv1_3
        context.set_alpn_protocols(["http/1.1"] if behaviour == "wrong-alpn" else ["ntske/1"])
        return context

    def good_response(self, behaviour="good"):
        host, _, port = behaviour.partition("=")[2].partition("/")
        cookies = b"".join(record(5, os.urandom(100), critical=False) for _ in range(8))
        server = record(6, (host or self.options.ntp_server).encode("ascii"), critical=False)
        port = record(7, words(int(port or self.options.ntp_port)), critical=False)
        return record(1, words(0)) + record(4, words(15)) + cookies + server + port + record(0)

    def read_request(self, tls, behaviour):
        """Reads records up to End of Message (or the close); logs them."""
        data = b""
        while True:
            at = 0
            while len(data) - at >= 4:
                kind, length = struct.unpack_from("!HH", data, at)
                if len(data) - at - 4 < length:
                    break
                at += 4 + length
                if kind & ~CRITICAL == 0:
                    self.log(behaviour, data[:at])
                    return True
            chunk = tls.recv(4096)
            if not chunk:
                self.log(behaviour, data)
                return False
            data += chunk

    def log(self, behaviour, request):
        if self.options.request_log:
            with self.log_lock, open(self.options.request_log, "a") as out:
                out.write(f"{behaviour} {request.hex()}\n")

    def answer(self, tls, behaviour):
        good = self.good_response(behaviour)
        start = record(1, words(0)) + record(4, words(15)) + record(5, os.urandom(100), False)
        if behaviour in ("good", "wrong-alpn", "tls12") or behaviour.startswith("names="):
            tls.sendall(good)
        elif behaviour == "error":
            tls.sendall(record(2, words(1)) + record(0))
        elif behaviour == "warning":
            tls.sendall(start + record(3, words(0x8001)) + record(0))
        elif behaviour == "no-cookies":
            tls.sendall(record(1, words(0)) + record(4, words(15)) + record(0))
        elif behaviour == "aead17":
            tls.sendall(record(1, words(0)) + record(4, words(17)) + good[12:])
        elif behaviour == "unknown-critical":
            tls.sendall(start + record(0x4321) + record(0))
        elif behaviour == "length-past-data":
            tls.sendall(start + struct.pack("!HH", 5, 0x100) + os.urandom(10))
        elif behaviour == "endless":
            filler = record(0x4001, os.urandom(60), critical=False) * 64
            while True:
                tls.sendall(filler)
        elif behaviour == "trickle":
            tls.sendall(start + struct.pack("!HH", 0x4001, 60000))
            while True:
                time.sleep(0.2)
                tls.sendall(b"\x00")
        elif behaviour == "closes":
            pass
        elif behaviour == "mute":
            while tls.recv(4096):
                pass

    def handle(self, connection, behaviour):
        with connection:
            connection.settimeout(60)
            try:
                if behaviour == "silent":
                    while connection.recv(4096):
                        pass
                    return
                with self.context(behaviour).wrap_socket(connection, server_side=True) as tls:
                    if self.read_request(tls, behaviour):
                        self.answer(tls, behaviour)
                        tls.unwrap()
            except (OSError, ssl.SSLError):
                pass  # the client gave up or refused us: what these behaviours are for

    def serve(self, listener, behaviour):
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=self.handle, args=(connection, behaviour), daemon=True).start()


def behaviour_argument(text):
    if text in BEHAVIOURS or text.startswith("names="):
        return text
    raise argparse.ArgumentTypeError(f"unknown behaviour {text}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--cert", required=True, help="certificate chain (PEM), leaf first")
    parser.add_argument("--key", required=True)
    parser.add_argument("--ntp-server", default="127.0.0.1")
    parser.add_argument("--ntp-port", type=int, default=123)
    parser.add_argument("--request-log")
    parser.add_argument("--port", type=int, default=0,
                        help="the first behaviour's port (default: any free one)")
    parser.add_argument("behaviours", nargs="+", type=behaviour_argument)
    options = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    server = Server(options)
    family = socket.AF_INET6 if ":" in options.address else socket.AF_INET
    for index, behaviour in enumerate(options.behaviours):
        listener = socket.socket(family, socket.SOCK_STREAM)
        listener.bind((options.address, options.port if index == 0 else 0))
        listener.listen(16)
        threading.Thread(target=server.serve, args=(listener, behaviour), daemon=True).start()
        print(f"ready {behaviour} {listener.getsockname()[1]}", flush=True)
    print("ready", flush=True)
    signal.pause()


if __name__ == "__main__":
    main()
