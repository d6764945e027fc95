#!/usr/bin/env python3
"""A UDP relay between SNTP clients and one server, with faults on the way.

Receives on --listen ADDRESS:PORT, forwards each request to --server ADDRESS:PORT after
--request-delay-ms, and sends the server's answer back to the client after
--answer-delay-ms: an asymmetric path. With --answer-from ADDRESS:PORT the answer leaves
from that address and port instead of the one the client sent to (a foreign source).

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
import sys
import time


def address(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--listen", type=address, required=True)
    parser.add_argument("--server", type=address, required=True)
    parser.add_argument("--request-delay-ms", type=float, default=0.0)
    parser.add_argument("--answer-delay-ms", type=float, default=0.0)
    parser.add_argument("--answer-from", type=address)
    parser.add_argument("--log")
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
    while True:
        timeout = max(0.0, due[0][0] - time.monotonic()) if due else None
        readable, _, _ = select.select([front, back], [], [], timeout)
        now = time.monotonic()
        for sock in readable:
            data, source = sock.recvfrom(2048)
            if sock is front:
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
                sender.sendto(data, client)
                if log:
                    log.write(f"held {request_held:.3f} {held_ms:.3f}\n")


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
