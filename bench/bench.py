#!/usr/bin/env python3
"""Measures quillon-query next to the peers, the core's micro-benchmarks and the window
under Wine; prints one table and writes the figures as JSON. Run by scripts/bench, which
starts the chronyd servers and passes their addresses."""

import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import peer_clients  # noqa: E402
import report_table  # noqa: E402

TARGET_QUERY_MEDIAN_MS = 5.0
TARGET_MEAN_ERROR_MS = 0.1
TARGET_MAX_ERROR_MS = 0.6
TARGET_CHECK_MEDIAN_MS = 2.0
TARGET_CHECK_MEAN_ERROR_MS = 0.05
TARGET_CHECK_MAX_ERROR_MS = 0.2
TARGET_CHECK_THREE_EXTRA_MS = 1.0
TARGET_NTS_WALL_FACTOR = 8.0


def one_shot(clients, server, runs):
    """Wall time of whole runs, round-robin so that load hits every client alike."""
    times = {c.name: [] for c in clients}
    failures = {c.name: 0 for c in clients}
    for c in clients:
        c.run(server)  # warm the page cache and the server's client record
    for _ in range(runs):
        for c in clients:
            wall, offset, _ = c.run(server)
            if offset is None:
                failures[c.name] += 1
            else:
                times[c.name].append(wall * 1000)
    return {name: summary_ms(values, failures[name]) for name, values in times.items()}


def summary_ms(values, failures):
    if not values:
        return {"runs": 0, "failures": failures}
    return {"runs": len(values), "failures": failures, "min_ms": min(values),
            "median_ms": statistics.median(values), "max_ms": max(values)}


def accuracy(clients, server, shift, exchanges):
    """Offset errors against a server whose clock is `shift` seconds ahead."""
    errors = {c.name: [] for c in clients}
    failures = {c.name: 0 for c in clients}
    for _ in range(exchanges):
        for c in clients:
            _, offset, _ = c.run(server)
            if offset is None:
                failures[c.name] += 1
            else:
                errors[c.name].append((offset - shift) * 1000)
    result = {}
    for name, values in errors.items():
        entry = {"exchanges": len(values), "failures": failures[name]}
        if values:
            entry.update(mean_error_ms=statistics.fmean(values),
                         max_abs_error_ms=max(abs(v) for v in values),
                         stdev_ms=statistics.pstdev(values),
                         min_error_ms=min(values), max_error_ms=max(values))
        result[name] = entry
    return result


def check_runs(clients, servers, shift, runs):
    """Each client asking one server and then all of them at once, round-robin: wall time
    and offset error from the same runs."""
    cases = [(f"{c.name}, {len(group)} server{'s' if len(group) > 1 else ''}", c, group)
             for group in (servers[:1], servers) for c in clients]
    walls = {label: [] for label, _, _ in cases}
    errors = {label: [] for label, _, _ in cases}
    failures = {label: 0 for label, _, _ in cases}
    for _, c, group in cases:
        c.run(group)  # warm up
    for _ in range(runs):
        for label, c, group in cases:
            wall, offset, _ = c.run(group)
            if offset is None:
                failures[label] += 1
                continue
            walls[label].append(wall * 1000)
            errors[label].append((offset - shift) * 1000)
    result = {}
    for label, _, _ in cases:
        entry = summary_ms(walls[label], failures[label])
        if errors[label]:
            entry.update(mean_error_ms=statistics.fmean(errors[label]),
                         max_abs_error_ms=max(abs(v) for v in errors[label]),
                         stdev_ms=statistics.pstdev(errors[label]))
        result[label] = entry
    return result


def bare_start(argv, runs):
    """Wall time of a command that does nothing, started as the clients are."""
    bare = peer_clients.Client("bare", argv, None)
    return summary_ms([bare.run("")[0] * 1000 for _ in range(runs)], 0)


def core_benchmarks(bench_exe, out_dir):
    out = out_dir / "core_bench.json"
    subprocess.run([bench_exe, f"--benchmark_out={out}", "--benchmark_out_format=json",
                    "--benchmark_min_time=0.5"], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, check=True, timeout=600)
    data = json.loads(out.read_text())
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    rows = {}
    for b in data["benchmarks"]:
        factor = scale[b.get("time_unit", "ns")]
        rows[b["name"]] = {"real_ns": b["real_time"] * factor, "cpu_ns": b["cpu_time"] * factor,
                           "iterations": b["iterations"]}
    return rows


def machine():
    cpu = "?"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return {"cpu": cpu, "cores": os.cpu_count(), "kernel": platform.release(),
            "load_average": os.getloadavg(), "date_utc": time.strftime("%Y-%m-%d %H:%M:%SZ",
                                                                       time.gmtime())}


def parse_arguments(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--out", required=True, help="folder for the JSON files")
    p.add_argument("--query", required=True, help="native quillon-query")
    p.add_argument("--core-bench", required=True, help="quillon-bench (Google Benchmark)")
    p.add_argument("--peers-bin", required=True)
    p.add_argument("--plain", required=True, help="address of the unshifted chronyd (port 123)")
    p.add_argument("--shifted", required=True, help="address of the shifted chronyd (port 123)")
    p.add_argument("--shift", type=float, required=True, help="its clock error in seconds")
    p.add_argument("--also-shifted", nargs=2, required=True,
                   help="two more chronyd shifted alike, for the checks of three servers")
    p.add_argument("--nts-ca", help="CA of the shifted servers' NTS certificates: adds the "
                   "--check --nts rows (the servers serve NTS on port 4460)")
    p.add_argument("--runs", type=int, default=20)
    p.add_argument("--exchanges", type=int, default=100)
    p.add_argument("--window-exe", help="quillon.exe; the window part is skipped without it")
    p.add_argument("--auto-exe", help="quillon-auto.exe")
    p.add_argument("--wine-prefix", help="a Wine prefix of the bench's own")
    return p.parse_args(argv)


def main(argv):
    args = parse_arguments(argv)
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    clients = peer_clients.clients(args.query, args.peers_bin)
    results = {"machine": machine(), "plain_server": f"{args.plain}:123",
               "shifted_server": f"{args.shifted}:123", "shift_s": args.shift}

    print(f"one-shot queries: {args.runs} runs of each client ...", file=sys.stderr)
    results["one_shot"] = one_shot(clients, args.plain, args.runs)
    # What any process start costs here, and what the peers' wrappers (sh + setpriv) add.
    results["process_floor"] = bare_start(["/bin/true"], args.runs)
    results["wrapper_overhead"] = bare_start(
        ["sh", "-c", "exec setpriv --bounding-set -sys_time true"], args.runs)
    print(f"offset accuracy: {args.exchanges} exchanges of each client ...", file=sys.stderr)
    results["accuracy"] = accuracy(clients, args.shifted, args.shift, args.exchanges)
    print(f"checks of one and three servers: {args.exchanges} runs of each ...", file=sys.stderr)
    results["check"] = check_runs(peer_clients.check_clients(args.query, args.peers_bin, args.nts_ca),
                                  [args.shifted, *args.also_shifted], args.shift,
                                  args.exchanges)
    print("core micro-benchmarks ...", file=sys.stderr)
    results["core"] = core_benchmarks(args.core_bench, out)

    if args.window_exe and args.auto_exe:
        print("the window under Wine ...", file=sys.stderr)
        import window_bench
        results["window"] = window_bench.measure(args.window_exe, args.auto_exe,
                                                 args.wine_prefix, out)
    else:
        results["window"] = {"skipped": "build/windows has no quillon.exe or quillon-auto.exe"
                                        " (scripts/build windows)"}

    targets = {"query_median_ms": TARGET_QUERY_MEDIAN_MS,
               "offset_mean_error_ms": TARGET_MEAN_ERROR_MS,
               "offset_max_error_ms": TARGET_MAX_ERROR_MS,
               "check_median_ms": TARGET_CHECK_MEDIAN_MS,
               "check_mean_error_ms": TARGET_CHECK_MEAN_ERROR_MS,
               "check_max_error_ms": TARGET_CHECK_MAX_ERROR_MS,
               "check_three_extra_ms": TARGET_CHECK_THREE_EXTRA_MS,
               "nts_wall_factor": TARGET_NTS_WALL_FACTOR}
    targets.update(getattr(sys.modules.get("window_bench"), "TARGETS", {}))
    results["targets"] = targets
    table = report_table.render(results)
    results["table"] = table
    (out / "bench.json").write_text(json.dumps(results, indent=2) + "\n")
    (out / "bench.txt").write_text(table + "\n")
    print(table)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
