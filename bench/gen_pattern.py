"""Writes a test pattern of N records: a mix of plain and quoted labels and
all three widths, CR LF line ends."""
import random
import sys

n = int(sys.argv[1])
rng = random.Random(20319)
with open(sys.argv[2], "w", newline="") as out:
    for i in range(n):
        width = (8, 16, 32)[i % 3]
        value = {8: rng.randint(0, 255), 16: rng.randint(-32768, 32767),
                 32: rng.randint(-2**31, 2**31 - 1)}[width]
        label = f'"field {i}, part {i % 7}"' if i % 5 == 0 else f"f{i}"
        out.write(f"{label},{i % 100},{i % 13},{width},{value}\r\n")
