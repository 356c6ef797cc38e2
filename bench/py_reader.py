"""Baseline: the same records read with Python's csv module, the five fields
converted with int() and the values packed with struct into a bytearray.
    py_reader.py FILE RUNS N...
prints one line per N, as reader_bench does: records, bytes of text, bytes
packed, best s, median s."""
import csv
import statistics
import struct
import sys
import time

path, runs, sizes = sys.argv[1], int(sys.argv[2]), [int(n) for n in sys.argv[3:]]
packers = {8: struct.Struct("<B").pack, 16: struct.Struct("<h").pack,
           32: struct.Struct("<i").pack}
with open(path, newline="") as f:
    lines = f.readlines()

for n in sizes:
    part = lines[:n]
    size = sum(len(line) for line in part)  # ASCII: characters are bytes
    secs = []
    for _ in range(runs):
        start = time.perf_counter()
        out = bytearray()
        for row in csv.reader(part, skipinitialspace=True):
            int(row[1]), int(row[2])
            out += packers[int(row[3])](int(row[4]))
        secs.append(time.perf_counter() - start)
    secs.sort()
    print(len(part), size, len(out), f"{secs[0]:.6f}", f"{secs[len(secs) // 2]:.6f}")
