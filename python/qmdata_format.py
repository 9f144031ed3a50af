#!/usr/bin/env python3
"""Reads and writes qmdata archive records (docs/FORMAT.md).

Standard library only: element blocks are converted in bulk by array and
struct (numpy converts no faster and takes longer to import). A file is
records back to back with nothing around them, so a reader names the record
order:

    python3 python/qmdata_format.py --records slice,vector:z,qualtag FILE

prints the records as JSON. Kinds: range, slice, qualtag, vector (the plain
vector record) and vector:z (the compressed one).

As a module:

    r = Reader(open(path, "rb").read())
    sl = r.slice(); meas = r.vector(compressed=True); tag = r.qualtag()
    data = vector_record([1, -2, 3], compressed=True, level=9)

Every refusal raises FormatError, naming the rule and the byte offset; the
C++ loaders refuse the same inputs with the thrown int -1.
"""

import argparse
import json
import struct
import sys
import zlib
from array import array

START_TAG = b"<StartVector>"
END_TAG = b"<EndVector>"
TAG_LIMIT = 19
COUNT_LIMIT = 0x40000000
SMALL_CLAIM = 16384
ZERO_BLOCK_COUNT_LIMIT = 4 * 1024 * 1024
QUAL_GOOD, QUAL_BAD = 1, 0


class FormatError(ValueError):
    """A record the loaders refuse."""


def _ints_from_bytes(raw):
    """The int32s of raw, as a list, converted in bulk (never int by int)."""
    ints = array("i")
    if ints.itemsize != 4:  # a platform whose C int is not 32 bits
        return list(struct.unpack("<%di" % (len(raw) // 4), raw))
    ints.frombytes(raw)
    if sys.byteorder == "big":
        ints.byteswap()
    return ints.tolist()


def _ints_to_bytes(values):
    fmt = "<%di" % len(values)
    try:
        return struct.pack(fmt, *values)
    except struct.error:  # a value outside int32: stored wrapped, as C++ casts it
        return struct.pack(fmt, *map(_wrap32, values))


def _wrap32(v):
    v &= 0xFFFFFFFF
    return v - 0x100000000 if v >= 0x80000000 else v


class Reader:
    """Reads records from bytes, starting at offset."""

    def __init__(self, data, offset=0):
        self.data = bytes(data)
        self.pos = offset

    def fail(self, what, at=None):
        raise FormatError("%s at byte offset %d" % (what, self.pos if at is None else at))

    def left(self):
        return len(self.data) - self.pos

    # --- primitives -------------------------------------------------------
    def raw(self, n, what="raw block"):
        if n > self.left():
            self.fail("short read of a %s of %d bytes" % (what, n))
        out = self.data[self.pos:self.pos + n]
        self.pos += n
        return out

    def int32(self):
        return struct.unpack("<i", self.raw(4, "int"))[0]

    def uint32(self):
        return struct.unpack("<I", self.raw(4, "unsigned long"))[0]

    def string(self, limit):
        at = self.pos
        n = self.uint32()
        if n > limit:
            self.fail("a string of %d bytes exceeds the limit of %d" % (n, limit), at)
        return self.raw(n, "string")

    def tag(self, expected):
        at = self.pos
        stored = self.string(TAG_LIMIT)
        # Compared as NUL-terminated strings: bytes after a NUL do not count.
        if stored.split(b"\0", 1)[0] != expected:
            self.fail("tag %r is not %r" % (stored, expected), at)

    def version(self):
        at = self.pos
        v = self.int32()
        if v > 1:
            self.fail("version %d is above 1" % v, at)
        return v

    # --- records ----------------------------------------------------------
    def vector(self, compressed=False):
        """The elements of a vector record, as a list of ints."""
        self.tag(START_TAG)
        self.version()
        at = self.pos
        n = self.int32()
        if n >= COUNT_LIMIT:
            self.fail("count %d is 0x40000000 or more" % n, at)
        elems = self._compressed_elems(n) if compressed else self._plain_elems(n)
        self.tag(END_TAG)
        return elems

    def _plain_elems(self, n):
        if n <= 0:
            return []
        if n * 4 > SMALL_CLAIM and self.left() < n * 4:
            self.fail("count %d needs more bytes than remain" % n)
        return _ints_from_bytes(self.raw(n * 4, "element block"))

    def _compressed_elems(self, n):
        at = self.pos
        raw_len = self.uint32()
        packed_len = self.uint32()
        if packed_len > raw_len + raw_len // 8 + 1024:
            self.fail("compressed length %d is too large for raw length %d"
                      % (packed_len, raw_len), at)
        if packed_len > self.left():
            self.fail("compressed length %d exceeds the stream" % packed_len, at)
        if n <= 0:
            self.raw(packed_len, "compressed block")  # read and dropped
            return []
        if raw_len != n * 4:
            self.fail("raw length %d is not count %d times 4" % (raw_len, n), at)
        if packed_len == 0:
            if n > ZERO_BLOCK_COUNT_LIMIT:
                self.fail("zero-block record of count %d above 4 Mi" % n, at)
            return [0] * n
        if raw_len > packed_len * 1032 + 64:
            self.fail("raw length %d beyond deflate's expansion of %d bytes"
                      % (raw_len, packed_len), at)
        block_at = self.pos
        block = self.raw(packed_len, "compressed block")
        d = zlib.decompressobj()
        try:
            out = d.decompress(block, raw_len + 1)
        except zlib.error as e:
            self.fail("undecodable zlib stream (%s)" % e, block_at)
        if len(out) != raw_len or not d.eof or d.unused_data or d.unconsumed_tail:
            self.fail("zlib stream does not decode to exactly %d bytes ending at "
                      "its length" % raw_len, block_at)
        return _ints_from_bytes(out)

    def range(self):
        """(start, length) of a range record."""
        self.version()
        return self.int32(), self.int32()

    def slice(self):
        """(variables, start, length) of a slice record."""
        self.version()
        variables = self.vector(compressed=False)
        start, length = self.range()
        return variables, start, length

    def qualtag(self):
        at = self.pos
        v = self.int32()
        if v not in (QUAL_BAD, QUAL_GOOD):
            self.fail("quality tag %d is neither 0 nor 1" % v, at)
        return v


# --- writers ------------------------------------------------------------------

def int32(v):
    return struct.pack("<i", _wrap32(v))


def uint32(v):
    if not 0 <= v <= 0xFFFFFFFF:
        raise ValueError("uint32 out of range: %d" % v)
    return struct.pack("<I", v)


def string(s):
    return uint32(len(s)) + s


def compress(raw, level=6, pieces=1):
    """A zlib stream of raw; pieces > 1 ends a deflate block after each piece."""
    if pieces <= 1:
        return zlib.compress(raw, level)
    c = zlib.compressobj(level)
    step = max(1, -(-len(raw) // pieces))
    out = b""
    for i in range(0, len(raw), step):
        out += c.compress(raw[i:i + step]) + c.flush(zlib.Z_FULL_FLUSH)
    return out + c.flush()


def vector_record(elems, compressed=False, level=6, pieces=1):
    n = len(elems)
    body = string(START_TAG) + int32(1) + int32(n)
    raw = _ints_to_bytes(elems) if n else b""
    if compressed:
        block = compress(raw, level, pieces)
        body += uint32(len(raw)) + uint32(len(block)) + block
    else:
        body += raw
    return body + string(END_TAG)


def range_record(start, length):
    return int32(1) + int32(start) + int32(length)


def slice_record(variables, start, length):
    return int32(1) + vector_record(variables) + range_record(start, length)


def qualtag_record(good):
    return int32(QUAL_GOOD if good else QUAL_BAD)


# --- command line -------------------------------------------------------------

def read_records(data, kinds):
    """Reads the named kinds in order; returns a list of dicts."""
    r = Reader(data)
    out = []
    for kind in kinds:
        at = r.pos
        if kind in ("vector", "vector:z"):
            value = r.vector(compressed=kind == "vector:z")
        elif kind == "range":
            start, length = r.range()
            value = {"start": start, "length": length}
        elif kind == "slice":
            variables, start, length = r.slice()
            value = {"vars": variables, "start": start, "length": length}
        elif kind == "qualtag":
            value = "good" if r.qualtag() == QUAL_GOOD else "bad"
        else:
            raise ValueError("unknown record kind %r" % kind)
        out.append({"kind": kind, "offset": at, "size": r.pos - at, "value": value})
    if r.left():
        r.fail("%d bytes left after the last record" % r.left())
    return out


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--records", required=True,
                    help="record order, e.g. slice,vector:z,qualtag")
    ap.add_argument("file")
    args = ap.parse_args(argv)
    with open(args.file, "rb") as f:
        data = f.read()
    try:
        records = read_records(data, [k.strip() for k in args.records.split(",")])
    except (FormatError, ValueError) as e:
        print("%s: %s" % (args.file, e), file=sys.stderr)
        return 1
    # dumps, not dump: dump writes through the pure-Python encoder, piece by
    # piece, which takes seconds for a million elements.
    sys.stdout.write(json.dumps(records) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
