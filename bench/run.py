#!/usr/bin/env python3
"""Runs every benchmark scenario over demo catalogues of several sizes and
prints one table. Called by scripts/bench, which builds the programs first.

Each scenario runs in its own process, so that the peak memory it reports (the
process's high-water mark) belongs to that scenario alone.
"""

import json
import os
import re
import urllib.parse
import shutil
import subprocess
import sys

build = sys.argv[1]
bench = os.path.join(build, "zeplo_bench")
tool = os.path.join(build, "zeplo-catalogue")
cache = os.environ.get("ZEPLO_BENCH_CACHE", os.path.join(build, "bench-catalogues"))
sizes = [int(s) for s in os.environ.get("ZEPLO_BENCH_SIZES", "1000 100000 1000000").split()]
# The owner's URI of a PostgreSQL server: the catalogues are then databases on it,
# filled from the same demo catalogues, and both sides read them there; through
# the delaying relay when ZEPLO_BENCH_RELAYED names the same server behind it.
server = os.environ.get("ZEPLO_BENCH_SERVER")
relayed = os.environ.get("ZEPLO_BENCH_RELAYED") or server

SCENARIOS = [
    # name, label, with a stock counterpart
    ("open", "1 open, first screen", True),
    ("ctrl_end_home", "2 Ctrl+End, Ctrl+Home", True),
    ("page_down_200", "3 200 x Page Down", True),
    ("search_common", "4 title search, common", True),
    ("search_none", "4 title search, no match", True),
    ("sort_nazev", "5 sort by title", True),
    ("sort_zanr", "5 sort by genre", True),
    ("sort_autor", "5 sort by author", True),
    ("sort_rok_vydani", "5 sort by year", True),
    ("count", "6 record count", True),
    ("append_post", "7 append + post", True),
    ("edit_post", "7 edit + post", True),
    ("report", "8 report to page store", False),
    ("report_without_controls", "8 same, no bound controls", False),
]
WRITES = {"append_post", "edit_post"}


def repetitions(name, side, n):
    # Steps of a millisecond or less move most with the shared machine's load:
    # they are repeated more, so that their medians hold still.
    if name.startswith("report"):
        return 3 if n <= 1000 else 1
    if n >= 1000000:
        slow = side == "stock" and name in ("ctrl_end_home", "append_post")
        return 3 if slow else 5 if name.startswith("sort") else 7
    return 11 if n >= 100000 else 31


def catalogue(n):
    folder = os.path.join(cache, "empty" if n == 0 else str(n))
    if not os.path.exists(os.path.join(folder, "zeplo.db")):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(cache, exist_ok=True)
        if n == 0:
            subprocess.run([tool, "create", folder], check=True, stdout=subprocess.DEVNULL)
        else:
            print(f"making a catalogue of {n} books ...", file=sys.stderr, flush=True)
            subprocess.run([tool, "demo", folder, str(n)], check=True, stdout=subprocess.DEVNULL)
    return folder


def scratch_copy(folder):
    # Writes go to a copy, so that no run changes the cached catalogues.
    work = os.path.join(cache, "scratch")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    shutil.copy(os.path.join(folder, "zeplo.db"), work)
    return work


def with_database(uri, name):
    return uri + ("&" if "?" in uri else "?") + "dbname=" + name


def without_password(uri):
    """The URI without its password, and an environment that gives it to libpq: a password on a
    command line is there for any user of the machine to read."""
    env = dict(os.environ)
    password = re.match(r"^postgres(?:ql)?://[^:/@]*:([^@]*)@", uri)
    if password:
        env["PGPASSWORD"] = urllib.parse.unquote(password.group(1))
        uri = uri[:password.start(1) - 1] + uri[password.end(1):]
    return uri, env


def psql(sql, database=None, stdin=None):
    uri, env = without_password(with_database(server, database) if database else server)
    return subprocess.run(["psql", uri, "-qXtA", "-v", "ON_ERROR_STOP=1", "-c", sql], input=stdin, check=True,
                          capture_output=True, text=True, env=env).stdout.strip()


def server_catalogue(folder, n, scratch=False):
    name = f"zeplo_bench_{n}"
    if psql(f"select count(*) from pg_database where datname = '{name}'") == "0":
        print(f"copying the catalogue of {n} books to the server ...", file=sys.stderr, flush=True)
        psql(f"CREATE DATABASE {name}")
        # Made by the catalogue tool, as a user would make it, with whatever it adds for searching.
        uri, env = without_password(with_database(server, name))
        subprocess.run([tool, "copy", folder, uri], check=True, stdout=subprocess.DEVNULL, env=env)
    if scratch:
        # Writes go to a copy, so that no run changes the kept catalogues.
        psql("DROP DATABASE IF EXISTS zeplo_bench_scratch WITH (FORCE)")
        psql(f"CREATE DATABASE zeplo_bench_scratch TEMPLATE {name}")
        name = "zeplo_bench_scratch"
    return with_database(relayed, name)


def run(name, side, folder, reps):
    """The repetitions of one scenario on one side: a list of runs, or an error."""
    env = dict(os.environ, ZEPLO_BENCH_CATALOGUE=folder, QT_QPA_PLATFORM="offscreen")
    args = [bench, f"--benchmark_filter=^{name}/{side}/", f"--benchmark_repetitions={reps}",
            "--benchmark_format=json"]
    done = subprocess.run(args, env=env, capture_output=True, text=True, cwd=cache if server else folder)
    if done.returncode != 0:
        return {"error": (done.stderr.strip().splitlines() or ["failed"])[-1]}
    runs = [b for b in json.loads(done.stdout)["benchmarks"] if b.get("run_type") == "iteration"]
    errors = [b["error_message"] for b in runs if b.get("error_occurred")]
    if errors or not runs:
        return {"error": errors[0] if errors else "no result"}
    return runs


def summary(runs):
    times = sorted(b["real_time"] for b in runs)   # milliseconds
    median = times[len(times) // 2] if len(times) % 2 else (times[len(times) // 2 - 1] + times[len(times) // 2]) / 2
    result = {"median_ms": median, "peak_mb": max(b["peak_kb"] for b in runs) / 1024}
    for key in ("lines_per_s", "pages_per_s", "first_page_ms", "pages", "trips"):
        if key in runs[0]:
            values = sorted(b[key] for b in runs)
            result[key] = values[len(values) // 2]
    return result


def ms(v):
    if v >= 1000:
        return f"{v / 1000:.2f} s"
    if v >= 10:
        return f"{v:.0f} ms"
    return f"{v:.2f} ms"


def main():
    rows = []
    plan = [(0, "open")] + [(n, s[0]) for n in sizes for s in SCENARIOS]
    labels = {s[0]: (s[1], s[2]) for s in SCENARIOS}
    for n, name in plan:
        label, has_stock = labels[name]
        folder = catalogue(n)
        print(f"{label} / {n} books ...", file=sys.stderr, flush=True)
        # The two sides take turns, a third of the repetitions at a time, so
        # that a burst of other work on the shared machine falls on both.
        sides = ("ours", "stock") if has_stock else ("ours",)
        samples = {side: [] for side in sides}
        failed = {}
        rounds = 3 if has_stock and all(repetitions(name, side, n) >= 3 for side in sides) else 1
        for _ in range(rounds):
            for side in sides:
                if side in failed:
                    continue
                if server:
                    target = server_catalogue(folder, n, name in WRITES)
                else:
                    target = scratch_copy(folder) if name in WRITES else folder
                got = run(name, side, target, -(-repetitions(name, side, n) // rounds))
                if isinstance(got, dict):
                    failed[side] = got
                else:
                    samples[side] += got
        results = {side: failed.get(side) or summary(samples[side]) for side in sides}
        rows.append((label, n, results))

    header = ["scenario", "books", "ours (median)"] + (["round trips"] if server else []) + [
        "stock Qt (median)", "stock / ours", "ours peak", "stock peak", "notes"]
    table = []
    for label, n, results in rows:
        ours, stock = results.get("ours", {}), results.get("stock")
        cells = [label, "empty" if n == 0 else f"{n:,}"]
        notes = []
        if "error" in ours:
            cells += ["error", "", "", "", ""] + ([""] if server else [])
            notes.append(ours["error"])
        else:
            cells.append(ms(ours["median_ms"]))
            if server:
                cells.append(f"{ours.get('trips', 0):,.0f}")
            if stock is None:
                cells += ["—", "—"]
            elif "error" in stock:
                cells += ["error", ""]
                notes.append("stock: " + stock["error"])
            else:
                cells += [ms(stock["median_ms"]), f"{stock['median_ms'] / ours['median_ms']:.1f} x"]
            cells.append(f"{ours['peak_mb']:.0f} MB")
            cells.append("—" if stock is None or "error" in stock else f"{stock['peak_mb']:.0f} MB")
            if "lines_per_s" in ours:
                notes.append(f"{ours['lines_per_s']:,.0f} lines/s, {ours['pages_per_s']:,.0f} pages/s, "
                             f"first page {ours['first_page_ms']:.0f} ms, {ours['pages']:,.0f} pages")
        cells.append("; ".join(notes))
        table.append(cells)

    widths = [max(len(str(r[i])) for r in table + [header]) for i in range(len(header))]
    line = lambda r: "| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in table:
        print(line(r))


main()
