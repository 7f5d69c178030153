#!/usr/bin/env python3
"""Benchmark of the simulator through the real driver (not a test): logins
per second and the tool's 1000-database catalogue listing, both driven by
the C client through unixODBC + FreeTDS. Prints numbers only.

  python3 tests/simulator/bench.py [--logins N] [--databases N] [--clients N]
"""
import argparse
import os
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from simtest import SA, Simulator, client_path  # noqa: E402

LISTING = ["open:SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES",
           "open:SELECT NAME FROM MASTER.DBO.SYSDATABASES"]
FILES = ("open:select database_id,name,physical_name AS CurrentLocation,state_desc,size "
         "from sys.master_files where database_id=db_id(N'%s');")


def bench_logins(sim, total, clients):
    """Each client process logs in again and again ("reconnect")."""
    per = max(1, total // clients)
    results = []

    def work():
        results.append(sim.client(*["reconnect"] * (per - 1), limit=300))

    started = time.monotonic()
    threads = [threading.Thread(target=work) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=300)
    elapsed = time.monotonic() - started
    ok = sum(r.connected.count(True) for r in results)
    return ok, elapsed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--logins", type=int, default=400)
    ap.add_argument("--databases", type=int, default=1000)
    ap.add_argument("--clients", type=int, default=4)
    args = ap.parse_args()
    client_path()
    fixture = {"logins": [{"name": SA[0], "password": SA[1]}],
               "databases": [{"name": "db%05d" % i} for i in range(args.databases)]}
    with Simulator(fixture) as sim:
        ok, elapsed = bench_logins(sim, args.logins, args.clients)
        print("logins: %d in %.2f s = %.0f logins/s (%d clients)"
              % (ok, elapsed, ok / elapsed, args.clients))

        started = time.monotonic()
        run = sim.client(*LISTING, limit=300)
        elapsed = time.monotonic() - started
        print("listing of %d databases (count + names, static cursor, one fetch per row): "
              "%.2f s" % (len(run[1].rows), elapsed))

        names = [r[0] for r in run[1].rows]
        started = time.monotonic()
        sim.client(*[FILES % n for n in names], limit=600)
        elapsed = time.monotonic() - started
        print("files query for each of %d databases on one connection: %.2f s (%.1f ms each)"
              % (len(names), elapsed, 1000 * elapsed / len(names)))


if __name__ == "__main__":
    main()
