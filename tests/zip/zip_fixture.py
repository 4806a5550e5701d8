#!/usr/bin/env python3
"""Builds and reads zip archives for the zip tests with Python's own zipfile,
an independent implementation of the format.

  zip_fixture.py write ARCHIVE ENTRIES   one entry per line of the ENTRIES file:
      name-hex TAB data-hex TAB mode-octal TAB y,m,d,H,M,S TAB system TAB method
      (method: deflate or stored; a mode of type 0o120000 makes a link)
  zip_fixture.py read ARCHIVE [PASSWORD]
      prints per entry: name-hex TAB method TAB flags TAB mode-octal TAB system TAB data-hex,
      the data being "-" for a method it does not know; exits 1 when an entry
      cannot be read (a wrong or missing password, a bad CRC or authentication code)

zipfile knows no WinZip AES, so the reader below decrypts method-99 entries
itself from the published format, with AES from the system's libcrypto.
"""
import ctypes
import ctypes.util
import hashlib
import hmac
import struct
import sys
import zipfile
import zlib


class AesFailure(Exception):
    pass


def aes_ecb(key, blocks):
    crypto = ctypes.CDLL(ctypes.util.find_library("crypto"))
    crypto.EVP_CIPHER_CTX_new.restype = ctypes.c_void_p
    crypto.EVP_aes_256_ecb.restype = ctypes.c_void_p
    crypto.EVP_EncryptInit_ex.argtypes = [ctypes.c_void_p] * 5
    crypto.EVP_CIPHER_CTX_set_padding.argtypes = [ctypes.c_void_p, ctypes.c_int]
    crypto.EVP_EncryptUpdate.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int),
                                         ctypes.c_char_p, ctypes.c_int]
    crypto.EVP_CIPHER_CTX_free.argtypes = [ctypes.c_void_p]
    context = crypto.EVP_CIPHER_CTX_new()
    crypto.EVP_EncryptInit_ex(context, crypto.EVP_aes_256_ecb(), None, key, None)
    crypto.EVP_CIPHER_CTX_set_padding(context, 0)
    out = ctypes.create_string_buffer(len(blocks))
    length = ctypes.c_int(0)
    crypto.EVP_EncryptUpdate(context, out, ctypes.byref(length), blocks, len(blocks))
    crypto.EVP_CIPHER_CTX_free(context)
    return out.raw[:length.value]


def read_aes(archive, info, password):
    extra, at, block = info.extra, 0, None
    while at + 4 <= len(extra):
        block_id, size = struct.unpack_from("<HH", extra, at)
        if block_id == 0x9901:
            block = extra[at + 4:at + 4 + size]
        at += 4 + size
    version, vendor, strength, method = struct.unpack("<H2sBH", block)
    if vendor != b"AE" or strength != 3 or not password:
        raise AesFailure("unsupported or no password")
    with open(archive, "rb") as f:
        f.seek(info.header_offset)
        header = f.read(30)
        name_size, extra_size = struct.unpack_from("<HH", header, 26)
        f.seek(info.header_offset + 30 + name_size + extra_size)
        stored = f.read(info.compress_size)
    salt, verifier, data, code = stored[:16], stored[16:18], stored[18:-10], stored[-10:]
    keys = hashlib.pbkdf2_hmac("sha1", password, salt, 1000, 66)
    if keys[64:] != verifier:
        raise AesFailure("bad password")
    if hmac.new(keys[32:64], data, hashlib.sha1).digest()[:10] != code:
        raise AesFailure("bad authentication code")
    counters = b"".join(struct.pack("<QQ", n, 0) for n in range(1, len(data) // 16 + 2))
    stream = aes_ecb(keys[:32], counters)
    plain = bytes(a ^ b for a, b in zip(data, stream))
    if method == 8:
        plain = zlib.decompressobj(-15).decompress(plain)
    if version == 1 and zlib.crc32(plain) != info.CRC:
        raise AesFailure("bad CRC")
    return plain


def write(archive, entries):
    with zipfile.ZipFile(archive, "w") as out, open(entries, encoding="ascii") as lines:
        for line in lines:
            line = line.rstrip("\n")
            if not line:
                continue
            name_hex, data_hex, mode, date, system, method = line.split("\t")
            info = zipfile.ZipInfo(bytes.fromhex(name_hex).decode("utf-8"),
                                   tuple(int(part) for part in date.split(",")))
            info.create_system = int(system)
            info.external_attr = int(mode, 8) << 16
            info.compress_type = zipfile.ZIP_DEFLATED if method == "deflate" else zipfile.ZIP_STORED
            out.writestr(info, bytes.fromhex(data_hex))


def read(archive, password):
    try:
        with zipfile.ZipFile(archive) as source:
            for info in source.infolist():
                if info.compress_type == 99:
                    data = read_aes(archive, info, password).hex() if password else "-"
                else:
                    data = source.read(info, pwd=password).hex()
                print("\t".join([info.filename.encode("utf-8").hex(), str(info.compress_type),
                                 str(info.flag_bits), format(info.external_attr >> 16, "o"),
                                 str(info.create_system), data]))
    except (RuntimeError, zipfile.BadZipFile, AesFailure) as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3])
        sys.exit(0)
    sys.exit(read(sys.argv[2], sys.argv[3].encode("utf-8") if len(sys.argv) > 3 else None))
