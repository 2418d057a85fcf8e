#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus into fuzz/corpus/.

Each seed is the target's 7-byte header followed by a file's bytes. The header bytes:
  0  the most bytes one read hands out, less 1
  1  the reader's buffer size, less 1, halved
  2  the writer's buffer size, less 1, halved
  3  the routine, modulo 6: DOS>UNIX, DOS>MAC, UNIX>DOS, UNIX>MAC, MAC>DOS, MAC>UNIX
  4  the operation that fails, modulo 12, less 1: none, open, create, read, write,
     flush, close, rename, remove, chmod, chown, copy acl
  5  the call of that operation that fails, modulo 40, plus 1
  6  bit 0: an output exists already; bits 1-2: the whole file path runs when both are 0
"""
import pathlib

X = b"x"
SEEDS = {
    # name: (header, file)
    "dos": ((0, 0, 0, 0, 0, 0, 0), b"one\r\ntwo\r\n"),
    "dos-to-mac": ((2, 3, 30, 1, 0, 0, 1), b"a\r\n\r\nb\r\n"),
    "unix": ((1, 0, 0, 2, 0, 0, 0), b"one\ntwo\n"),
    "unix-to-mac": ((255, 255, 255, 3, 0, 0, 1), b"\n\nx\n"),
    "mac": ((0, 5, 0, 4, 0, 0, 0), b"one\rtwo\r"),
    "mac-to-unix": ((3, 1, 1, 5, 0, 0, 1), b"a\r\rb\r"),
    "binary": ((0, 0, 0, 0, 0, 0, 0), b"ab\0cd\n"),
    "cr-cr-lf": ((0, 0, 0, 4, 0, 0, 0), b"\r\r\n"),
    "cr-esc": ((0, 0, 0, 0, 0, 0, 0), b"\r\x1b"),
    "last-cr": ((0, 0, 0, 5, 0, 0, 0), b"abc\r"),
    "empty": ((0, 0, 0, 2, 0, 0, 1), b""),
    "japanese": ((6, 2, 2, 0, 0, 0, 0), "日本語のテキスト\r\n二行目\r\n".encode()),
    "tab-and-high-bytes": ((0, 0, 0, 2, 0, 0, 0), b"a\tb\x7f\x80\xff\n"),
    "lf-at-257": ((0, 128, 0, 2, 0, 0, 0), X * 256 + b"\n"),
    "lf-at-258": ((0, 128, 0, 2, 0, 0, 0), X * 257 + b"\n"),
    "crlf-at-256": ((0, 128, 0, 0, 0, 0, 0), X * 255 + b"\r\n"),
    "crlf-at-257": ((0, 128, 0, 0, 0, 0, 0), X * 256 + b"\r\n"),
    "last-cr-at-256": ((0, 128, 0, 5, 0, 0, 0), X * 255 + b"\r"),
    "last-cr-at-257": ((0, 128, 0, 5, 0, 0, 0), X * 256 + b"\r"),
    "long-lines": ((99, 31, 31, 2, 0, 0, 0), b"y" * 700 + b"\r\n\n\r" + b"z" * 700),
    "write-fails": ((0, 0, 0, 2, 4, 0, 1), b"a\nb\n" * 40),
    "read-fails-late": ((3, 0, 0, 0, 3, 5, 1), b"a\r\nb\r\n" * 10),
    "rename-fails": ((0, 0, 0, 4, 7, 0, 1), b"a\rb\r"),
    "chmod-fails": ((0, 0, 0, 1, 9, 0, 1), b"a\r\nb"),
    "open-fails": ((0, 0, 0, 3, 1, 0, 0), b"a\nb"),
    "chown-fails": ((0, 0, 0, 1, 10, 0, 1), b"a\r\nb"),
    "png-head": ((0, 0, 0, 0, 0, 0, 1), b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR"),
}

corpus = pathlib.Path(__file__).resolve().parent / "corpus"
corpus.mkdir(exist_ok=True)
for name, (header, data) in SEEDS.items():
    (corpus / name).write_bytes(bytes(header) + data)
