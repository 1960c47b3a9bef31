#!/usr/bin/env python3
"""Generates a backup corpus under HOME, deterministic for given sizes.

  make_corpus.py HOME SIZE_MB
      HOME/Documents: text files, binary files, a few large files and a Maildir-like folder
      of a few thousand messages, SIZE_MB in all.
  make_corpus.py HOME --messages N --docs-mb M --big-mb B
      HOME/Maildir: N messages shaped like a person's mail (threads that quote each other,
      mailing-list footers, signatures, signed headers, a few attachments);
      HOME/Documents: M MB of text and already compressed files, and one B MB file.
"""
import argparse
import base64
import os
import random
import sys

rng = random.Random(42)
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

def mail_corpus(home, messages, docs_mb, big_mb):
    people = [(f"{rng.choice(FIRST)} {rng.choice(LAST)}", f"user{i}@{rng.choice(DOMAINS)}")
              for i in range(60)]
    lists = [f"{w}-list@lists.example.org" for w in ("devel", "users", "announce")]
    store = os.path.join(home, "Maildir")
    threads = []
    for i in range(messages):
        folder = "" if i % 3 else ".Archive"
        path = os.path.join(store, folder, "cur", f"{1700000000 + i}.M{i}P1.bench:2,S")
        write(path, mail(i, people, lists, threads))
    for sub in ("new", "tmp"):
        os.makedirs(os.path.join(store, sub), exist_ok=True)
        os.makedirs(os.path.join(store, ".Archive", sub), exist_ok=True)
    docs = os.path.join(home, "Documents")
    budget = docs_mb << 20
    written, n = 0, 0
    while written < budget:
        size = rng.randint(20000, 600000)
        if n % 2:
            data = rng.randbytes(size)
        else:
            data = text(size).encode()
        write(f"{docs}/d{n % 7}/f{n:04}.{'bin' if n % 2 else 'txt'}", data)
        written, n = written + size, n + 1
    big = bytearray()
    while len(big) < big_mb << 20:
        big += text(1 << 20).encode() + rng.randbytes(1 << 18)
    write(f"{docs}/big.dat", bytes(big[:big_mb << 20]))


FIRST = "Anna Ben Carla David Eva Frank Greta Hugo Ines Jonas Karin Lukas Maria Nils".split()
LAST = "Berger Fischer Hoffmann Keller Lang Meyer Neumann Richter Schmitt Wagner".split()
DOMAINS = ["example.org", "example.com", "mail.example.net", "uni.example.edu"]


def mail(i, people, lists, threads):
    name, addr = people[i % len(people)]
    to_name, to_addr = people[(i * 7 + 3) % len(people)]
    when = f"Mon, {1 + i % 28} Jan 2024 {i % 24:02}:{i % 60:02}:00 +0100"
    on_list = lists[i % len(lists)] if i % 4 == 0 else None
    reply = threads and rng.random() < 0.6
    parent = rng.choice(threads[-40:]) if reply else None
    subject = ("Re: " + parent["subject"].removeprefix("Re: ")) if parent else \
        " ".join(rng.choice(words) for _ in range(rng.randint(2, 6))).capitalize()
    body = text(rng.randint(300, 3000))
    if parent:
        quoted = "\n".join("> " + line for line in parent["body"].splitlines()[:40])
        body += f"\n\nOn {parent['date']}, {parent['from']} wrote:\n{quoted}\n"
    body += f"\n-- \n{name}\n{rng.choice(DOMAINS)} | Phone +49 30 1234 {i % 97:02}\n"
    if on_list:
        body += (f"\n_______________________________________________\n{on_list.split('@')[0]} "
                 f"mailing list\n{on_list}\nhttps://lists.example.org/mailman/listinfo/"
                 f"{on_list.split('@')[0]}\n")
    headers = [
        f"Return-Path: <{addr}>",
        f"Received: from mx{i % 3}.example.org (mx{i % 3}.example.org [192.0.2.{i % 250}])\n"
        f"\tby mail.example.org (Postfix) with ESMTPS id {rng.randbytes(5).hex().upper()}\n"
        f"\tfor <{to_addr}>; {when}",
        f"DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d={addr.split('@')[1]};\n"
        f"\ts=mail; t={1700000000 + i}; h=from:to:subject:date:message-id;\n"
        f"\tbh={base64.b64encode(rng.randbytes(32)).decode()};\n"
        f"\tb={base64.b64encode(rng.randbytes(128)).decode()}",
        f"From: {name} <{addr}>",
        f"To: {on_list or f'{to_name} <{to_addr}>'}",
        f"Subject: {subject}",
        f"Date: {when}",
        f"Message-ID: <{i}.{rng.randbytes(4).hex()}@{addr.split('@')[1]}>",
    ]
    if parent:
        headers.append(f"In-Reply-To: {parent['id']}")
    headers += ["MIME-Version: 1.0", "Content-Type: text/plain; charset=utf-8",
                "Content-Transfer-Encoding: 8bit"]
    if on_list:
        headers.append(f"List-Id: <{on_list.replace('@', '.')}>")
    message = "\n".join(headers) + "\n\n" + body
    if i % 25 == 0:  # an attachment: base64 of something already compressed
        blob = base64.encodebytes(rng.randbytes(rng.randint(5000, 60000))).decode()
        message = message.replace("Content-Type: text/plain; charset=utf-8",
                                  'Content-Type: multipart/mixed; boundary="b1"')
        message = message.replace("\n\n", "\n\n--b1\nContent-Type: text/plain\n\n", 1)
        message += f"\n--b1\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n\n{blob}--b1--\n"
    threads.append({"subject": subject, "body": body, "date": when,
                    "from": f"{name} <{addr}>", "id": headers[7].split(": ", 1)[1]})
    return message


if len(sys.argv) > 2 and sys.argv[2].startswith("--"):
    args = argparse.ArgumentParser()
    args.add_argument("home")
    args.add_argument("--messages", type=int, default=3000)
    args.add_argument("--docs-mb", type=int, default=60)
    args.add_argument("--big-mb", type=int, default=20)
    a = args.parse_args()
    mail_corpus(a.home, a.messages, a.docs_mb, a.big_mb)
    sys.exit(0)

home, size_mb = sys.argv[1], int(sys.argv[2])
docs = os.path.join(home, "Documents")
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
