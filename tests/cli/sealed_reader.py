#!/usr/bin/env python3
"""Reads an archive's payloads with PyNaCl, zstandard and lzma, libraries nobody here wrote,
following the documented layout (docs/format.md) alone: the Argon2id key from the header's
salt and limits; XChaCha20-Poly1305 frames with nonce = record GUID + frame index and
associated data = the record without its payload length + frame index + last-frame flag;
inside them the piece, stored, or compressed by the header's seal scheme (0: LZMA, 1: zstd,
2: zstd, a piece alone or with the dictionary the archive's first record holds); and the
closing record's count and BLAKE2b hash of the records. Plain archives are read too.
  sealed_reader.py ARCHIVE PASSWORD NAME   writes the payload of the record named NAME"""
import hashlib
import lzma
import struct
import sys

import nacl.bindings as b
import zstandard

CLOSING = bytes.fromhex("2a3c1e6b449d0b4fa6e15c7d2e8f9a13")
DICTIONARY = bytes.fromhex("e2a7d1c4583b964f8e0d7a21b9f3e654")


def derive_key(header, password):
    salt = header[4106:4122]
    ops, = struct.unpack_from("<I", header, 4122)
    mem, = struct.unpack_from("<Q", header, 4126)
    alg, = struct.unpack_from("<I", header, 4134)
    key = b.crypto_pwhash_alg(32, password.encode(), salt, ops, mem, alg)
    # The key check: an empty message sealed with a zero nonce and the header before it.
    b.crypto_aead_xchacha20poly1305_ietf_decrypt(header[4138:4154], header[:4138], bytes(24), key)
    return key


def uncompress(body, scheme, dictionary=None):
    if body[0] == 0:
        return body[1:]
    if scheme in (1, 2):
        params = zstandard.get_frame_parameters(body[1:])
        assert params.content_size <= 131072, "a piece of at most 128 KiB"
        if body[0] == 3 and scheme == 2:
            assert dictionary and params.dict_id == dictionary.dict_id(), "the archive's dictionary"
            return zstandard.ZstdDecompressor(dict_data=dictionary).decompress(body[1:])
        assert body[0] == 2 and params.dict_id == 0, "a zstd piece starts with marker 2"
        return zstandard.ZstdDecompressor().decompress(body[1:])
    assert body[0] == 1 and body[1] == 0, "an LZMA block without the x86 filter"
    return lzma.decompress(body[2:], format=lzma.FORMAT_ALONE)


def frames(data, pos, length):
    end = pos + length
    while pos < end:
        m, = struct.unpack_from("<I", data, pos)
        yield data[pos + 4:pos + 4 + m]
        pos += 4 + m


def open_payload(record, payload, key, scheme, dictionary=None):
    out = []
    compress = record[56]
    for index, body in enumerate(payload):
        if key is None:
            out.append(uncompress(body, 0) if compress else body)
            continue
        last = body[0]
        ad = record[:48] + bytes(8) + record[56:] + struct.pack("<Q", index) + bytes([last])
        nonce = record[32:48] + struct.pack("<Q", index)
        plain = b.crypto_aead_xchacha20poly1305_ietf_decrypt(body[1:], ad, nonce, key)
        out.append(uncompress(plain, scheme, dictionary) if compress else plain)
    return b"".join(out)


def main():
    archive, password, wanted = sys.argv[1], sys.argv[2], sys.argv[3]
    data = open(archive, "rb").read()
    header = data[:4176]
    assert header[:6] == b"kw-vqz", "not an archive"
    sealed = header[6] == 1
    key = derive_key(header, password) if sealed else None
    scheme = header[7]
    chain, count, found, dictionary = hashlib.blake2b(digest_size=32), 0, None, None
    pos = 4176
    while pos + 704 <= len(data):
        record = data[pos:pos + 704]
        length, = struct.unpack_from("<Q", record, 48)
        payload = list(frames(data, pos + 704, length))
        if sealed and record[16:32] == CLOSING:
            closing = open_payload(record, payload, key, scheme)
            assert closing == struct.pack("<Q", count) + chain.digest(), "the closing record"
            assert pos + 704 + length == len(data), "nothing after the closing record"
            break
        chain.update(record)
        if sealed and scheme == 2 and count == 0 and record[16:32] == DICTIONARY:
            raw = open_payload(record, payload, key, scheme)
            dictionary = zstandard.ZstdCompressionDict(raw, dict_type=zstandard.DICT_TYPE_FULLDICT)
        count += 1
        name = record[58:570].decode("utf-16-le").split("\0")[0]
        if name == wanted and found is None:
            found = open_payload(record, payload, key, scheme, dictionary)
        pos += 704 + length
    else:
        assert not sealed, "a sealed archive ends with its closing record"
    if found is None:
        sys.exit("no record named " + wanted)
    sys.stdout.buffer.write(found)


main()
