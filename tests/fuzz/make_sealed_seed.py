#!/usr/bin/env python3
"""Writes a small sealed archive with PyNaCl, following docs/format.md alone: one file and
the closing record, under the password "pass" with the smallest Argon2id limits and an
all-zero salt (the key the Sealed fuzz target uses). tindale-cli test must call it sound.
With --zstd the archive is compressed, its pieces zstd frames (seal scheme 1); with --shared,
scheme 2: a dictionary record first, and the file compressed with that dictionary.
  make_sealed_seed.py OUT.vqz [--zstd | --shared]"""
import os
import struct
import sys
import uuid

import nacl.bindings as b
import nacl.encoding
import nacl.hash
import zstandard

def guid(text):  # the standard byte order: Data1, Data2, Data3 little-endian
    return uuid.UUID(text).bytes_le

def utf16(text, units):
    raw = text.encode("utf-16-le") + b"\0\0"
    return raw.ljust(units * 2, b"\0")

shared = "--shared" in sys.argv[2:]
zstd = "--zstd" in sys.argv[2:] or shared
dictionary = None
if shared:
    samples = [f"From: a{i}@example.org\nSubject: seed {i}\n\nhello from the seed {i * 7919}\n".encode()
               for i in range(400)]
    dictionary = zstandard.train_dictionary(4096, samples)

def record(type_guid, name, length, container=False, parent=bytes(16)):
    r = bytearray(704)
    r[0:16] = parent
    r[16:32] = type_guid
    r[32:48] = os.urandom(16)
    struct.pack_into("<Q", r, 48, length)
    r[56], r[57] = (1 if zstd else 0), 1
    r[58:570] = utf16(name, 256)
    r[570] = 1 if container else 0
    return r

def seal(key, rec, index, last, plain, with_dictionary=True):
    if rec[56] and dictionary and with_dictionary:
        plain = b"\x03" + zstandard.ZstdCompressor(level=3, dict_data=dictionary).compress(plain)
    elif rec[56]:
        plain = b"\x02" + zstandard.ZstdCompressor(level=3).compress(plain)
    ad = bytes(rec[:48]) + bytes(8) + bytes(rec[56:]) + struct.pack("<Q", index) + bytes([last])
    nonce = bytes(rec[32:48]) + struct.pack("<Q", index)
    body = bytes([last]) + b.crypto_aead_xchacha20poly1305_ietf_encrypt(plain, ad, nonce, key)
    return struct.pack("<I", len(body)) + body

header = bytearray(4176)
header[0:6] = b"kw-vqz"
header[6], header[7], header[8], header[9] = 1, (2 if shared else 1 if zstd else 0), (1 if zstd else 0), 1
header[10:4106] = utf16("seed.vqz", 2048)
salt, ops, mem, alg = bytes(16), 1, 8192, b.crypto_pwhash_ALG_ARGON2ID13
header[4106:4122] = salt
struct.pack_into("<IQI", header, 4122, ops, mem, alg)
key = b.crypto_pwhash_alg(32, b"pass", salt, ops, mem, alg)
header[4138:4154] = b.crypto_aead_xchacha20poly1305_ietf_encrypt(b"", bytes(header[:4138]), bytes(24), key)
struct.pack_into("<I", header, 4172, 48)

records = b""
chained = []  # the records the closing record counts and hashes, in order
if dictionary:
    dict_rec = record(guid("C4D1A7E2-3B58-4F96-8E0D-7A21B9F3E654"), "", 0)
    dict_frames = seal(key, dict_rec, 0, 1, dictionary.as_bytes(), with_dictionary=False)
    struct.pack_into("<Q", dict_rec, 48, len(dict_frames))
    records += bytes(dict_rec) + dict_frames
    chained.append(bytes(dict_rec))

payload = bytearray(4112)
payload[0:4096] = utf16("%USERPROFILE%\\Documents\\seed.txt", 2048)
struct.pack_into("<Q", payload, 4096, 5)
file_rec = record(guid("1D0B07C9-4726-4696-A8C8-6BAB15C32918"), "seed.txt", 0)
frames = seal(key, file_rec, 0, 1, bytes(payload) + b"hello")
struct.pack_into("<Q", file_rec, 48, len(frames))

records += bytes(file_rec) + frames
chained.append(bytes(file_rec))

closing_rec = record(guid("6B1E3C2A-9D44-4F0B-A6E1-5C7D2E8F9A13"), "", 0)
digest = nacl.hash.blake2b(b"".join(chained), digest_size=32, encoder=nacl.encoding.RawEncoder)
closing = seal(key, closing_rec, 0, 1, struct.pack("<Q", len(chained)) + digest)
struct.pack_into("<Q", closing_rec, 48, len(closing))

with open(sys.argv[1], "wb") as out:
    out.write(bytes(header) + records + bytes(closing_rec) + closing)
