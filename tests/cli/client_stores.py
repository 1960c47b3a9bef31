#!/usr/bin/env python3
"""The mail stores of a Linux desktop's clients, laid out as each client lays them out, are
found by themselves, backed up completely and restored into a new home folder for folder and
message for message: KMail's local folders (subfolders in ".NAME.directory"), Evolution's
local Maildir++ store, and mbsync stores with SubFolders Verbatim and Legacy (one with its
Inbox outside its Path). Messages are counted per store with Python's mailbox module.
Thunderbird's mbox folders come back byte for byte, into Thunderbird and into a Maildir, a
running Thunderbird's profile is never written, and duplicates leave the rest untouched.
Usage: client_stores.py TINDALE_CLI"""
import mailbox
import os
import re
import subprocess
import shutil
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
        thunderbird(work)
        thunderbird_maildir(work)
        for home in (source, target, f"{work}/tb-source", f"{work}/tb-target",
                     f"{work}/tbm-source", f"{work}/tbm-target"):
            ours = [os.path.join(d, n) for d, _, names in os.walk(home) for n in names
                    if "tindale" in n and "/.local/share/tindale" not in d]
            if ours:
                sys.exit(f"FAIL: files of ours in the mail folders: {ours[:5]}")
    print("3 passed, 0 failed")


def build_empty(target, source):
    for d in (".local/share/local-mail", ".local/share/evolution/mail/local/cur",
              ".local/share/evolution/mail/local/new", ".local/share/evolution/mail/local/tmp",
              "Mail/work", "Mail/old", "Mail/old-inbox/cur", "Mail/old-inbox/new",
              "Mail/old-inbox/tmp"):
        os.makedirs(os.path.join(target, d), exist_ok=True)
    with open(f"{source}/.mbsyncrc") as rc, open(f"{target}/.mbsyncrc", "w") as out:
        out.write(rc.read())


def mbox_messages(path):
    """Each message's bytes without the state lines an mbox writer adds, with the state
    Thunderbird reads from them."""
    out = []
    box = mailbox.mbox(path, create=False)
    for key in box.keys():
        data = bytes(box.get_bytes(key))
        head, sep, body = data.partition(b"\n\n")
        status = re.search(rb"^X-Mozilla-Status: ([0-9a-f]{4})", head, re.M)
        head = re.sub(rb"(?m)^(X-Mozilla-(Status2?|Keys)|Status|X-Status):.*\n?", b"", head + b"\n")
        out.append((head[:-1] + sep + body, int(status.group(1), 16) if status else 0))
    return out


def unquote_mboxrd(stored):
    """A message as an mboxrd reader (Thunderbird, mutt) gives it: one ">" off ">+From " lines."""
    return re.sub(rb"(?m)^>(>*From )", rb"\1", stored)


def tb_message(i, status=None):
    state = f"X-Mozilla-Status: {status:04x}\nX-Mozilla-Status2: 00000000\n" if status is not None else ""
    return (state + f"From: a@example.org\nSubject: tb {i}\nMessage-ID: <tb{i}@x>\n"
            f"Date: Mon, 1 Jan 2024 10:00:00 +0000\n\nbody {i}\nFrom the start of a line\n"
            ">From a quoted line\n").encode()


def thunderbird_profile(home, fill_it):
    base = f"{home}/.thunderbird"
    profile = f"{base}/abcd.default-release"
    local = f"{profile}/Mail/Local Folders"
    pop = f"{profile}/Mail/pop.example.org"
    for d in (f"{local}/Inbox.sbd", pop, f"{profile}/ImapMail/imap.example.org"):
        os.makedirs(d, exist_ok=True)
    with open(f"{base}/profiles.ini", "w") as ini:
        ini.write("[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=default-release\n"
                  "IsRelative=1\nPath=abcd.default-release\nDefault=1\n")
    open(f"{local}/msgFilterRules.dat", "w").write('version="9"\n')
    if fill_it:
        for path, numbers in ((f"{local}/Inbox", range(0, 5)), (f"{local}/Inbox.sbd/Lists", range(5, 8)),
                              (f"{pop}/Inbox", range(8, 10)),
                              (f"{profile}/ImapMail/imap.example.org/INBOX", range(10, 11))):
            box = mailbox.mbox(path)
            for i in numbers:
                box.add(tb_message(i, [None, 0x1, 0x5, 0x3][i % 4]))
            box.flush()
        open(f"{local}/Inbox.msf", "w").write("// an index\n")
        open(f"{local}/Trash", "w").close()
    else:  # as Thunderbird sets up the accounts on a new computer: empty Inboxes
        open(f"{local}/Inbox", "w").close()
        open(f"{pop}/Inbox", "w").close()
    return local, pop


def thunderbird(work):
    source, target, maildir = f"{work}/tb-source", f"{work}/tb-target", f"{work}/tb-maildir"
    local, pop = thunderbird_profile(source, True)
    listed = run(source, "identity", "list")
    for name in ("Thunderbird - Local Folders", "Thunderbird - pop.example.org"):
        if f"\t{name}\t" not in listed:
            sys.exit(f"FAIL: {name} was not found by itself:\n{listed}")
    if "imap.example.org" in listed:
        sys.exit("FAIL: an IMAP cache was taken for local mail")
    run(source, "backup", f"{work}/tb.vqz", "--source", "Message Store")
    folders = ("Inbox", "Inbox.sbd/Lists")
    # Into Thunderbird on a new computer: the same bytes, folder for folder, twice restored once.
    t_local, t_pop = thunderbird_profile(target, False)
    # A second profile, listed first: its accounts are named for it, and nothing goes there.
    aud = f"{target}/.thunderbird/efgh.aud/Mail"
    for account in ("Local Folders", "pop.example.org"):
        os.makedirs(f"{aud}/{account}")
        open(f"{aud}/{account}/Inbox", "w").close()
    with open(f"{target}/.thunderbird/profiles.ini", "w") as ini:
        ini.write("[Profile1]\nName=aud\nIsRelative=1\nPath=efgh.aud\n\n"
                  "[Profile0]\nName=default-release\nIsRelative=1\nPath=abcd.default-release\n\n"
                  "[Install4F96D1932A9F858E]\nDefault=abcd.default-release\nLocked=1\n")
    listed = run(target, "identity", "list")
    for name in ("Thunderbird - Local Folders", "Thunderbird (aud) - Local Folders"):
        if f"\t{name}\t" not in listed:
            sys.exit(f"FAIL: with two profiles, {name} was not found:\n{listed}")
    for attempt in range(2):
        run(target, "restore", f"{work}/tb.vqz")
        for folder in folders:
            if mbox_messages(f"{t_local}/{folder}") != mbox_messages(f"{local}/{folder}"):
                sys.exit(f"FAIL: restore {attempt + 1}: {folder} differs from the original")
        if mbox_messages(f"{t_pop}/Inbox") != mbox_messages(f"{pop}/Inbox"):
            sys.exit(f"FAIL: restore {attempt + 1}: the POP account's Inbox differs")
    for account in ("Local Folders", "pop.example.org"):
        if os.path.getsize(f"{aud}/{account}/Inbox") != 0:
            sys.exit(f"FAIL: mail went into the other profile's {account}")
    # The profile lost its Mail folder: the accounts' folders come back with their mail.
    shutil.rmtree(os.path.dirname(t_local))
    run(target, "restore", f"{work}/tb.vqz")
    for folder in folders:
        if mbox_messages(f"{t_local}/{folder}") != mbox_messages(f"{local}/{folder}"):
            sys.exit(f"FAIL: after losing Mail: {folder} differs from the original")
    if mbox_messages(f"{t_pop}/Inbox") != mbox_messages(f"{pop}/Inbox"):
        sys.exit("FAIL: after losing Mail: the POP account's Inbox differs")
    # Into a Maildir: every message, read mail marked seen.
    for d in ("cur", "new", "tmp"):
        os.makedirs(f"{maildir}/Maildir/{d}")
    run(maildir, "restore", f"{work}/tb.vqz", "--identity", "Main Identity", ok=(0, 1))
    box = mailbox.Maildir(f"{maildir}/Maildir", create=False)
    total = sum(1 for _ in box) + sum(len(box.get_folder(f)) for f in box.list_folders())
    if total != 10:
        sys.exit(f"FAIL: {total} of 10 messages restored into the Maildir")
    seen = sum("S" in m.get_flags() for m in box)
    if seen == 0:
        sys.exit("FAIL: no message restored into the Maildir is marked seen")
    # A running Thunderbird's profile is read, never written.
    import fcntl
    profile = os.path.dirname(os.path.dirname(t_local))
    before = open(f"{t_local}/Inbox", "rb").read()
    with open(f"{profile}/.parentlock", "w") as lock:
        fcntl.lockf(lock, fcntl.LOCK_EX)
        env = dict(os.environ, HOME=target)
        done = subprocess.run([CLI, "restore", f"{work}/tb.vqz", "--clear-identity", "--identity",
                               "Thunderbird - Local Folders"],
                              env=env, capture_output=True, text=True)
        if done.returncode == 0 or "Thunderbird has the profile" not in done.stdout + done.stderr:
            sys.exit(f"FAIL: a restore into a running Thunderbird's profile: {done.returncode} "
                     f"{done.stdout} {done.stderr}")
    if open(f"{t_local}/Inbox", "rb").read() != before:
        sys.exit("FAIL: the running Thunderbird's Inbox was changed")
    # Taken out of the archive as an mbox file and as a Maildir, without any identity.
    inbox_path = "Message Store/Thunderbird - Local Folders/Inbox"
    run(target, "extract", f"{work}/tb.vqz", inbox_path, "--to", f"{work}/x", "--mail-as", "mbox")
    if mbox_messages(f"{work}/x/{inbox_path}") != mbox_messages(f"{local}/Inbox"):
        sys.exit("FAIL: the Inbox extracted as mbox differs from the original")
    run(target, "extract", f"{work}/tb.vqz", inbox_path, "--to", f"{work}/y", "--mail-as", "maildir")
    if len(mailbox.Maildir(f"{work}/y/{inbox_path}", create=False)) != 5:
        sys.exit("FAIL: the Inbox extracted as a Maildir lacks messages")
    env = dict(os.environ, HOME=target)
    shown = subprocess.run([CLI, "cat", f"{work}/tb.vqz", f"{inbox_path}/tb 0"], env=env,
                           capture_output=True).stdout
    if shown != unquote_mboxrd(mbox_messages(f"{local}/Inbox")[0][0]):
        sys.exit(f"FAIL: cat shows {shown!r}")
    # Duplicates: the copies go, every other message stays byte for byte.
    inbox = f"{local}/Inbox"
    original = mbox_messages(inbox)
    box = mailbox.mbox(inbox)
    box.add(original[2][0])
    box.add(original[2][0])
    box.flush()
    run(source, "dedupe", "--delete", "--folder", "Thunderbird - Local Folders/Inbox")
    if mbox_messages(inbox) != original:
        sys.exit("FAIL: the duplicate search changed what it kept in an mbox folder")



TB_MAILDIR = "@mozilla.org/msgstore/maildirstore;1"


def tb_maildir_profile(home, messages, contract=TB_MAILDIR):
    """A profile whose Local Folders keep one file per message, as Thunderbird lays it out:
    FOLDER/cur/NUMBER with the state in X-Mozilla-Status, FOLDER.msf beside, FOLDER.sbd/ for
    subfolders. `messages` maps a folder to its (number, status) messages."""
    base = f"{home}/.thunderbird"
    profile = f"{base}/wxyz.default-esr"
    local = f"{profile}/Mail/Local Folders"
    os.makedirs(local, exist_ok=True)
    with open(f"{base}/profiles.ini", "w") as ini:
        ini.write("[Profile0]\nName=default-esr\nIsRelative=1\nPath=wxyz.default-esr\nDefault=1\n")
    with open(f"{profile}/prefs.js", "w") as prefs:
        prefs.write('// Mozilla User Preferences\n'
                    'user_pref("mail.accountmanager.localfoldersserver", "server1");\n'
                    'user_pref("mail.server.server1.directory-rel", "[ProfD]Mail/Local Folders");\n'
                    'user_pref("mail.server.server1.hostname", "Local Folders");\n'
                    f'user_pref("mail.server.server1.storeContractID", "{contract}");\n'
                    'user_pref("mail.server.server1.type", "none");\n')
    open(f"{local}/msgFilterRules.dat", "w").write('version="9"\n')
    for folder, content in messages.items():
        for d in ("cur", "tmp"):
            os.makedirs(f"{local}/{folder}/{d}", exist_ok=True)
        open(f"{local}/{folder}.msf", "w").write("// a summary\n")
        for i, status in content:
            name = f"{local}/{folder}/cur/{1702990000000 + i}"
            open(name, "wb").write(tb_message(i, status))
            os.utime(name, (1700000000 + i, 1700000000 + i))
    return local


def tb_maildir_messages(folder):
    """The messages of a folder without Thunderbird's state lines, with the state."""
    out = []
    for name in sorted(os.listdir(f"{folder}/cur")):
        data = open(f"{folder}/cur/{name}", "rb").read()
        status = re.search(rb"^X-Mozilla-Status: ([0-9a-f]{4})", data, re.M)
        body = re.sub(rb"(?m)^X-Mozilla-(Status2?|Keys):.*\n", b"", data)
        out.append((body, int(status.group(1), 16) if status else 0))
    return sorted(out)


def thunderbird_maildir(work):
    source, target = f"{work}/tbm-source", f"{work}/tbm-target"
    content = {"Inbox": [(0, 0x1), (1, None), (2, 0x5), (3, 0x3)],
               "Inbox.sbd/Lists": [(4, 0x1), (5, None)], "Trash": []}
    local = tb_maildir_profile(source, content)
    listed = run(source, "identity", "list", "--json").replace('":"', '": "')
    if '"Thunderbird - Local Folders"' not in listed or '"thunderbird-maildir"' not in listed:
        sys.exit(f"FAIL: Thunderbird's file-per-message store was not found:\n{listed}")
    run(source, "backup", f"{work}/tbm.vqz", "--source", "Message Store")
    items = run(source, "list", f"{work}/tbm.vqz")
    if items.count("Subject: tb") < 0 or "tb 5" not in items:
        sys.exit(f"FAIL: the backup lacks messages:\n{items}")
    # A new computer: Thunderbird set up again, its Local Folders empty.
    t_local = tb_maildir_profile(target, {"Inbox": []})
    for attempt in range(2):
        run(target, "restore", f"{work}/tbm.vqz")
        for folder in ("Inbox", "Inbox.sbd/Lists"):
            if tb_maildir_messages(f"{t_local}/{folder}") != tb_maildir_messages(f"{local}/{folder}"):
                sys.exit(f"FAIL: restore {attempt + 1}: {folder} differs from the original")
        if os.path.exists(f"{t_local}/Inbox.msf"):
            sys.exit("FAIL: Thunderbird's summary of a changed folder was left in place")
    # Duplicates: a copy Thunderbird made goes, the rest stays; a dry run changes nothing.
    inbox = f"{local}/Inbox/cur"
    original = tb_maildir_messages(f"{local}/Inbox")
    data = open(f"{inbox}/1702990000002", "rb").read()
    open(f"{inbox}/1702990000099", "wb").write(data)
    os.utime(f"{inbox}/1702990000099", (1700000002, 1700000002))
    snapshot = {(d, n, os.stat(os.path.join(d, n)).st_mtime_ns) for d, _, ns in os.walk(local) for n in ns}
    run(source, "dedupe", "--delete", "--dry-run", "--folder", "Thunderbird - Local Folders/Inbox")
    if snapshot != {(d, n, os.stat(os.path.join(d, n)).st_mtime_ns) for d, _, ns in os.walk(local) for n in ns}:
        sys.exit("FAIL: a dry run changed the Thunderbird store")
    run(source, "dedupe", "--delete", "--folder", "Thunderbird - Local Folders/Inbox")
    if tb_maildir_messages(f"{local}/Inbox") != original:
        sys.exit("FAIL: the duplicate search did not leave exactly one of each message")
    # A store kept in a way this program cannot read is named, never passed over.
    odd = f"{work}/tbm-odd"
    tb_maildir_profile(odd, {"Inbox": [(0, 0x1)]}, contract="@example.org/msgstore/cloud;1")
    env = dict(os.environ, HOME=odd)
    done = subprocess.run([CLI, "backup", f"{work}/odd.vqz", "--source", "Message Store"],
                          env=env, capture_output=True, text=True)
    if done.returncode == 0 or "cannot read" not in done.stdout + done.stderr:
        sys.exit(f"FAIL: an unreadable store went unmentioned: {done.returncode} {done.stdout}")


main()
