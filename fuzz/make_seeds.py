#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus into fuzz/corpus/.

Each seed is the target's 5-byte header followed by a file's bytes. The header bytes:
  0  the most bytes one read hands out, less 1
  1  the target, modulo 3: MS-DOS, UNIX, MAC
  2  the operation that fails, modulo 12, less 1: none, open, create, read, write,
     flush, close, rename, remove, chmod, chown, copy acl
  3  the call of that operation that fails, modulo 40, plus 1
  4  bit 0: an output exists already
"""
import pathlib

X = b"x"
SEEDS = {
    # name: (header, file)
    "dos": ((0, 1, 0, 0, 0), b"one\r\ntwo\r\n"),
    "mixed": ((2, 2, 0, 0, 1), b"a\r\nb\nc\r\nd\re\n"),
    "unix": ((1, 0, 0, 0, 0), b"one\ntwo\n"),
    "mac": ((0, 1, 0, 0, 0), b"one\rtwo\r"),
    "utf16le": ((2, 2, 0, 0, 0), b"\xff\xfea\x00\r\x00\n\x00b\x00\n\x00"),
    "utf16be-odd": ((0, 0, 0, 0, 0), b"\xfe\xff\x00a\x00\r\x00\nz"),
    "jis": ((1, 1, 0, 0, 0), b"\x1b$B$3$s\x1b(B\r\n\x1b$(Da\r"),
    "binary": ((0, 1, 0, 0, 0), b"ab\0cd\n"),
    "cr-cr-lf": ((0, 0, 0, 0, 0), b"\r\r\n"),
    "cr-esc": ((0, 1, 0, 0, 0), b"\r\x1b"),
    "empty": ((0, 2, 0, 0, 1), b""),
    "japanese": ((6, 1, 0, 0, 0), "日本語のテキスト\r\n二行目\r\n".encode()),
    "long-first-line": ((200, 0, 0, 0, 0), "日".encode() * 100 + b"\n" + X * 10),
    "long-lines": ((99, 1, 0, 0, 0), b"y" * 700 + b"\r\n\n\r" + b"z" * 700),
    "write-fails": ((0, 0, 4, 0, 1), b"a\nb\n" * 40),
    "read-fails-late": ((3, 1, 3, 5, 1), b"a\r\nb\r\n" * 10),
    "rename-fails": ((0, 0, 7, 0, 1), b"a\rb\r"),
    "chown-fails": ((0, 2, 10, 0, 1), b"a\r\nb"),
    "png-head": ((0, 1, 0, 0, 1), b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR"),
}

corpus = pathlib.Path(__file__).resolve().parent / "corpus"
for old in corpus.glob("*"):
    old.unlink()
corpus.mkdir(exist_ok=True)
for name, (header, data) in SEEDS.items():
    (corpus / name).write_bytes(bytes(header) + data)
