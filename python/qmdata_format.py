#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Reads and writes qmdata archive records (docs/FORMAT.md).

A file is records back to back with nothing around them, so a reader names
the record order. The command (installed as qmdata-dump by
`pip install ./python`) prints them as JSON, indented or as one line per
record, and writes that JSON back:

    python3 python/qmdata_format.py --records slice,vector:z,qualtag FILE
    qmdata-dump --summary --records slice,vector:z,qualtag FILE
    qmdata-dump --guess FILE            # which record orders read FILE?
    qmdata-dump --plot OUT.png FILE     # draw its vectors (matplotlib)
    qmdata-dump --write RECORDS.json OUT    # the dump's JSON back to a file

As a module:

    records = read("data.bin", "slice,vector:z,qualtag")  # or bytes; no kinds: the best guess
    meas = records[1]["value"]          # a numpy int32 array (a list without numpy)
    meas[0] = 7
    write(records, "fixed.bin")         # or write(records): the bytes

Each record is a dict: kind, offset, size and value, where value is the
elements of a vector, {"vars", "start", "length"} of a slice, {"start",
"length"} of a range, or "good" or "bad"; write() takes the same dicts
(offset and size are ignored). The one-record writers (vector_record,
range_record, slice_record, qualtag_record) and Reader serve tests that
need bytes the library would not write.

Every refusal raises FormatError, naming the record, the byte offset and
what is wrong; the C++ loaders refuse the same inputs with the thrown int -1.
Standard library only, except that read() gives numpy arrays where numpy
is installed and --plot needs matplotlib: element blocks are converted in
bulk by array and struct.
"""

import argparse
import heapq
import importlib.util
import json
import operator
import os
import stat
import struct
import sys
import tempfile
import zlib
from array import array

__version__ = "1.1.0"

START_TAG = b"<StartVector>"
END_TAG = b"<EndVector>"
TAG_LIMIT = 19
COUNT_LIMIT = 0x40000000
ZERO_BLOCK_COUNT_LIMIT = 4 * 1024 * 1024
QUAL_GOOD, QUAL_BAD = 1, 0

# The record kinds a file may hold, as --records names them.
KINDS = {
    "slice": "slice record: version, the plain vector of variables, a range",
    "vector": "vector record in the plain form: the elements as they are",
    "vector:z": "vector record in the compressed form: a zlib stream of them",
    "range": "range record: version, start, length (12 bytes)",
    "qualtag": "quality tag: 1 for good, 0 for bad (4 bytes)",
}


class FormatError(ValueError):
    """A record the loaders refuse.

    problem says what is wrong and offset where the failing item starts;
    read_records adds the record's index (from 1) and kind, and a hint when
    the bytes fit another record order or the other vector form.
    """

    def __init__(self, problem, offset, misplaced=False):
        super().__init__(problem)
        self.problem = problem
        self.offset = offset
        self.misplaced = misplaced  # the bytes do not look like the item at all
        self.index = self.kind = self.hint = None

    def __str__(self):
        where = "byte offset %d" % self.offset
        if self.index is not None:
            where = "record %d (%s) at %s" % (self.index, self.kind, where)
        hint = " (%s)" % self.hint if self.hint else ""
        return "%s: %s%s" % (where, self.problem, hint)


def _ints_from_bytes(raw):
    """The int32s of raw, as a list, converted in bulk (never int by int)."""
    ints = array("i")  # a C int: 32 bits wherever CPython runs
    ints.frombytes(raw)
    if sys.byteorder == "big":
        ints.byteswap()
    return ints.tolist()


def _numpy_ints(raw):
    """The int32s of raw as a numpy int32 array of its own."""
    import numpy
    return numpy.frombuffer(raw, dtype="<i4").astype(numpy.int32)


def _ints_to_bytes(values):
    if hasattr(values, "dtype"):  # a numpy array: wrapped to int32 as C++ casts
        return values.astype("<i4").tobytes()
    fmt = "<%di" % len(values)
    try:
        return struct.pack(fmt, *values)
    except struct.error:  # a value outside int32: stored wrapped, as C++ casts it
        return struct.pack(fmt, *map(_wrap32, values))


def _wrap32(v):
    v &= 0xFFFFFFFF
    return v - 0x100000000 if v >= 0x80000000 else v


def _quoted(stored):
    """Stored bytes in double quotes, unprintable ones as \\xNN."""
    return '"%s"' % "".join(chr(c) if 32 <= c < 127 and c not in b'"\\' else
                            "\\x%02x" % c for c in stored)


def _remain(n):
    return "none remains" if n == 0 else "1 remains" if n == 1 else "%d remain" % n


class Reader:
    """Reads records from bytes, starting at offset.

    The what arguments name the item in the messages of FormatError; ints
    turns a block of little-endian int32s into the elements returned.
    """

    def __init__(self, data, offset=0, ints=_ints_from_bytes):
        self.data = bytes(data)
        self.pos = offset
        self.ints = ints

    def fail(self, problem, at=None, misplaced=False):
        raise FormatError(problem, self.pos if at is None else at, misplaced)

    def left(self):
        return len(self.data) - self.pos

    def need(self, n, what):
        """Fails as truncated unless n bytes remain for what."""
        if n > self.left():
            self.fail("truncated: %s needs %d bytes, %s" % (what, n, _remain(self.left())))

    # --- primitives -------------------------------------------------------
    def raw(self, n, what="the raw block"):
        self.need(n, what)
        out = self.data[self.pos:self.pos + n]
        self.pos += n
        return out

    def int32(self, what="an int32"):
        return struct.unpack("<i", self.raw(4, what))[0]

    def uint32(self, what="a uint32"):
        return struct.unpack("<I", self.raw(4, what))[0]

    def string(self, limit, what="the string"):
        at = self.pos
        n = self.uint32("the length of " + what)
        if n > limit:
            self.fail("%s is %d bytes long, more than the %d allowed" % (what, n, limit),
                      at, misplaced=True)
        if n > self.left():  # the whole string, length included, from its start
            self.fail("truncated: %s needs %d bytes, %s" % (what, 4 + n, _remain(4 + self.left())),
                      at)
        return self.raw(n, what)

    def tag(self, expected, what="the tag"):
        at = self.pos
        stored = self.string(TAG_LIMIT, what)
        # Compared as NUL-terminated strings: bytes after a NUL do not count.
        text = stored.split(b"\0", 1)[0]
        if text != expected:
            problem = "%s is %s, not %s" % (what, _quoted(stored), _quoted(expected))
            if text.lower() == expected.lower():
                problem += "; tags are case-sensitive"
            self.fail(problem, at, misplaced=not text.startswith(b"<"))

    def version(self, what="the version"):
        at = self.pos
        v = self.int32(what)
        if v > 1:
            problem = "%s is %d, newer than the 1 this reader knows" % (what, v)
            # A vector record's start tag where a version should be: the
            # records are read in another order than they were written.
            tag = self.data[at:at + 4 + len(START_TAG)] == string(START_TAG)
            if tag:
                problem += "; the bytes there are a vector record's start tag"
            self.fail(problem, at, misplaced=tag)
        return v

    # --- records ----------------------------------------------------------
    def vector(self, compressed=False):
        """The elements of a vector record (a list of ints by default)."""
        self.tag(START_TAG, "the start tag")
        self.version("the vector version")
        at = self.pos
        n = self.int32("the count")
        if n >= COUNT_LIMIT:
            self.fail("the count %d is 0x40000000 or more (a block of 4 GiB or more)" % n, at)
        elems = self._compressed_elems(n) if compressed else self._plain_elems(n)
        self.tag(END_TAG, "the end tag")
        return elems

    def _plain_elems(self, n):
        if n <= 0:
            return self.ints(b"")
        # Checked before the block is taken, as the C++ loader does for a
        # large claim: a lying count costs no memory.
        return self.ints(self.raw(n * 4, "the block of %d elements" % n))

    def _compressed_elems(self, n):
        at = self.pos
        raw_len = self.uint32("the raw length")
        # Every writer stores count * 4, and 0 for no elements.
        if n <= 0 and raw_len != 0:
            self.fail("the raw length %d is not 0 for the count %d" % (raw_len, n), at)
        if n > 0 and raw_len != n * 4:
            self.fail("the raw length %d is not 4 times the count %d" % (raw_len, n), at)
        packed_len = self.uint32("the compressed length")
        self.need(packed_len, "the compressed block")
        if n <= 0:
            self.pos += packed_len  # read and dropped, never decoded
            return self.ints(b"")
        if packed_len == 0:
            if n > ZERO_BLOCK_COUNT_LIMIT:
                self.fail("an empty compressed block stands for at most %d zeros, "
                          "not %d" % (ZERO_BLOCK_COUNT_LIMIT, n))
            return self.ints(bytes(4 * n))
        if raw_len > packed_len * 1032 + 64:
            self.fail("%d compressed bytes cannot expand to the raw length %d"
                      % (packed_len, raw_len))
        block_at = self.pos
        block = self.raw(packed_len, "the compressed block")
        d = zlib.decompressobj()
        try:
            out = d.decompress(block, raw_len + 1)
        except zlib.error as e:
            self.fail("the compressed block is not a valid zlib stream (%s)" % e, block_at)
        if len(out) > raw_len:
            self.fail("the zlib stream holds more than the raw length %d" % raw_len, block_at)
        if not d.eof:
            self.fail("the compressed block ends inside its zlib stream, %d of the "
                      "%d bytes decoded" % (len(out), raw_len), block_at)
        if len(out) < raw_len:
            self.fail("the zlib stream holds %d bytes, not the raw length %d"
                      % (len(out), raw_len), block_at)
        if d.unused_data:
            self.fail("%d bytes follow the zlib stream inside the compressed block"
                      % len(d.unused_data), block_at)
        return self.ints(out)

    def range(self):
        """(start, length) of a range record."""
        self.version("the range version")
        return self.int32("the range start"), self.int32("the range length")

    def slice(self):
        """(variables, start, length) of a slice record."""
        self.version("the slice version")
        variables = self.vector(compressed=False)
        start, length = self.range()
        return variables, start, length

    def qualtag(self):
        at = self.pos
        v = self.int32("the quality tag")
        if v not in (QUAL_BAD, QUAL_GOOD):
            self.fail("the quality tag is %d; only 0 (bad) and 1 (good) are defined" % v,
                      at, misplaced=True)
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
    """A vector record of elems (ints outside int32 stored wrapped)."""
    n = len(elems)
    return _vector_record(_ints_to_bytes(elems) if n else b"", n, compressed, level, pieces)


def _vector_record(raw, n, compressed, level=6, pieces=1):
    body = string(START_TAG) + int32(1) + int32(n)
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


# --- reading and writing whole files --------------------------------------------

def read(source, kinds=None, strict=False, arrays=None):
    """The records of source, a path or bytes, as read_records gives them.

    kinds names the records in order (a list, or "slice,vector:z,qualtag");
    None takes the best guess (guess_orders), and raises the FormatError of
    the longest reading when no order reads the whole file. Vectors, and a
    slice's variables, are numpy int32 arrays when arrays is true, lists
    when false; None: arrays where numpy is installed."""
    if isinstance(source, (bytes, bytearray, memoryview)):
        data = bytes(source)
    else:
        with open(source, "rb") as f:
            data = f.read()
    if isinstance(kinds, str):
        kinds = [k.strip() for k in kinds.split(",")]
    if kinds is None:
        orders, _, longest = guess_orders(data, 1)
        if not orders:
            raise longest[2] or FormatError("no order of record kinds reads it all", longest[0])
        kinds = orders[0]
    if arrays is None:
        arrays = importlib.util.find_spec("numpy") is not None
    return read_records(data, kinds, strict, arrays)


def write(records, out=None, level=6):
    """The bytes of records (dicts with kind and value, as read() and the
    dump give them; vectors as lists or numpy integer arrays), also written
    to out when given: a binary file object, or a path, replaced whole
    through a temporary file so that no reader sees it half written.
    Compressed vectors use zlib at level. Raises ValueError, naming the
    record (from 1), when a record is not one the format can hold, before
    anything is written."""
    if not isinstance(records, (list, tuple)):
        raise ValueError('the records must be a list of {"kind": ..., "value": ...}, '
                         "as the dump writes them")
    parts = []
    for index, record in enumerate(records, 1):
        kind = record.get("kind") if isinstance(record, dict) else None
        kind = kind if isinstance(kind, str) and kind in KINDS else None
        try:
            parts.append(_record_bytes(record, kind, level))
        except ValueError as e:
            where = "record %d" % index + (" (%s)" % kind if kind else "")
            raise ValueError("%s: %s" % (where, e)) from None
    data = b"".join(parts)
    if hasattr(out, "write"):
        out.write(data)
    elif out is not None:
        _replace_file(out, data)
    return data


_FIELDS = {"slice": ("vars", "start", "length"), "range": ("start", "length")}


def _record_bytes(record, kind, level):
    if not isinstance(record, dict):
        raise ValueError('not {"kind": ..., "value": ...} but %s' % _shown(record))
    extra = sorted(set(record) - {"kind", "value", "offset", "size"})
    if extra:
        raise ValueError("unknown key %s (a record has kind and value; offset and size "
                         "are ignored)" % json.dumps(extra[0]))
    if kind is None:
        raise ValueError("unknown kind %s (the kinds: %s)"
                         % (_shown(record.get("kind")), ", ".join(KINDS)))
    if "value" not in record:
        raise ValueError("no value")
    value = record["value"]
    if kind in ("vector", "vector:z"):
        return _vector_record(*_int32_block(value, "value"), kind == "vector:z", level)
    if kind == "qualtag":
        if value not in ("good", "bad"):
            raise ValueError('the value is %s, not "good" or "bad"' % _shown(value))
        return qualtag_record(value == "good")
    fields = _FIELDS[kind]
    if not isinstance(value, dict) or sorted(value) != sorted(fields):
        raise ValueError("the value is %s, not {%s}" % (
            _shown(value), ", ".join('"%s": %s' % (f, "[INT...]" if f == "vars" else "INT")
                                     for f in fields)))
    start, length = (_int32(value[f], "the " + f) for f in ("start", "length"))
    if kind == "range":
        return range_record(start, length)
    raw, n = _int32_block(value["vars"], "vars")
    return int32(1) + _vector_record(raw, n, False) + range_record(start, length)


def _shown(value, limit=40):
    text = json.dumps(value) if isinstance(value, (dict, list, str, int, float, type(None))) \
        else repr(value)
    return text if len(text) <= limit else text[:limit - 3] + "..."


def _int32(v, what):
    try:
        if isinstance(v, bool):
            raise TypeError
        v = operator.index(v)  # an int, or a numpy integer
    except TypeError:
        raise ValueError("%s is %s, not an integer" % (what, _shown(v))) from None
    if not -0x80000000 <= v <= 0x7FFFFFFF:
        raise ValueError("%s is %d, outside the int32 range" % (what, v))
    return v


def _int32_block(values, what):
    """(little-endian bytes, count) of values, a list of ints or a numpy
    integer array, each of which must fit an int32."""
    if hasattr(values, "dtype"):
        if values.ndim != 1 or values.dtype.kind not in "iu":
            raise ValueError("%s is a %d-dimensional %s array, not one of integers"
                             % (what, values.ndim, values.dtype))
        wide = values.astype("int64")
        bad = ((wide < -0x80000000) | (wide > 0x7FFFFFFF)).nonzero()[0]
        if len(bad):
            raise ValueError("%s[%d] is %d, outside the int32 range"
                             % (what, bad[0], values[bad[0]]))
        return values.astype("<i4").tobytes(), len(values)
    if not isinstance(values, (list, tuple)):
        raise ValueError("%s is %s, not a list of integers" % (what, _shown(values)))
    try:
        ints = array("i", values)  # a C int: 32 bits; refuses others and floats
        if any(type(v) is bool for v in values):
            raise TypeError
    except (TypeError, OverflowError):
        for i, v in enumerate(values):
            _int32(v, "%s[%d]" % (what, i))
        raise ValueError("%s holds a value that is not an int32" % what) from None
    if sys.byteorder == "big":
        ints.byteswap()
    return ints.tobytes(), len(ints)


def _replace_file(path, data):
    """Writes data to a temporary file beside path, then renames it to path:
    path holds either what it held or all of data, never a part."""
    path = os.fspath(path)
    fd, tmp = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".",
                               dir=os.path.dirname(os.path.abspath(path)))
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        try:  # the mode of the file replaced, else what open() would give
            mode = stat.S_IMODE(os.stat(path).st_mode)
        except FileNotFoundError:
            mode = os.umask(0)
            os.umask(mode)
            mode = 0o666 & ~mode
        os.chmod(tmp, mode)
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


# --- command line -------------------------------------------------------------

def _read_value(r, kind):
    if kind in ("vector", "vector:z"):
        return r.vector(compressed=kind == "vector:z")
    if kind == "range":
        start, length = r.range()
        return {"start": start, "length": length}
    if kind == "slice":
        variables, start, length = r.slice()
        return {"vars": variables, "start": start, "length": length}
    return "good" if r.qualtag() == QUAL_GOOD else "bad"


def read_records(data, kinds, strict=False, arrays=False):
    """Reads the named kinds in order; returns a list of dicts (kind, offset,
    size, value), vectors as lists, or as numpy int32 arrays when arrays.
    Bytes after the last record are left, as the C++ library leaves them,
    unless strict, which refuses them."""
    for kind in kinds:
        if kind not in KINDS:
            raise ValueError("unknown record kind %r" % kind)
    r = Reader(data, ints=_numpy_ints if arrays else _ints_from_bytes)
    out = []
    for index, kind in enumerate(kinds, 1):
        at = r.pos
        try:
            value = _read_value(r, kind)
        except FormatError as e:
            e.index, e.kind = index, kind
            other = {"vector": "vector:z", "vector:z": "vector"}.get(kind)
            if other and _reads_as(data, at, other):
                e.hint = "it reads as the %s form: name it %s" % (
                    "compressed" if other == "vector:z" else "plain", other)
            elif e.misplaced and len(kinds) > 1:
                e.hint = "are the records named in the order the file holds them?"
            raise
        out.append({"kind": kind, "offset": at, "size": r.pos - at, "value": value})
    if strict and r.left():
        raise FormatError("%d bytes follow the last record (record %d, %s), "
                          "refused when strict" % (r.left(), len(kinds), kinds[-1]), r.pos)
    return out


def _reads_as(data, at, kind):
    try:
        _read_value(Reader(data, at), kind)
        return True
    except FormatError:
        return False


# --- guessing the record order and plotting -----------------------------------

# How unlikely a record of each kind is to be a chance reading: a vector or a
# slice passes tag checks, a range or a quality tag almost any 12 or 4 bytes.
_GUESS_WEIGHT = {"slice": 1, "vector": 1, "vector:z": 1, "range": 3, "qualtag": 3}


_GUESS_COUNT_CAP = 10 ** 6
# What the bytes at a record's start must be for the record to have a chance:
# (offset in the record, bytes) of its start tag, or the values its first int
# may take (ranges: any version up to 1). A cheap filter before the reader.
_TAGGED = string(START_TAG)
_GUESS_START = {"vector": (0, _TAGGED), "vector:z": (0, _TAGGED), "slice": (4, _TAGGED)}


def _record_end(data, at, kind):
    """Where a record of kind read at offset at ends, or None if it does not read."""
    if kind in _GUESS_START:
        skip, tag = _GUESS_START[kind]
        if data[at + skip:at + skip + len(tag)] != tag:
            return None
    elif len(data) - at >= 4:
        first = struct.unpack_from("<i", data, at)[0]
        if first > 1 or (kind == "qualtag" and first < 0):
            return None
    r = Reader(data, at)
    try:
        _read_value(r, kind)
    except FormatError:
        return None
    return r.pos


def guess_orders(data, limit=5):
    """The record orders that read all of data, most plausible first.

    Returns (orders, count, longest): at most limit orders (lists of kinds),
    the number of orders there are in all (at most _GUESS_COUNT_CAP: that
    many or more), and, for a file that no order reads, (offset, kinds,
    error) of the order that reads the most bytes, error being why the next
    record fails there (next_failure). Fewer
    records, and fewer ranges and quality tags, are more plausible. Each
    offset is read at most once per kind, so the work grows with the bytes
    that record starts can reach, not with the number of orders."""
    size = len(data)
    edges = {}  # offset -> [(kind, end)]
    todo = [0]
    while todo:
        at = todo.pop()
        if at in edges or at >= size:
            continue
        edges[at] = [(k, e) for k in KINDS for e in [_record_end(data, at, k)]
                     if e is not None]
        todo.extend(e for _, e in edges[at])
    # From the end back: the least weight of an order from each offset to
    # the end of the file, and the number of such orders.
    best, count = {size: 0}, {size: 1}
    for at in sorted(edges, reverse=True):
        ways = [e for _, e in edges[at] if e in best]
        if ways:
            best[at] = min(_GUESS_WEIGHT[k] + best[e] for k, e in edges[at] if e in best)
            count[at] = min(sum(count[e] for e in ways), _GUESS_COUNT_CAP)
    if 0 not in best:
        came = {0: None}  # offset -> (kind, offset before) of one reading
        for at in sorted(edges):
            for k, e in edges[at]:
                if at in came and e not in came:
                    came[e] = (k, at)
        far = max(came)
        kinds, at = [], far
        while came[at]:
            kinds.append(came[at][0])
            at = came[at][1]
        kinds.reverse()
        return [], 0, (far, kinds, next_failure(data, far, len(kinds) + 1))
    # Best-first over partial orders, ranked by their weight so far plus the
    # least weight to the end: whole orders come out cheapest first.
    orders, heap, tie = [], [(best[0], 0, 0, 0, None)], 0
    while heap and len(orders) < limit:
        f, _, _, at, chain = heapq.heappop(heap)
        if at == size:
            kinds = []
            while chain:
                kinds.append(chain[0])
                chain = chain[1]
            orders.append(kinds[::-1])
            continue
        g = f - best[at]
        for k, e in edges[at]:
            if e in best:
                tie += 1
                heapq.heappush(heap, (g + _GUESS_WEIGHT[k] + best[e], -e, tie, e, (k, chain)))
    return orders, count[0], None


def next_failure(data, at, index):
    """Why no record reads from offset at: the FormatError, its index set to
    index, of the kind that reads furthest before it fails (of equals, the
    one least likely to be a chance reading). None when one reads after all
    (a tag with bytes after its NUL, which the guess does not try)."""
    errors = []
    for kind in KINDS:
        try:
            _read_value(Reader(data, at), kind)
        except FormatError as e:
            e.index, e.kind = index, kind
            errors.append(e)
    if len(errors) < len(KINDS):
        return None
    return max(errors, key=lambda e: (e.offset, -_GUESS_WEIGHT[e.kind]))


def guess_report(data, name):
    """The --guess text and exit status: 0 when some order reads all of data."""
    orders, count, longest = guess_orders(data)
    if not orders:
        far, kinds, error = longest
        text = ("%s: no order of record kinds reads all %d bytes" % (name, len(data)))
        if kinds:
            text += ("; the longest reading stops at byte offset %d: --records %s"
                     % (far, ",".join(kinds)))
        if error:
            text += "\n  the next record fails there: %s" % error
        return text, 1
    lines = ["%s: %s order%s of record kinds read%s all %d bytes%s:"
             % (name, count if count < _GUESS_COUNT_CAP else "%d or more" % count,
                "" if count == 1 else "s", "s" if count == 1 else "",
                len(data), ", most plausible first" if count > 1 else "")]
    lines += ["  --records " + ",".join(o) for o in orders]
    if count > len(orders):
        lines.append("  (and %s more)" % (count - len(orders) if count < _GUESS_COUNT_CAP
                                          else "many"))
    return "\n".join(lines), 0


DETAIL = 4000  # elements drawn point by point: a whole short vector, or a long one's detail


def envelope(values, columns):
    """values cut into min(columns, len(values)) buckets of consecutive
    elements, as even as integers allow: (starts, mins, maxs), bucket i
    running from starts[i] to the next start (the last to the end) with its
    exact minimum and maximum. A numpy array is reduced by numpy, a list
    element by element."""
    n = len(values)
    columns = max(1, min(columns, n))
    starts = [i * n // columns for i in range(columns)] if n else []
    if hasattr(values, "dtype"):
        import numpy
        return (numpy.array(starts, dtype=numpy.int64), numpy.minimum.reduceat(values, starts),
                numpy.maximum.reduceat(values, starts))
    ends = starts[1:] + [n]
    return (starts, [min(values[a:b]) for a, b in zip(starts, ends)],
            [max(values[a:b]) for a, b in zip(starts, ends)])


def plot_vectors(records, out, title="", detail=None):
    """Draws every vector record into the PNG file out, one row each, and
    returns the number of rows; raises ImportError without matplotlib.

    A vector of at most DETAIL elements is drawn point by point. A longer
    one gets an overview, the envelope with one bucket per pixel column of
    its axis, so every element's value lies in its column's band and the
    band holds nothing else, and beside it a detail panel of the elements
    detail names ((first, stop), default the first DETAIL) point by point."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy
    vectors = [(i, r) for i, r in enumerate(records, 1) if r["kind"] in ("vector", "vector:z")]
    if not vectors:
        return 0
    fig = plt.figure(figsize=(12, 2.4 * len(vectors) + 0.6), dpi=100)
    grid = fig.add_gridspec(len(vectors), 3)
    overviews, bottom = [], []
    for row, (i, r) in enumerate(vectors):
        values = numpy.asarray(r["value"], dtype=numpy.int32)
        n, name = len(values), "record %d (%s)" % (i, r["kind"])
        if n <= DETAIL:
            ax = fig.add_subplot(grid[row, :])
            _plot_points(ax, values, 0, n)
            ax.set_title("%s: %d elements, one point each" % (name, n), fontsize=9)
            bottom = [ax]
            continue
        ax, dx = fig.add_subplot(grid[row, :2]), fig.add_subplot(grid[row, 2])
        first, stop = detail or (0, DETAIL)
        first = min(first, n - 1)
        stop = min(max(stop, first + 1), n)
        _plot_points(dx, values, first, stop)
        dx.set_title("elements %d to %d, one point each" % (first, stop - 1), fontsize=9)
        ax.axvspan(first, stop, color="C1", alpha=0.5, linewidth=1, zorder=3)  # the detail
        ax.set_xlim(0, n)
        _value_limits(ax, values)
        ax.set_title(name, fontsize=9)  # the same height as the title drawn later
        overviews.append((ax, values, name))
        bottom = [ax, dx]
    for ax in bottom:
        ax.set_xlabel("element index")
    if title:
        fig.suptitle(title, fontsize=10)
    fig.tight_layout()
    # The axes are placed. Each overview's edges are moved to whole pixels
    # and each bucket drawn, unsmoothed, as a bar one pixel wide, its own
    # pixel column, from half a pixel below its minimum to half a pixel
    # above its maximum, as a line through its points would be drawn (so
    # that a flat stretch shows).
    fw, fh = fig.bbox.width, fig.bbox.height
    for ax, values, name in overviews:
        box = ax.get_window_extent()
        x0, x1 = round(box.x0), round(box.x1)
        ax.set_position([x0 / fw, box.y0 / fh, (x1 - x0) / fw, box.height / fh])
        starts, mins, maxs = envelope(values, x1 - x0)
        centres = (numpy.arange(len(starts)) + 0.5) * (len(values) / len(starts))
        bottom_y, top_y = ax.get_ylim()
        half = (top_y - bottom_y) / box.height / 2
        ax.vlines(centres, mins - half, maxs + half, colors="C0", linewidth=72 / fig.dpi,
                  antialiased=False)
        ax.set_title("%s: %d elements, the minimum to the maximum of each of %d pixel "
                     "columns (%.0f elements each)"
                     % (name, len(values), len(starts), len(values) / len(starts)), fontsize=9)
    fig.savefig(out, dpi=fig.dpi)
    plt.close(fig)
    return len(vectors)


def _plot_points(ax, values, first, stop):
    """values[first:stop], every element a point joined to the next."""
    few = stop - first <= 200
    ax.plot(range(first, stop), values[first:stop], linewidth=0.7,
            marker="." if few else None, markersize=3)
    ax.set_xlim(first, max(stop - 1, first + 1))
    _value_limits(ax, values[first:stop])


def _value_limits(ax, values):
    """Whole numbers on the axes; the values' range a little widened."""
    from matplotlib.ticker import MaxNLocator
    if len(values):
        lo, hi = int(values.min()), int(values.max())
        pad = max(1, (hi - lo) / 20)
        ax.set_ylim(lo - pad, hi + pad)
    ax.ticklabel_format(axis="both", style="plain", useOffset=False)
    ax.yaxis.set_major_locator(MaxNLocator(integer=True, steps=[1, 2, 2.5, 5, 10]))


def _ints_summary(name, ints):
    line = " %s=%d" % (name, len(ints))
    return line + (" min=%d max=%d" % (min(ints), max(ints)) if ints else "")


def summary_line(index, record):
    """One line for a record: index, kind, offset, size and what it holds."""
    kind, value = record["kind"], record["value"]
    line = "%d %s offset=%d size=%d" % (index, kind, record["offset"], record["size"])
    if kind in ("vector", "vector:z"):
        return line + _ints_summary("count", value)
    if kind == "slice":
        line += _ints_summary("vars", value["vars"])
    if kind in ("slice", "range"):
        return line + " start=%d length=%d" % (value["start"], value["length"])
    return line + " value=" + value


def to_json(value, indent=None, _margin=""):
    """The records (dicts, lists, ints, strings) as json.dumps writes them, or
    indented by indent spaces with int lists wrapped at 16 numbers a line.
    An int list is written by str(), which gives the same text as the json
    encoder three times faster."""
    inner = _margin + " " * (indent or 0)
    start, sep, end = ("", ", ", "") if indent is None else \
        ("\n" + inner, ",\n" + inner, "\n" + _margin)
    if isinstance(value, dict) and value:
        items = (json.dumps(k) + ": " + to_json(v, indent, inner) for k, v in value.items())
    elif isinstance(value, list) and value and isinstance(value[0], dict):
        items = (to_json(v, indent, inner) for v in value)
    elif isinstance(value, list) and indent is not None and len(value) > 16:
        items = (str(value[i:i + 16])[1:-1] for i in range(0, len(value), 16))
    else:
        return str(value) if isinstance(value, list) else json.dumps(value)
    brackets = "{}" if isinstance(value, dict) else "[]"
    return brackets[0] + start + sep.join(items) + end + brackets[1]


def _kind_list(text):
    kinds = [k.strip() for k in text.split(",")]
    unknown = [k for k in kinds if k not in KINDS]
    if unknown:
        raise argparse.ArgumentTypeError("unknown record kind %r (the kinds: %s)"
                                         % (unknown[0], ", ".join(KINDS)))
    return kinds


EPILOG = """record kinds:
%s

Name the records in the order the file holds them, and each vector in the
form it was written in: the bytes do not say (--guess lists the orders
that fit).

exit status:
  0  the file reads as the records named; bytes after the last record are
     reported on stderr and left unread, as the C++ library leaves them
  1  it does not: the message names the record (from 1), its kind, the byte
     offset and what is wrong; with --strict, bytes after the last record
  2  a usage error, or a file that cannot be opened; --plot without matplotlib;
     --write with records that are not JSON or not ones the format holds
--guess exits 0 when some order reads the whole file, else 1; --plot exits 0
when it drew a vector, 1 when the file does not read or holds no vector.

--write takes the JSON the dump prints (compact or --pretty; offset and size
are ignored), so a file can be dumped, edited and written back. A compressed
vector gets zlib's level-6 stream, as the library's zlib backend writes it:
a file comes back byte for byte when its vectors are plain or the library
was built with zlib; from a libdeflate build, the values come back in a
stream of another size.""" % "\n".join(
    "  %-9s %s" % kv for kv in KINDS.items())


def _window(text):
    try:
        first, stop = (int(t) for t in text.split(":"))
        if 0 <= first < stop:
            return first, stop
    except ValueError:
        pass
    raise argparse.ArgumentTypeError("%r is not FIRST:STOP with 0 <= FIRST < STOP" % text)


def main(argv=None):
    ap = argparse.ArgumentParser(
        description="Prints the records of a qmdata archive file as JSON, guesses "
        "their order or draws its vectors.",
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--version", action="version", version="%(prog)s " + __version__)
    ap.add_argument("--records", type=_kind_list, metavar="KIND,...",
                    help="the file's records in order, e.g. slice,vector:z,qualtag "
                    "(needed to dump; --plot without it takes the best guess)")
    form = ap.add_mutually_exclusive_group()
    form.add_argument("--summary", action="store_true",
                      help="one line per record: index, kind, offset, size and, for "
                      "vectors, count, min and max")
    form.add_argument("--pretty", action="store_true", help="indented JSON")
    form.add_argument("--guess", action="store_true",
                      help="list the record orders that read the whole file, most "
                      "plausible first (exit status 1 when none does)")
    form.add_argument("--plot", metavar="OUT.png",
                      help="draw each vector record into OUT.png: a long one as the "
                      "minimum to maximum of each pixel column, beside its first %d "
                      "elements one by one; a short one whole (needs matplotlib)" % DETAIL)
    form.add_argument("--write", metavar="RECORDS.json",
                      help="write the records of RECORDS.json, as the dump prints them "
                      "('-': standard input), into FILE, replacing it whole")
    ap.add_argument("--detail", type=_window, metavar="FIRST:STOP",
                    help="with --plot, the elements FIRST to STOP - 1 of each long "
                    "vector in its detail panel")
    ap.add_argument("--strict", action="store_true",
                    help="refuse bytes after the last record (exit status 1)")
    ap.add_argument("file", metavar="FILE", help="the archive file (with --write, the "
                    "one written)")
    args = ap.parse_args(argv)
    if args.write:
        if args.records or args.strict or args.detail:
            ap.error("--write takes the kinds from RECORDS.json, with no other option")
        return _write_command(ap.prog, args.write, args.file)
    if args.detail and not args.plot:
        ap.error("--detail goes with --plot")
    if args.records is None and not (args.guess or args.plot):
        ap.error("--records is needed (or --guess to find it)")
    try:
        with open(args.file, "rb") as f:
            data = f.read()
    except OSError as e:
        print("%s: %s: %s" % (ap.prog, args.file, e.strerror or e), file=sys.stderr)
        return 2
    if args.guess:
        text, status = guess_report(data, args.file)
        print(text)
        return status
    if args.plot:
        return _plot_command(ap.prog, args, data)
    try:
        records = read_records(data, args.records, args.strict)
    except FormatError as e:
        print("%s: %s: %s" % (ap.prog, args.file, e), file=sys.stderr)
        return 1
    if args.summary:
        text = "\n".join(summary_line(i, r) for i, r in enumerate(records, 1))
    else:
        text = to_json(records, 2 if args.pretty else None)
    try:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()
    except BrokenPipeError:  # the reader left (| head): no traceback at exit
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    end = records[-1]["offset"] + records[-1]["size"]
    if end < len(data):
        print("%s: %s: note: %d bytes follow the last record, from byte offset %d; "
              "left unread, as the library leaves them (--strict refuses them)"
              % (ap.prog, args.file, len(data) - end, end), file=sys.stderr)
    return 0


def _plot_command(prog, args, data):
    """--plot: the records as named or, without --records, as best guessed."""
    if importlib.util.find_spec("matplotlib") is None:
        print("%s: --plot needs matplotlib (Debian: apt-get install python3-matplotlib)"
              % prog, file=sys.stderr)
        return 2
    kinds = args.records
    if kinds is None:
        orders = guess_orders(data, 1)[0]
        if not orders:
            print("%s: %s: no record order reads the whole file; name it with --records"
                  % (prog, args.file), file=sys.stderr)
            return 1
        kinds = orders[0]
        print("%s: %s: read as --records %s (the best guess)"
              % (prog, args.file, ",".join(kinds)), file=sys.stderr)
    try:
        records = read_records(data, kinds, args.strict)
    except FormatError as e:
        print("%s: %s: %s" % (prog, args.file, e), file=sys.stderr)
        return 1
    panels = plot_vectors(records, args.plot, os.path.basename(args.file), args.detail)
    if not panels:
        print("%s: %s: no vector record to draw" % (prog, args.file), file=sys.stderr)
        return 1
    print("%s: %d vector%s drawn into %s"
          % (prog, panels, "" if panels == 1 else "s", args.plot), file=sys.stderr)
    return 0



def _write_command(prog, source, out):
    """--write: RECORDS.json (source) into out; 2 and one line when it cannot."""
    try:
        if source == "-":
            text = sys.stdin.read()
        else:
            with open(source, encoding="utf-8") as f:
                text = f.read()
        records = json.loads(text)
    except OSError as e:
        print("%s: %s: %s" % (prog, source, e.strerror or e), file=sys.stderr)
        return 2
    except ValueError as e:  # not UTF-8, or not JSON
        print("%s: %s: not the dump's JSON: %s" % (prog, source, e), file=sys.stderr)
        return 2
    try:
        data = write(records)
    except ValueError as e:
        print("%s: %s: %s" % (prog, source, e), file=sys.stderr)
        return 2
    try:
        _replace_file(out, data)
    except OSError as e:
        print("%s: %s: %s" % (prog, out, e.strerror or e), file=sys.stderr)
        return 2
    print("%s: %d record%s, %d bytes, written to %s" % (
        prog, len(records), "" if len(records) == 1 else "s", len(data), out), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
