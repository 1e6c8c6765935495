#!/usr/bin/env python3
"""The peer of the comma-delimited driver's benchmark: Python's csv module on the same workload.

    basic_csv_peer.py read FILE           reads every row, converting the values as a program
                                          would (int, str, float, Decimal, str)
    basic_csv_peer.py write FILE COUNT    writes COUNT rows made like the benchmark's records

Only the reading or writing loop is timed; the script prints its CPU seconds (process_time),
its wall-clock seconds, then the rows.
"""
import csv
import sys
import time
from decimal import Decimal


def record(i):
    name = "Registry name %d, north" % (i * 7919 % 1000003)
    if i % 50 == 0:
        name += ' "the" one'
    return [i, name, (i % 1000) * 1.25 + 0.5, Decimal(i % 100000) / 100,
            "Somewhere street %d, flat %d, Springfield, Oak county" % (i % 997, i % 89)]


def read(path):
    rows = 0
    with open(path, newline="", encoding="cp1251") as f:
        cpu, wall = time.process_time(), time.perf_counter()
        for row in csv.reader(f):
            int(row[0]), row[1], float(row[2]), Decimal(row[3]), row[4]
            rows += 1
        cpu, wall = time.process_time() - cpu, time.perf_counter() - wall
    return cpu, wall, rows


def write(path, count):
    records = [record(i) for i in range(1, count + 1)]
    with open(path, "w", newline="", encoding="cp1251") as f:
        writer = csv.writer(f, quoting=csv.QUOTE_NONNUMERIC)
        cpu, wall = time.process_time(), time.perf_counter()
        for r in records:
            writer.writerow(r)
        f.flush()
        cpu, wall = time.process_time() - cpu, time.perf_counter() - wall
    return cpu, wall, count


if __name__ == "__main__":
    if sys.argv[1] == "read":
        cpu, wall, rows = read(sys.argv[2])
    else:
        cpu, wall, rows = write(sys.argv[2], int(sys.argv[3]))
    print(cpu, wall, rows)
