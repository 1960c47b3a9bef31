#!/usr/bin/env python3
"""Tampers with a sealed archive the way an attacker without the password would, from the
documented layout alone (docs/format.md), and writes one forged archive per attack.
  forge_sealed.py ARCHIVE OTHER_SEALED_ARCHIVE OUTDIR
Writes OUTDIR/NAME.vqz for each attack and prints the names, one a line. Attacks on the
frames of one item (named "frame-...") leave the records as they were: that item must not
be written, the others may be. The archive must hold a file "big.bin" of several pieces."""
import hashlib
import os
import struct
import sys
import uuid

HEADER, RECORD = 4176, 704
CLOSING = uuid.UUID("6B1E3C2A-9D44-4F0B-A6E1-5C7D2E8F9A13").bytes_le
FILE = uuid.UUID("1D0B07C9-4726-4696-A8C8-6BAB15C32918").bytes_le
MESSAGE = uuid.UUID("23827F9D-F04A-475D-8C29-65010AC71DB1").bytes_le
DICTIONARY = uuid.UUID("C4D1A7E2-3B58-4F96-8E0D-7A21B9F3E654").bytes_le


def entries(data):
    out, pos = [], HEADER
    while pos + RECORD <= len(data):
        length, = struct.unpack_from("<Q", data, pos + 48)
        out.append(data[pos:pos + RECORD + length])
        pos += RECORD + length
    return out


def name_of(entry):
    return entry[58:570].decode("utf-16-le").split("\0")[0]


def plain_record(type_guid, parent, name, payload, container=False):
    """A record whose flags say neither compressed nor encrypted, with one frame per piece."""
    frames = b"".join(struct.pack("<I", len(payload[i:i + 10240])) + payload[i:i + 10240]
                      for i in range(0, len(payload), 10240))
    rec = bytearray(RECORD)
    rec[0:16] = parent
    rec[16:32] = type_guid
    rec[32:48] = uuid.uuid4().bytes_le
    struct.pack_into("<Q", rec, 48, len(frames))
    encoded = name.encode("utf-16-le")
    rec[58:58 + len(encoded)] = encoded
    rec[570] = 1 if container else 0
    return bytes(rec) + frames


def file_payload(stored, content):
    head = bytearray(4105)
    encoded = stored.encode("utf-16-le")
    head[0:len(encoded)] = encoded
    struct.pack_into("<Q", head, 4096, len(content))
    return bytes(head) + content


def message_payload(folder, identity, source):
    head = bytearray(4096 + 512 + 68)
    f = folder.encode("utf-16-le")
    head[0:len(f)] = f
    i = identity.encode("utf-16-le")
    head[4096:4096 + len(i)] = i
    return bytes(head) + source


def recomputed_closing(records):
    """A closing record as anyone could compute it: the count and the unkeyed BLAKE2b-256 of
    the records, in a frame whose record claims to be plain."""
    h = hashlib.blake2b(digest_size=32)
    for r in records:
        h.update(r[:RECORD])
    return plain_record(CLOSING, bytes(16), "", struct.pack("<Q", len(records)) + h.digest())


def frames_of(entry):
    """The frames of an entry's payload, each with its length prefix."""
    out, pos = [], RECORD
    while pos + 4 <= len(entry):
        m, = struct.unpack_from("<I", entry, pos)
        out.append(entry[pos:pos + 4 + m])
        pos += 4 + m
    return out


def with_frames(entry, frames):
    """The entry's record with these frames and the payload length they make."""
    rec = bytearray(entry[:RECORD])
    payload = b"".join(frames)
    struct.pack_into("<Q", rec, 48, len(payload))
    return bytes(rec) + payload


def header_attacks(header):
    """Header fields changed: the seal scheme (byte 7), the compress flag (byte 8), the
    Argon2id limits (opslimit at 4122), the key check (4138)."""
    def changed(at, value):
        h = bytearray(header)
        h[at:at + len(value)] = value
        return bytes(h)
    return {
        "header-scheme-lzma": changed(7, bytes([0])),
        "header-scheme-without-dictionary": changed(7, bytes([1])),
        "header-scheme-unknown": changed(7, bytes([9])),
        "header-compress-flag": changed(8, bytes([header[8] ^ 1])),
        "header-fewer-passes": changed(4122, struct.pack("<I", 1)),
        "header-key-check": changed(4138, bytes(16)),
    }


def frame_attacks(body, closing):
    """Frames of big.bin swapped, dropped, or taken from another item."""
    at = next(i for i, e in enumerate(body) if name_of(e) == "big.bin")
    big, frames = body[at], frames_of(body[at])
    assert len(frames) >= 3, "big.bin must take several pieces"
    donor = next(e for e in body if e is not big and len(frames_of(e)) > 0)

    def replaced(entry):
        return body[:at] + [entry] + body[at + 1:] + [closing]
    return {
        "frame-swapped": replaced(with_frames(big, [frames[1], frames[0]] + frames[2:])),
        "frame-last-dropped": replaced(with_frames(big, frames[:-1])),
        "frame-from-another-item": replaced(with_frames(big, frames_of(donor)[:1] + frames[1:])),
    }


def dictionary_attacks(body, closing):
    """The dictionary record a compressed sealed archive keeps first (seal scheme 2): dropped,
    moved behind the first item, or replaced by a plain one holding a dictionary of the
    attacker's (a zstd dictionary is only bytes: its magic, an id, tables, content)."""
    assert body[0][16:32] == DICTIONARY, "the archive's first record is its dictionary"
    fake = b"\x37\xa4\x30\xec" + struct.pack("<I", 12345) + bytes(2000)
    plain = plain_record(DICTIONARY, bytes(16), "", fake)
    return {
        "dictionary-dropped": body[1:] + [closing],
        "dictionary-dropped-recomputed": body[1:] + [recomputed_closing(body[1:])],
        "dictionary-moved": [body[1], body[0]] + body[2:] + [closing],
        "dictionary-plain": [plain] + body[1:] + [closing],
        "dictionary-plain-recomputed": [plain] + body[1:] + [recomputed_closing([plain] + body[1:])],
    }


def main():
    archive, other, outdir = sys.argv[1:4]
    data = open(archive, "rb").read()
    header, all_entries = data[:HEADER], entries(data)
    assert header[6] == 1 and all_entries[-1][16:32] == CLOSING, "not a sealed archive"
    body, closing = all_entries[:-1], all_entries[-1]
    docs = next(e for e in body if name_of(e) == "My Documents")
    a_message = next(e for e in body if e[16:32] == MESSAGE)
    mail_folder = a_message[0:16]
    planted_file = plain_record(FILE, docs[32:48], "notes.md", file_payload(
        "%USERPROFILE%\\Documents\\notes.md", b"Replaced by someone without the password\n"))
    planted_mail = plain_record(MESSAGE, mail_folder, "Please confirm your password",
                                message_payload("Inbox", "", b"Subject: Please confirm your "
                                                b"password\r\n\r\nReply with it.\r\n"))
    planted = body + [planted_file, planted_mail]
    no_messages = [e for e in body if e[16:32] != MESSAGE]
    other_closing = entries(open(other, "rb").read())[-1]
    attacks = {
        "planted": planted + [closing],
        "planted-recomputed": planted + [recomputed_closing(planted)],
        "messages-removed-recomputed": no_messages + [recomputed_closing(no_messages)],
        "record-removed": body[:2] + body[3:] + [closing],
        "reordered": body[:1] + [body[2], body[1]] + body[3:] + [closing],
        "duplicated": body + [a_message, closing],
        "after-closing": body + [closing, planted_file],
        "other-closing": body + [other_closing],
    }
    attacks.update(frame_attacks(body, closing))
    attacks.update(dictionary_attacks(body, closing))
    forged = {name: header + b"".join(parts) for name, parts in attacks.items()}
    for name, changed in header_attacks(header).items():
        forged[name] = changed + b"".join(body + [closing])
    for name, data in forged.items():
        with open(os.path.join(outdir, name + ".vqz"), "wb") as f:
            f.write(data)
        print(name)


main()
