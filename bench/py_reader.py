"""The same pattern read with Python's csv module and packed with struct, as a
baseline. Prints records and the best time of several runs."""
import csv
import struct
import sys
import time

path, limit, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
fmt = {8: "<B", 16: "<h", 32: "<i"}
with open(path, newline="") as f:
    lines = f.read().splitlines(keepends=True)[:limit]
best = None
for _ in range(runs):
    start = time.perf_counter()
    buf = bytearray()
    for row in csv.reader(lines, skipinitialspace=True):
        int(row[1]); int(row[2])
        buf += struct.pack(fmt[int(row[3])], int(row[4]))
    t = time.perf_counter() - start
    best = t if best is None or t < best else best
print(len(lines), best)
