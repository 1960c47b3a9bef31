#!/usr/bin/env python3
"""Reads and writes Maildir++ trees with Python's mailbox module, a reader nobody here wrote.
  maildir_tool.py dump ROOT     prints one line per message: folder, then the SHA-256 of its bytes
  maildir_tool.py make ROOT     writes a small tree: Inbox, Work, Work.Projects, with messages
  maildir_tool.py inbox ROOT    writes folders below the Inbox as Dovecot names them
                                (INBOX.Receipts, INBOX.Receipts.2024) and one as Inbox.Old"""
import hashlib
import mailbox
import sys

def dump(root):
    box = mailbox.Maildir(root, factory=None, create=False)
    lines = []
    def walk(folder, name):
        for key in folder.keys():
            lines.append(f"{name}\t{hashlib.sha256(folder.get_bytes(key)).hexdigest()}")
    walk(box, "INBOX")
    for name in box.list_folders():
        walk(box.get_folder(name), name)
    print("\n".join(sorted(lines)))

def make(root):
    box = mailbox.Maildir(root, create=True)
    def msg(subject, date):
        return (f"From: a@example.org\nSubject: {subject}\nDate: {date}\n\nBody of {subject}\n").encode()
    box.add(msg("hello", "Mon, 1 Jan 2024 10:00:00 +0000"))
    work = box.add_folder("Work")
    work.add(msg("Re: plan", "Tue, 2 Jan 2024 10:00:00 +0000"))
    work.add(msg("budget", "Wed, 3 Jan 2024 10:00:00 +0000"))
    projects = box.add_folder("Work.Projects")
    projects.add(msg("launch", "Thu, 4 Jan 2024 10:00:00 +0000"))

def inbox(root):
    box = mailbox.Maildir(root, create=True)
    box.add(b"From: a@example.org\nSubject: top\nDate: Mon, 1 Jan 2024 10:00:00 +0000\n\ntop\n")
    for name in ("INBOX.Receipts", "INBOX.Receipts.2024", "Inbox.Old"):
        box.add_folder(name).add(
            f"From: a@example.org\nSubject: in {name}\nDate: Mon, 1 Jan 2024 10:00:00 +0000\n\n{name}\n".encode())

{"dump": dump, "make": make, "inbox": inbox}[sys.argv[1]](sys.argv[2])
