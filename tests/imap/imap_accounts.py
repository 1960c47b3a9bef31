#!/usr/bin/env python3
"""An IMAP account as an identity, against a real Dovecot on 127.0.0.1 with TLS (a
certificate from an authority this test makes). Folders with odd names, a \\Noselect parent,
flags, keywords and INTERNALDATE come back exactly after the server's mail is deleted; a
second restore adds nothing; mail moves from the server to a local Maildir and from a local
Maildir to the server; a connection cut in the middle of a folder is made again and nothing
is missing; a wrong password and a certificate that does not verify are refused before
anything is sent; duplicates on the server are removed by UID, leaving what another program
marked deleted. Exit 77 (skipped) without Dovecot.
Usage: imap_accounts.py TINDALE_CLI"""
import imaplib
import mailbox
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dovecot_tls  # noqa: E402

CLI = sys.argv[1]
FOLDERS = ["Work", "Archive/2024", "Entwürfe & Co", "Sent", "Trash", "Projekte/Übersicht"]


def wire(name):
    """A mailbox name in IMAP's modified UTF-7, quoted."""
    out, run = "", ""
    for ch in name + "\0":
        if 0x20 <= ord(ch) < 0x7F or ch == "\0":
            if run:
                b = run.encode("utf-16-be")
                import base64
                out += "&" + base64.b64encode(b).decode().rstrip("=").replace("/", ",") + "-"
                run = ""
            if ch != "\0":
                out += "&-" if ch == "&" else ch
        else:
            run += ch
    return '"' + out + '"'


def message(subject, with_id=True, size=0):
    body = f"body of {subject}\r\n" + ("x" * 70 + "\r\n") * (size // 72)
    return (f"From: a@example.org\r\nTo: b@example.org\r\nSubject: {subject}\r\n" +
            (f"Message-ID: <{subject}@example.org>\r\n" if with_id else "") +
            f"Date: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\n{body}").encode()


def connect(server):
    context = ssl.create_default_context(cafile=server.ca)
    m = imaplib.IMAP4_SSL("127.0.0.1", server.port, ssl_context=context)
    m.login(dovecot_tls.USER, dovecot_tls.PASSWORD)
    return m


def fill(server):
    m = connect(server)
    for box in FOLDERS:
        m.create(wire(box))
    m.append("INBOX", r"(\Seen $Label1)", '"01-Feb-2023 08:30:00 +0100"', message("one"))
    m.append("INBOX", r"($Forwarded)", '"02-Feb-2023 08:30:00 +0000"', message("two"))
    m.append("INBOX", r"(\Flagged Junk)", '"05-May-2022 01:02:03 +0000"', message("three", False))
    m.append("Work", r"(\Seen \Answered)", '"03-Mar-2021 12:00:00 -0500"', message("plan"))
    m.append("Archive/2024", r"(\Seen)", '"04-Apr-2024 04:04:04 +0000"', message("old"))
    m.append(wire("Entwürfe & Co"), r"(\Draft)", '"06-Jun-2020 06:00:00 +0000"', message("draft"))
    m.append(wire("Projekte/Übersicht"), r"(\Seen)", '"07-Jul-2019 07:00:00 +0000"', message("p"))
    m.logout()


def snapshot(server):
    """Every selectable mailbox: its messages' flags, INTERNALDATE and bytes, by Subject."""
    m = connect(server)
    state = {}
    for line in m.list()[1]:
        text = line.decode()
        name = text.rsplit(' "/" ', 1)[1]
        if "\\Noselect" in text:
            state[name] = "noselect"
            continue
        m.select(name, readonly=True)
        _, data = m.uid("FETCH", "1:*", "(FLAGS INTERNALDATE BODY.PEEK[])")
        items = []
        for d in data:
            if isinstance(d, tuple):
                meta = d[0].decode()
                flags = sorted(meta.split("FLAGS (")[1].split(")")[0].replace("\\Recent", "").split())
                date = meta.split('INTERNALDATE "')[1].split('"')[0]
                items.append((flags, date, d[1]))
        state[name] = sorted(items, key=lambda i: i[2])
    m.logout()
    return state


def wipe(server):
    m = connect(server)
    for line in m.list()[1]:
        text = line.decode()
        name = text.rsplit(' "/" ', 1)[1]
        if "\\Noselect" in text:
            continue
        _, count = m.select(name)
        if int(count[0]) > 0:
            m.store("1:*", "+FLAGS", "\\Deleted")
            m.expunge()
        m.close()
        if name != "INBOX":
            m.delete(name)
    for line in m.list()[1]:  # parents left after their children went
        name = line.decode().rsplit(' "/" ', 1)[1]
        if name != "INBOX":
            m.delete(name)
    m.logout()


class Home:
    def __init__(self, root, server, name):
        self.dir = os.path.join(root, name)
        os.makedirs(self.dir)
        self.server = server

    def env(self, password=dovecot_tls.PASSWORD, trusted=True):
        env = {k: v for k, v in os.environ.items()
               if k not in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "TINDALE_REGISTRY",
                            "TINDALE_IMAP_PASSWORD", "SSL_CERT_FILE")}
        env["HOME"] = self.dir
        if password is not None:
            env["TINDALE_IMAP_PASSWORD"] = password
        if trusted:
            env["SSL_CERT_FILE"] = self.server.ca
        return env

    def run(self, *args, ok=(0,), **kw):
        p = subprocess.run([CLI, *args], env=self.env(**kw), capture_output=True, text=True,
                           stdin=subprocess.DEVNULL)
        if p.returncode not in ok:
            sys.exit(f"FAIL: tindale-cli {' '.join(args)} exited {p.returncode}\n{p.stdout}{p.stderr}")
        return p


def check(condition, what):
    if not condition:
        sys.exit("FAIL: " + what)
    print("ok:", what)


class CuttingProxy:
    """Forwards 127.0.0.1:port to the server and cuts, once, the first connection that has
    brought `after` bytes back from the server: a network lost in the middle of a folder."""

    def __init__(self, target_port, after):
        self.target, self.after, self.cuts = target_port, after, 0
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            client, _ = self.listener.accept()
            upstream = socket.create_connection(("127.0.0.1", self.target))
            limit = self.after if self.cuts == 0 else None
            threading.Thread(target=self.pipe, args=(client, upstream, None), daemon=True).start()
            threading.Thread(target=self.pipe, args=(upstream, client, limit), daemon=True).start()

    def pipe(self, src, dst, limit):
        passed = 0
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                dst.sendall(data)
                passed += len(data)
                if limit is not None and passed >= limit and self.cuts == 0:
                    self.cuts += 1
                    break
        except OSError:
            pass
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def keyring_checks(root, server, url):
    if not (shutil.which("gnome-keyring-daemon") and shutil.which("dbus-run-session")):
        print("skipped: the keyring checks (no gnome-keyring or dbus-run-session)")
        return
    keyring = Home(root, server, "keyring")
    with open(os.path.join(root, "pw"), "w") as f:
        f.write(dovecot_tls.PASSWORD + "\n")
    script = f"""
eval $(printf unlock | gnome-keyring-daemon --unlock --components=secrets)
cli() {{ "{CLI}" "$@" < /dev/null; }}
cli --keyring --imap-password-file {root}/pw identity add Kept --imap {url} || exit 10
cli identity list > /dev/null
cli --keyring backup {root}/k1.vqz --source "Message Store/Kept/Work" || exit 11
cli backup {root}/k2.vqz --source "Message Store/Kept/Work" && exit 12
exit 0
"""
    p = subprocess.run(["dbus-run-session", "--", "bash", "-c", script], capture_output=True,
                       text=True, env=keyring.env(password=None), timeout=120)
    check(p.returncode == 0 and "needs a password" in p.stderr,
          f"the keyring keeps a password with --keyring and is left alone without it "
          f"(exit {p.returncode}) {p.stderr.strip()[-300:]}")


def main():
    if not dovecot_tls.available():
        print("Dovecot or openssl is not installed")
        sys.exit(77)
    root = tempfile.mkdtemp()
    os.chmod(root, 0o755)
    try:
        with dovecot_tls.Dovecot(os.path.join(root, "server")) as server:
            run_checks(root, server)
    finally:
        shutil.rmtree(root, ignore_errors=True)


def run_checks(root, server):
    url = server.url()
    home = Home(root, server, "home")

    # Refusals come first and leave no identity behind.
    p = home.run("identity", "add", "Office", "--imap", url, ok=(1,), trusted=False)
    check("not trusted" in p.stderr and "nothing was sent" in p.stderr,
          "a certificate that does not verify is refused: " + p.stderr.strip())
    p = home.run("identity", "add", "Office", "--imap", url, ok=(1,), password="wrong")
    check("refused the login" in p.stderr, "a wrong password is refused: " + p.stderr.strip())
    p = home.run("identity", "add", "Office", "--imap", "imaps://nobody-at-all", ok=(2,))
    check("no IMAP account" in p.stderr, "a malformed account is a usage error")
    check("Office" not in home.run("identity", "list").stdout, "no identity was registered")

    plain = Home(root, server, "plain")
    p = plain.run("identity", "add", "Plain", "--imap", server.starttls_url())
    check("logged in to localhost" in p.stderr, "imap:// logs in after STARTTLS")
    p = plain.run("identity", "add", "Plain2", "--imap", server.starttls_url(), ok=(1,),
                  trusted=False)
    check("not trusted" in p.stderr, "and checks the certificate it got then")

    fill(server)
    before = snapshot(server)
    home.run("identity", "add", "Office", "--imap", url)
    archive = os.path.join(root, "server.vqz")
    home.run("backup", archive, "--source", "Message Store")
    listed = home.run("list", archive).stdout
    for subject in ("one", "two", "three", "plan", "old", "draft", "p"):
        check(f"/{subject}\titem" in listed, f"the archive holds \"{subject}\"")
    check("Entwürfe & Co" in listed and "Projekte/Übersicht" in listed,
          "odd folder names are listed as the person sees them")
    check(snapshot(server) == before, "a backup marks nothing read and changes nothing")

    wipe(server)
    check(all(v in ([], "noselect") for v in snapshot(server).values()), "the server's mail is gone")
    home.run("restore", archive)
    after = snapshot(server)
    for name, items in before.items():
        check(after.get(name) == items, f"{name} came back with its flags, keywords and dates")
    p = home.run("restore", archive)
    check(snapshot(server) == after and "already in their folder" in p.stdout + p.stderr,
          "a second restore adds nothing")

    # Another provider that keeps every folder below the Inbox ("INBOX." and "."): the same
    # folders come back under its prefix, and its archive names them as the first did.
    with dovecot_tls.Dovecot(os.path.join(root, "courier"), prefix="INBOX.", separator=".") as other:
        mover = Home(root, other, "mover")
        mover.run("identity", "add", "Office", "--imap", other.url())
        mover.run("restore", archive)
        m = connect(other)
        names = sorted(line.decode().rsplit(' "." ', 1)[1].strip('"') for line in m.list()[1])
        m.logout()
        check(names == sorted(["INBOX", "INBOX.Work", "INBOX.Archive", "INBOX.Archive.2024",
                               wire("INBOX.Entwürfe & Co").strip('"'), "INBOX.Sent",
                               "INBOX.Trash", "INBOX.Projekte",
                               wire("INBOX.Projekte.Übersicht").strip('"')]),
              "a prefixed server gets the folders under its prefix: " + " ".join(names))
        moved = os.path.join(root, "moved.vqz")
        mover.run("backup", moved, "--source", "Message Store")
        def paths(home, a):
            return sorted(line.split("\t")[0] for line in home.run("list", a).stdout.splitlines())
        check(paths(mover, moved) == paths(home, archive),
              "and its archive names every folder and message as the first server's did")

    # A new computer: the account is registered again from the archive, nothing is added.
    fresh = Home(root, server, "fresh")
    p = fresh.run("restore", archive)
    check("made again, as the IMAP account " + url in p.stdout + p.stderr and
          snapshot(server) == after, "on a new computer the account is made again as itself")

    # From the server to a local Maildir (a move between providers) and back.
    local = os.path.join(home.dir, "Local")
    home.run("identity", "add", "Local", "--store", local)
    home.run("restore", archive, "--identity", "Local")
    box = mailbox.Maildir(local, create=False)
    flags = sorted(m.get_flags() for m in box)
    check(flags == ["Fb", "P", "Sa"], "the server's Inbox is a Maildir Inbox with its flags")
    check(open(os.path.join(local, "dovecot-keywords")).read().split() ==
          ["0", "$Label1", "1", "Junk"], "its keywords are there by name")
    # Maildir++ folder names are in modified UTF-7 on disk, as Dovecot keeps them.
    check(sorted(box.list_folders()) == sorted(["Work", "Archive.2024", "Entw&APw-rfe &- Co",
                                                "Sent", "Trash", "Projekte.&ANw-bersicht"]),
          "and its folders are Maildir++ folders")
    local_archive = os.path.join(root, "local.vqz")
    with open(os.path.join(local, "new", "1700000000.local.host"), "wb") as f:
        f.write(message("from-local"))
    home.run("backup", local_archive, "--source", "Message Store/Local")
    home.run("restore", local_archive, "--identity", "Office")
    m = connect(server)
    m.select("INBOX", readonly=True)
    _, found = m.uid("SEARCH", "HEADER", "Message-ID", "<from-local@example.org>")
    check(len(found[0].split()) == 1, "a local Maildir's message went to the server once")
    _, all_inbox = m.uid("SEARCH", "ALL")
    check(len(all_inbox[0].split()) == 4, "the server's own Inbox messages were not doubled")
    m.logout()

    # A connection cut in the middle of a folder: made again, nothing missing.
    m = connect(server)
    m.create("Big")
    for i in range(300):
        m.append("Big", None, None, message(f"big-{i}", size=4000))
    m.logout()
    proxy = CuttingProxy(server.port, after=400_000)
    cut = Home(root, server, "cut")
    cut.run("identity", "add", "Far", "--imap", f"imaps://tester@127.0.0.1:{proxy.port}")
    cut_archive = os.path.join(root, "cut.vqz")
    p = cut.run("backup", cut_archive, "--source", "Message Store/Far/Big")
    listed = cut.run("list", cut_archive).stdout
    check(proxy.cuts >= 1, "the connection was cut during the backup")
    check(sum(f"/big-{i}\titem" in listed for i in range(300)) == 300,
          "after the cut every message of the folder is in the archive")
    cut.run("test", cut_archive)

    # The desktop's keyring: a password that worked is kept there with --keyring and found
    # there the next time; without --keyring it is neither looked for nor kept.
    keyring_checks(root, server, url)

    # A message the server cannot read is named; the rest of its folder is saved.
    m = connect(server)
    m.create("Broken")
    for i in range(5):
        m.append("Broken", None, None, message(f"broken-{i}"))
    m.logout()
    files = sorted(os.path.join(d, f) for d in (f"{server.maildir}/.Broken/new",
                                                 f"{server.maildir}/.Broken/cur")
                   if os.path.isdir(d) for f in os.listdir(d))
    os.chmod(files[2], 0)
    broken_archive = os.path.join(root, "broken.vqz")
    p = home.run("backup", broken_archive, "--source", "Message Store/Office/Broken", ok=(1,))
    listed = home.run("list", broken_archive).stdout
    check(sum(f"/broken-{i}\titem" in listed for i in range(5)) == 4 and
          re.search(r"Broken/UID \d+: the message could not be read", p.stdout + p.stderr),
          "an unreadable message is named and the rest of its folder is saved: " + p.stdout + p.stderr)

    # Duplicates: removed by UID; what another program marked deleted stays marked.
    m = connect(server)
    m.select("Work")
    _, data = m.uid("FETCH", "1:*", "(BODY.PEEK[])")
    original = [d[1] for d in data if isinstance(d, tuple)][0]
    m.append("Work", r"(\Seen)", None, original)
    m.append("Work", r"(\Deleted)", None, message("marked-elsewhere"))
    m.logout()
    p = home.run("dedupe", "--delete", "--folder", "Office/Work")
    m = connect(server)
    m.select("Work", readonly=True)
    _, data = m.uid("FETCH", "1:*", "(FLAGS BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
    subjects = sorted(d[1].decode().strip() for d in data if isinstance(d, tuple))
    check(subjects == ["Subject: marked-elsewhere", "Subject: plan"],
          "the copy went, the original and another program's deleted message stayed")
    m.logout()

    # Duplicates moved rather than deleted: the copy lands in Trash, with its flags.
    m = connect(server)
    m.append("Work", r"(\Seen \Flagged)", None, original)
    m.logout()
    home.run("dedupe", "--move-to", "Office/Trash", "--folder", "Office/Work")
    m = connect(server)
    m.select("Trash", readonly=True)
    _, data = m.uid("FETCH", "1:*", "(FLAGS BODY.PEEK[])")
    moved = [d for d in data if isinstance(d, tuple)]
    m.select("Work", readonly=True)
    _, left = m.uid("SEARCH", "HEADER", "Message-ID", "<plan@example.org>")
    m.logout()
    check(len(moved) == 1 and moved[0][1] == original and "\\Flagged" in moved[0][0].decode()
          and len(left[0].split()) == 1, "a copy moved to Trash arrives there once, flags and all")


if __name__ == "__main__":
    main()
