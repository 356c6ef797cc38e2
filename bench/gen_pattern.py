"""Writes a test pattern of N records, CR LF line ends, as someone might build
one by hand: short plain labels, some quoted labels with a comma inside, the
three widths mixed, values spread over each width's whole range.
    gen_pattern.py N FILE"""
import random
import sys

n, path = int(sys.argv[1]), sys.argv[2]
rng = random.Random(20319)
ranges = {8: (0, 255), 16: (-32768, 32767), 32: (-2**31, 2**31 - 1)}
words = ("sync", "length", "counter", "delta", "status", "crc", "flags", "id")
with open(path, "w", newline="") as out:
    for i in range(n):
        width = rng.choice((8, 8, 16, 16, 16, 32))
        value = rng.randint(*ranges[width])
        word = rng.choice(words)
        label = f'"{word} {i}, part {i % 7}"' if rng.random() < 0.2 else f"{word}{i}"
        out.write(f"{label},{i % 100},{i % 13},{width},{value}\r\n")
