#!/usr/bin/env python3
"""A UDP relay between SNTP clients and one server, with faults on the way.

Receives on --listen ADDRESS:PORT, forwards each request to --server ADDRESS:PORT after
--request-delay-ms, and sends the server's answer back to the client after
--answer-delay-ms: an asymmetric path. With --answer-from ADDRESS:PORT the answer leaves
from that address and port instead of the one the client sent to (a foreign source).

With --tamper it spoils what it passes back, as a hostile path would: "flip" changes one bit
of the answer's transmit time, "strip" drops everything after the first 48 bytes (the NTS
extension fields), "replay" passes the first answer, then sends it again in place of every
later one, "nak" answers without asking the server: an NTS NAK (Kiss-o'-Death NTSN that
echoes the request's Unique Identifier field), and "nak-first" sends that NAK at once and
then passes the request on (a forger quicker than the server).

Prints "ready" once bound. With --log FILE it appends, per answered exchange, the time each
datagram was really held: "held REQUEST_MS ANSWER_MS" (monotonic clock), so that a test
can compare the client's delay and offset with what the path actually did.
"""

import argparse
import heapq
import itertools
import select
import signal
import socket
import struct
import sys
import time


def address(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


UNIQUE_IDENTIFIER = 0x0104


def unique_identifier_field(request):
    """The request's Unique Identifier extension field, whole; empty when it has none."""
    at = 48
    while at + 4 <= len(request):
        kind, length = struct.unpack("!HH", request[at:at + 4])
        if length < 4 or at + length > len(request):
            break
        if kind == UNIQUE_IDENTIFIER:
            return request[at:at + length]
        at += length
    return b""


def nak(request):
    """An NTS NAK to request: stratum 0, code NTSN, its transmit field echoed."""
    header = struct.pack("!BBbb", 0x24, 0, 6, -20) + bytes(8) + b"NTSN" + bytes(8)
    return header + request[40:48] + bytes(16) + unique_identifier_field(request)


def tamper(kind, answer, first):
    if kind == "flip":
        return answer[:47] + bytes([answer[47] ^ 1]) + answer[48:]
    if kind == "strip":
        return answer[:48]
    if kind == "replay":
        return first
    return answer


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--listen", type=address, required=True)
    parser.add_argument("--server", type=address, required=True)
    parser.add_argument("--request-delay-ms", type=float, default=0.0)
    parser.add_argument("--answer-delay-ms", type=float, default=0.0)
    parser.add_argument("--answer-from", type=address)
    parser.add_argument("--log")
    parser.add_argument("--tamper", choices=("flip", "strip", "replay", "nak", "nak-first"))
    options = parser.parse_args(argv)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    front.bind(options.listen)
    back = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    back.bind((options.server[0], 0))
    sender = front
    if options.answer_from:
        sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sender.bind(options.answer_from)
    log = open(options.log, "a", buffering=1) if options.log else None
    print("ready", flush=True)

    # Requests and answers waiting for their time: (due, sequence, kind, data, client, held).
    due = []
    order = itertools.count()
    clients = {}  # the request's transmit field -> (client, request hold in ms)
    first = None  # the first answer from the server, for --tamper replay
    while True:
        timeout = max(0.0, due[0][0] - time.monotonic()) if due else None
        readable, _, _ = select.select([front, back], [], [], timeout)
        now = time.monotonic()
        for sock in readable:
            data, source = sock.recvfrom(2048)
            if sock is front and options.tamper in ("nak", "nak-first"):
                front.sendto(nak(data), source)
            if sock is front and options.tamper == "nak":
                pass
            elif sock is front:
                heapq.heappush(due, (now + options.request_delay_ms / 1000, next(order),
                                     "request", data, source, now))
            elif len(data) >= 48 and data[24:32] in clients:
                heapq.heappush(due, (now + options.answer_delay_ms / 1000, next(order),
                                     "answer", data, data[24:32], now))
        while due and due[0][0] <= time.monotonic():
            _, _, kind, data, who, received = heapq.heappop(due)
            sent = time.monotonic()
            held_ms = (sent - received) * 1000
            if kind == "request":
                back.sendto(data, options.server)
                clients[data[40:48]] = (who, held_ms)
            else:
                client, request_held = clients.pop(who)
                first = first or data
                sender.sendto(tamper(options.tamper, data, first), client)
                if log:
                    log.write(f"held {request_held:.3f} {held_ms:.3f}\n")


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
