#!/usr/bin/env python3
"""A sample client of kesmar, standing in for yours: it connects to port
20319, reads for a while, and checks that what came is test.txt's pattern,
whole block after whole block, at about one block per period.

    sample_client.py TEST_TXT PERIOD_MS [SECONDS]

Exits 0 when both hold, and 1 with a line saying what did not.
"""
import csv
import socket
import sys
import time

PORT = 20319


def pattern(test_txt):
    """The block kesmar sends: each record's value in its width (the fourth
    field, in bits), least significant byte first, in file order."""
    block = bytearray()
    with open(test_txt, newline="", encoding="utf-8") as f:
        for record in csv.reader(f):
            if record:
                width, value = int(record[3]), int(record[4])
                block += value.to_bytes(width // 8, "little", signed=value < 0)
    return bytes(block)


def receive(block, period_ms, seconds=2.0, host="127.0.0.1"):
    """Reads for that long and returns the number of whole blocks; raises
    AssertionError when a byte is not the pattern's or the rate is far off."""
    got = bytearray()
    with socket.create_connection((host, PORT), timeout=5) as s:
        end = time.monotonic() + seconds
        while (left := end - time.monotonic()) > 0:
            s.settimeout(left)
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                break
            if not chunk:
                break
            got += chunk
    whole = len(got) // len(block)
    expected = block * (whole + 1)
    if got != expected[: len(got)]:
        at = next(i for i, (a, b) in enumerate(zip(got, expected)) if a != b)
        raise AssertionError(f"byte {at} is {got[at]:#04x}, not the pattern's {expected[at]:#04x}")
    # Loose bounds: a loaded machine delays blocks, and kesmar catches up.
    want = seconds * 1000 / period_ms
    if not want / 2 <= whole <= want * 1.5 + 1:
        raise AssertionError(f"{whole} blocks in {seconds} s, not about {want:.0f}")
    return whole


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    seconds = float(sys.argv[3]) if len(sys.argv) == 4 else 2.0
    try:
        blocks = receive(pattern(sys.argv[1]), int(sys.argv[2]), seconds)
    except (AssertionError, OSError) as e:
        print(f"sample_client: {e}", file=sys.stderr)
        sys.exit(1)
    print(f"sample_client: {blocks} whole blocks of the pattern")
