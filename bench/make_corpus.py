#!/usr/bin/env python3
"""Generates a backup corpus under HOME/Documents: text files, binary files, a few large
files and a Maildir-like folder of a few thousand messages. Deterministic for a given size."""
import os
import random
import sys

home, size_mb = sys.argv[1], int(sys.argv[2])
rng = random.Random(42)
docs = os.path.join(home, "Documents")
words = ("mail backup archive restore message folder identity settings letter report "
         "meeting budget invoice travel family photo project schedule draft").split()

def text(n):
    out, total = [], 0
    while total < n:
        line = " ".join(rng.choice(words) for _ in range(12)) + "\n"
        out.append(line)
        total += len(line)
    return "".join(out)[:n]

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())

budget = size_mb << 20
quarter = budget // 4
for i in range(max(1, quarter // 40000)):                        # text files
    write(f"{docs}/text/t{i:05}.txt", text(rng.randint(1000, 80000)))
for i in range(max(1, quarter // 200000)):                       # incompressible files
    write(f"{docs}/binary/b{i:04}.bin", rng.randbytes(rng.randint(10000, 400000)))
for i in range(3):                                                # a few large files
    write(f"{docs}/large/l{i}.dat", (text(1 << 20).encode() + rng.randbytes(1 << 18)) * max(1, quarter // (3 * 1310720)))
for i in range(max(100, quarter // 6000)):                        # messages
    body = text(rng.randint(500, 9000))
    write(f"{docs}/Maildir/cur/{1700000000 + i}.M{i}P1.bench:2,S",
          f"From: a{i % 50}@example.org\nSubject: {rng.choice(words)} {i}\n"
          f"Date: Mon, 1 Jan 2024 10:00:00 +0000\n\n{body}")
