"""The one-shot SNTP clients compared by the bench: how to run each and read its offset."""

import os
import re
import tempfile
import time
from dataclasses import dataclass

OUTPUT_FOLDER = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
QUILLON_OFFSET = re.compile(r"^ +(-?\d+\.\d+) seconds$", re.M)
NTPDIG_OFFSET = re.compile(r" ([+-]\d+\.\d+) \+/- \d")
CHRONYD_OFFSET = re.compile(r"System clock wrong by (-?\d+\.\d+) seconds")
CHECK_OFFSET = re.compile(r"^offset ([-+]\d+\.\d+) s ", re.M)


@dataclass
class Client:
    name: str
    command: list  # with {server} in place of the server address(es)
    offset_pattern: re.Pattern

    def run(self, server):
        """One query of one server, or of a list of them: (wall seconds, offset in seconds
        or None, output)."""
        servers = [server] if isinstance(server, str) else list(server)
        argv = []
        for part in self.command:
            argv.extend(servers if part == "{server}" else [part.replace("{server}", servers[0])])
        # posix_spawn with the output going to a file: a pipe read by subprocess costs the
        # measurement more than a whole run of the fastest client.
        with tempfile.TemporaryFile(dir=OUTPUT_FOLDER) as out:
            actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
                       (os.POSIX_SPAWN_DUP2, out.fileno(), 1),
                       (os.POSIX_SPAWN_DUP2, out.fileno(), 2)]
            started = time.perf_counter()
            pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
            _, status = os.waitpid(pid, 0)
            wall = time.perf_counter() - started
            out.seek(0)
            output = out.read().decode("latin-1")
        match = self.offset_pattern.search(output) if self.offset_pattern else None
        succeeded = os.waitstatus_to_exitcode(status) == 0
        offset = float(match.group(1)) if succeeded and match else None
        return wall, offset, output


def clients(query, peers_bin):
    """quillon-query and the peers, in table order. The peers run through the wrappers of
    scripts/peers, which drop the right to set the clock."""
    return [
        Client("quillon-query", [query, "{server}"], QUILLON_OFFSET),
        Client("ntpdig", [f"{peers_bin}/ntpdig", "{server}"], NTPDIG_OFFSET),
        Client("ntpdate -q", [f"{peers_bin}/ntpdate", "-q", "{server}"], NTPDIG_OFFSET),
        Client("chronyd -Q", [f"{peers_bin}/chronyd", "-u", "root", "-Q",
                              "server {server} iburst maxsamples 1"], CHRONYD_OFFSET),
    ]


def check_clients(query, peers_bin, nts_ca=None):
    """quillon-query --check (with NTS too, when the servers serve it and nts_ca is their
    CA) next to ntpdig, each asking the servers it is given at once."""
    clients = [
        Client("quillon-query --check", [query, "--check", "{server}"], CHECK_OFFSET),
        Client("ntpdig", [f"{peers_bin}/ntpdig", "{server}"], NTPDIG_OFFSET),
    ]
    if nts_ca:
        clients.insert(1, Client("quillon-query --check --nts",
                                 [query, "--check", "--nts", "--ca", nts_ca, "{server}"],
                                 CHECK_OFFSET))
    return clients
