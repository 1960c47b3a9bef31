#!/usr/bin/env python3
"""The mail stores of a Linux desktop's clients, laid out as each client lays them out, are
found by themselves, backed up completely and restored into a new home folder for folder and
message for message: KMail's local folders (subfolders in ".NAME.directory"), Evolution's
local Maildir++ store, and mbsync stores with SubFolders Verbatim and Legacy (one with its
Inbox outside its Path). Messages are counted per store with Python's mailbox module.
Usage: client_stores.py TINDALE_CLI"""
import mailbox
import os
import subprocess
import sys
import tempfile

CLI = sys.argv[1]


def message(subject):
    return (f"From: a@example.org\nSubject: {subject}\nMessage-ID: <{subject}@x>\n\n"
            f"body of {subject}\n").encode()


def fill(path, count, tag):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    box = mailbox.Maildir(path, create=True)
    for i in range(count):
        box.add(message(f"{tag}-{i}"))


def count(path):
    return len(mailbox.Maildir(path, create=False))


def run(home, *args, ok=(0,)):
    env = {k: v for k, v in os.environ.items()
           if k not in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "TINDALE_REGISTRY")}
    env["HOME"] = home
    done = subprocess.run([CLI, *args], env=env, capture_output=True, text=True)
    if done.returncode not in ok:
        sys.exit(f"FAIL: {' '.join(args)} exited {done.returncode}: {done.stderr}")
    return done.stdout


def build(home):
    """Every store, and the folders each holds with how many messages."""
    stores = {}
    kmail = f"{home}/.local/share/local-mail"
    fill(f"{kmail}/inbox", 4, "km-inbox")
    fill(f"{kmail}/.inbox.directory/Lists", 3, "km-lists")
    fill(f"{kmail}/.inbox.directory/.Lists.directory/Debian", 2, "km-debian")
    fill(f"{kmail}/sent-mail", 1, "km-sent")
    fill(f"{kmail}/.Archive.directory/2019", 5, "km-2019")  # Archive itself has no maildir
    stores["KMail"] = {"inbox": 4, ".inbox.directory/Lists": 3,
                       ".inbox.directory/.Lists.directory/Debian": 2, "sent-mail": 1,
                       ".Archive.directory/2019": 5}
    evo = f"{home}/.local/share/evolution/mail/local"
    fill(evo, 2, "evo-inbox")
    fill(f"{evo}/.Drafts", 1, "evo-drafts")
    fill(f"{evo}/.Projects.Tindale", 3, "evo-tindale")
    stores["Evolution"] = {".": 2, ".Drafts": 1, ".Projects.Tindale": 3}
    verbatim = f"{home}/Mail/work"
    fill(f"{verbatim}/INBOX", 2, "vb-inbox")
    fill(f"{verbatim}/Receipts", 3, "vb-receipts")
    fill(f"{verbatim}/Receipts/2024", 2, "vb-2024")
    fill(f"{verbatim}/Projects/Tindale", 1, "vb-tindale")  # Projects is only a directory
    stores["mbsync - work"] = {"INBOX": 2, "Receipts": 3, "Receipts/2024": 2,
                               "Projects/Tindale": 1}
    legacy = f"{home}/Mail/old"
    fill(f"{legacy}/Archive", 2, "lg-archive")
    fill(f"{legacy}/Archive/.2010", 1, "lg-2010")
    fill(f"{home}/Mail/old-inbox", 3, "lg-inbox")
    stores["mbsync - old"] = {"Archive": 2, "Archive/.2010": 1}
    stores["mbsync - old Inbox"] = {".": 3}
    with open(f"{home}/.mbsyncrc", "w") as rc:
        rc.write("IMAPAccount work\nHost imap.example.org\n\n"
                 "MaildirStore work\nPath ~/Mail/work/\nInbox ~/Mail/work/INBOX\n"
                 "SubFolders Verbatim\n\n"
                 "MaildirStore old\nPath \"~/Mail/old/\"\nInbox ~/Mail/old-inbox\n"
                 "SubFolders Legacy\n\nChannel work\nFar :work-remote:\nNear :work:\n")
    return stores


def main():
    with tempfile.TemporaryDirectory() as work:
        source, target = f"{work}/source", f"{work}/target"
        os.makedirs(target)
        stores = build(source)
        identities = run(source, "identity", "list")
        for name in stores:
            if f"\t{name}\t" not in identities:
                sys.exit(f"FAIL: {name} was not found by itself:\n{identities}")
        sources = run(source, "sources")
        for folder in ("KMail/Inbox/Lists/Debian", "mbsync - work/Receipts/2024",
                       "mbsync - old/Archive/2010", "Evolution/Projects/Tindale"):
            if folder not in sources:
                sys.exit(f"FAIL: {folder} is not a source:\n{sources}")
        run(source, "backup", f"{work}/all.vqz", "--source", "Message Store")
        # The new home has the same clients set up, with empty stores of their own.
        build_empty(target, source)
        run(target, "identity", "list")
        run(target, "restore", f"{work}/all.vqz")
        roots = {"KMail": ".local/share/local-mail", "Evolution": ".local/share/evolution/mail/local",
                 "mbsync - work": "Mail/work", "mbsync - old": "Mail/old",
                 "mbsync - old Inbox": "Mail/old-inbox"}
        for name, folders in stores.items():
            for folder, expected in folders.items():
                for home in (source, target):
                    got = count(os.path.join(home, roots[name], folder))
                    if got != expected:
                        sys.exit(f"FAIL: {home} {name} {folder}: {got} messages, not {expected}")
        # identity add recognises a store's kind, and refuses what is no store at all.
        os.makedirs(f"{work}/docs/letters")
        open(f"{work}/docs/letters/a.txt", "w").close()
        run(source, "identity", "add", "Docs", "--store", f"{work}/docs", ok=(2,))
        if os.path.exists(f"{work}/docs/cur"):
            sys.exit("FAIL: identity add wrote into a folder that is no mail store")
        run(source, "identity", "add", "Copy", "--store", f"{source}/Mail/work")
        listed = run(source, "identity", "list", "--json")
        if '"kind": "verbatim"' not in listed.replace('":"', '": "'):
            sys.exit(f"FAIL: the verbatim store was not recognised: {listed}")
        # A second restore adds nothing.
        run(target, "restore", f"{work}/all.vqz")
        total = sum(sum(f.values()) for f in stores.values())
        again = sum(count(os.path.join(target, roots[n], f)) for n, fs in stores.items() for f in fs)
        if again != total:
            sys.exit(f"FAIL: a second restore left {again} messages, not {total}")
    print("1 passed, 0 failed")


def build_empty(target, source):
    for d in (".local/share/local-mail", ".local/share/evolution/mail/local/cur",
              ".local/share/evolution/mail/local/new", ".local/share/evolution/mail/local/tmp",
              "Mail/work", "Mail/old", "Mail/old-inbox/cur", "Mail/old-inbox/new",
              "Mail/old-inbox/tmp"):
        os.makedirs(os.path.join(target, d), exist_ok=True)
    with open(f"{source}/.mbsyncrc") as rc, open(f"{target}/.mbsyncrc", "w") as out:
        out.write(rc.read())


main()
