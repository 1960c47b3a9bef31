#!/usr/bin/env python3
"""Opens a sealed archive's frames with PyNaCl, a reader nobody here wrote, following the
documented layout (docs/format.md): Argon2id key from the header's salt and limits, then
XChaCha20-Poly1305 with nonce = record GUID + frame index and associated data = the record
without its payload length + frame index + last-frame flag.
  open_sealed_frame.py ARCHIVE PASSWORD NAME   prints the first frame's plaintext of the
                                               record named NAME (an uncompressed archive)"""
import struct
import sys

import nacl.bindings as b

archive, password, wanted = sys.argv[1], sys.argv[2], sys.argv[3]
data = open(archive, "rb").read()
header = data[:4176]
assert header[:6] == b"kw-vqz" and header[6] == 1, "not a sealed archive"
salt = header[4106:4122]
ops, = struct.unpack_from("<I", header, 4122)
mem, = struct.unpack_from("<Q", header, 4126)
alg, = struct.unpack_from("<I", header, 4134)
key = b.crypto_pwhash_alg(32, password.encode(), salt, ops, mem, alg)
# The key check: an empty message sealed with a zero nonce and the header before it.
b.crypto_aead_xchacha20poly1305_ietf_decrypt(header[4138:4154], header[:4138], bytes(24), key)

pos = 4176
while pos + 704 <= len(data):
    record = data[pos:pos + 704]
    length, = struct.unpack_from("<Q", record, 48)
    name = record[58:570].decode("utf-16-le").split("\0")[0]
    if name == wanted:
        m, = struct.unpack_from("<I", data, pos + 704)
        body = data[pos + 708:pos + 708 + m]
        last = body[0]
        ad = record[:48] + bytes(8) + record[56:] + struct.pack("<Q", 0) + bytes([last])
        nonce = record[32:48] + struct.pack("<Q", 0)
        plain = b.crypto_aead_xchacha20poly1305_ietf_decrypt(body[1:], ad, nonce, key)
        sys.stdout.buffer.write(plain)
        sys.exit(0)
    pos += 704 + length
sys.exit("no record named " + wanted)
