#!/usr/bin/env bash
# Writes the fuzz targets' seed corpora: small archives of every flag combination made by
# tindale-cli, settings records, header blocks, id maps and folder names.
# Usage: tests/fuzz/make_seeds.sh path/to/tindale-cli
set -eu
cli=$1
here=$(cd "$(dirname "$0")" && pwd)
corpus="$here/corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" TINDALE_PASSWORD=pass
unset XDG_DATA_HOME XDG_CONFIG_HOME TINDALE_REGISTRY
mkdir -p "$HOME/Documents/sub" "$HOME/Maildir/cur" "$HOME/Maildir/new" "$HOME/Maildir/tmp"
printf 'hello, world\n' > "$HOME/Documents/a.txt"
head -c 12000 /dev/urandom > "$HOME/Documents/sub/b.bin"
printf 'Subject: hi\nDate: Mon, 1 Jan 2024 10:00:00 +0000\n\nbody\n' > "$HOME/Maildir/cur/1.a.host:2,S"
rm -rf "$corpus"/Archive; mkdir -p "$corpus"/{Archive,RegStream,Headers,IdMap,FolderNames}
for flags in "" "--compress" "--encrypt" "--compress --encrypt"; do
  name=plain${flags// /}
  # shellcheck disable=SC2086
  "$cli" backup "$work/$name.vqz" --source "My Documents" --source "Message Store" $flags >/dev/null
  cp "$work/$name.vqz" "$corpus/Archive/${name//--/_}.vqz"
done

python3 - "$corpus" <<'PY'
import struct, sys
root = sys.argv[1]
def reg(path, name, kind, data):
    rec = struct.pack("<I", 0x80000001) + path.encode("utf-16-le").ljust(4096, b"\0")
    rec += name.encode("utf-16-le").ljust(600, b"\0") + struct.pack("<II", kind, len(data)) + data
    return rec
base = "Software\\Microsoft\\Outlook Express"
open(f"{root}/RegStream/tree.bin", "wb").write(
    reg(base + "\\5.0", "Start Page", 1, "x\0".encode("utf-16-le")) +
    reg(base, "Flags", 4, struct.pack("<I", 7)) + reg(base + "\\Mail", "", 3, b""))
open(f"{root}/RegStream/outside.bin", "wb").write(reg("Identities\\{1}", "Username", 1, b"a\0b\0"))
headers = {
    "plain": "Received: from a by b; Tue, 2 Jan 2024 10:00:00 +0100\nDate: Mon, 1 Jan 2024 10:00:00 +0000\nSubject: RE: plan\nFrom: A <a@x>\nTo: b@x\nMessage-ID: <1@x>\n\nbody\n",
    "encoded": "Subject: =?UTF-8?B?w6TDtsO8?= =?ISO-8859-1?Q?caf=E9?=\nDate: 1 Jan 2024 10:00 -0000 (UTC)\n\n",
    "folded": "Subject: a very\n long\r\n\tsubject\nReceived: from x\n by y; Sun, 31 Dec 2023 23:59:60 +1400\n\n",
    "odd": "Date: Thu, 29 Feb 2024 25:61:61 +9999\nSubject: AW: Fw: x\nNoColon\n",
}
for name, text in headers.items():
    open(f"{root}/Headers/{name}.txt", "w").write(text)
open(f"{root}/IdMap/uids.txt", "w").write("next 12\n1\t1700000000.M1P1.host\n7\tname\\twith\\ttabs\n11\tcur/1.a:2,S\n")
open(f"{root}/IdMap/damaged.txt", "w").write("next x\n5\ta\n5\tb\n99999999999\tc\n4\tbad\\q\n")
for name in [".Work.Projects", ".INBOX.Receipts", ".Entw&APw-rfe v1&AC4-2", ".&-amp", ".a..b", ".&ZeVnLIqe-"]:
    open(f"{root}/FolderNames/" + name.replace("/", "_").replace(" ", "_").lstrip(".") + ".txt", "w").write(name)
PY
ls -R "$corpus" | head -40
