#!/usr/bin/env python3
"""Writes a Maildir++ store with N messages: half in the Inbox, half in the folder "Archive".

Usage: make_maildir.py STORE_ROOT N
Messages look like ordinary mail (Received, Date, From, To, Subject, Message-ID, a text
body of 1-6 KB); every tenth is already read (in cur/ with the S flag).
"""
import os
import random
import sys
import time


def message(i, rng):
    when = time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime(1_700_000_000 + i * 37))
    words = ["mail", "report", "meeting", "invoice", "holiday", "draft", "budget", "notes"]
    subject = " ".join(rng.choice(words) for _ in range(4)) + f" #{i}"
    body = "\n".join(" ".join(rng.choice(words) for _ in range(12)) for _ in range(rng.randint(10, 60)))
    return (f"Received: from mx.example.org by mail.example.org; {when}\n"
            f"Date: {when}\nFrom: Sender {i % 97} <s{i % 97}@example.org>\n"
            f"To: Reader <reader@example.org>\nSubject: {subject}\n"
            f"Message-ID: <{i}.bench@example.org>\n\n{body}\n").encode()


def write_maildir(path, start, count, rng, subfolder):
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(path, sub), exist_ok=True)
    if subfolder:
        open(os.path.join(path, "maildirfolder"), "w").close()
    for i in range(start, start + count):
        name = f"{1_700_000_000 + i}.M{i}P1.bench"
        target = os.path.join(path, "cur", name + ":2,S") if i % 10 == 0 else os.path.join(path, "new", name)
        with open(target, "wb") as f:
            f.write(message(i, rng))


def main():
    root, n = sys.argv[1], int(sys.argv[2])
    rng = random.Random(7)
    write_maildir(root, 0, n // 2, rng, False)
    write_maildir(os.path.join(root, ".Archive"), n // 2, n - n // 2, rng, True)


if __name__ == "__main__":
    main()
