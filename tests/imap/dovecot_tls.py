#!/usr/bin/env python3
"""A Dovecot IMAP server on 127.0.0.1 for tests and benchmarks: TLS (imaps) with a
certificate from a throwaway authority made here, a user "tester" whose password is
"secret", and Maildir++ mail under DIR/mail. As a module: `with Dovecot(dir) as server:`
(optionally with a prefix of the account's own folders and another separator)
(server.port, server.ca, server.maildir, server.stop(), server.start()). As a script:
`dovecot_tls.py DIR` starts it, prints "PORT CA_FILE MAILDIR" and leaves it running
(`dovecot_tls.py --stop DIR` stops it)."""
import grp
import os
import pwd
import shutil
import socket
import subprocess
import sys
import time

USER = "tester"
PASSWORD = "secret"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificates(d, host="localhost"):
    def ssl(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True)
    ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test CA",
        "-keyout", f"{d}/ca.key", "-out", f"{d}/ca.pem",
        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=keyCertSign")
    ssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", f"/CN={host}",
        "-keyout", f"{d}/server.key", "-out", f"{d}/server.csr")
    with open(f"{d}/ext.cnf", "w") as f:
        f.write(f"subjectAltName=DNS:{host},IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
    ssl("x509", "-req", "-in", f"{d}/server.csr", "-CA", f"{d}/ca.pem", "-CAkey", f"{d}/ca.key",
        "-CAcreateserial", "-days", "2", "-out", f"{d}/server.pem", "-extfile", f"{d}/ext.cnf")


class Dovecot:
    def __init__(self, directory, port=None, prefix="", separator="/"):
        # prefix "INBOX." with separator ".": every folder below the Inbox, as Courier and
        # older Cyrus servers keep them.
        self.prefix, self.separator = prefix, separator
        self.dir = os.path.abspath(directory)
        self.port = port or free_port()
        self.starttls_port = free_port()
        self.ca = f"{self.dir}/ca.pem"
        self.maildir = f"{self.dir}/mail/{USER}/Maildir"
        self.config = f"{self.dir}/dovecot.conf"
        os.makedirs(self.dir, exist_ok=True)
        if not os.path.exists(self.ca):
            make_certificates(self.dir)
        self._write_config()

    def _write_config(self):
        root = os.geteuid() == 0
        owner = pwd.getpwnam("nobody") if root else pwd.getpwuid(os.geteuid())
        internal = "dovecot" if root else owner.pw_name
        login = "dovenull" if root else owner.pw_name
        for sub in ("mail", "run", "state"):
            os.makedirs(f"{self.dir}/{sub}", exist_ok=True)
        if root:
            os.chmod(self.dir, 0o755)
            subprocess.run(["chown", "-R", f"{owner.pw_uid}:{owner.pw_gid}", f"{self.dir}/mail"])
        with open(f"{self.dir}/users", "w") as f:
            f.write(f"{USER}:{{PLAIN}}{PASSWORD}\n")
        with open(self.config, "w") as f:
            f.write(f"""
protocols = imap
listen = 127.0.0.1
base_dir = {self.dir}/run
state_dir = {self.dir}/state
log_path = {self.dir}/dovecot.log
default_internal_user = {internal}
default_internal_group = {"dovecot" if root else grp.getgrgid(owner.pw_gid).gr_name}
default_login_user = {login}
first_valid_uid = {min(owner.pw_uid, 500)}
ssl = required
ssl_cert = <{self.dir}/server.pem
ssl_key = <{self.dir}/server.key
auth_mechanisms = plain login
disable_plaintext_auth = yes
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {self.dir}/users
}}
userdb {{
  driver = static
  args = uid={owner.pw_uid} gid={owner.pw_gid} home={self.dir}/mail/%u
}}
mail_location = maildir:~/Maildir
namespace inbox {{
  inbox = yes
  prefix = {self.prefix}
  separator = {self.separator}
  mailbox Sent {{
    special_use = \\Sent
  }}
  mailbox Trash {{
    special_use = \\Trash
  }}
}}
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {self.starttls_port}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {self.port}
    ssl = yes
  }}
}}
service anvil {{
  chroot =
}}
service imap-login {{
  chroot =
}}
mail_max_userip_connections = 100
""")
        if not root:
            # Without root, Dovecot's services all run as the current user.
            with open(self.config, "a") as f:
                f.write("service auth {\n  user = $default_internal_user\n}\n")

    def start(self):
        subprocess.run(["/usr/sbin/dovecot", "-c", self.config], check=True)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("Dovecot did not start: " + open(f"{self.dir}/dovecot.log").read())

    def stop(self):
        subprocess.run(["/usr/sbin/dovecot", "-c", self.config, "stop"], capture_output=True)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                time.sleep(0.05)
            except OSError:
                return

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def url(self):
        return f"imaps://{USER}@127.0.0.1:{self.port}"

    def starttls_url(self):
        return f"imap://{USER}@localhost:{self.starttls_port}"


def available():
    return os.path.exists("/usr/sbin/dovecot") and shutil.which("openssl") is not None


if __name__ == "__main__":
    if sys.argv[1] == "--stop":
        Dovecot(sys.argv[2], port=int(open(f"{sys.argv[2]}/port").read())).stop()
    else:
        server = Dovecot(sys.argv[1]).start()
        with open(f"{server.dir}/port", "w") as f:
            f.write(str(server.port))
        print(server.port, server.ca, server.maildir)
