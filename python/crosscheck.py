#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Cross-checks qmdata_format.py against the C++ library.

  crosscheck.py decode DATA_DIR EXAMPLE_FILE
      decodes every fixture and the round-trip example's file, checking
      each value.
  crosscheck.py write OUT_DIR
      writes records (other zlib levels, a multi-block stream, damaged
      records) and OUT_DIR/manifest.txt, one case per line:
          FILE KIND ok INT...     the C++ loader must load these values
          FILE KIND fail OFFSET WORDS...
                                  the C++ loader must refuse it, its reason
                                  at OFFSET (this module's) saying WORDS
      where the ints are the elements (vector), start length (range),
      count vars... start length (slice) or the value (qualtag). Every case
      is first checked against this module's own reader.
"""

import importlib.util
import json
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qmdata_format as q  # noqa: E402

NUMPY = importlib.util.find_spec("numpy") is not None
ARRAYS = (False, True) if NUMPY else (False,)  # read()'s vector forms here

FIXTURES = {
    "vector_plain.bin": ("vector", [1, -2, 0x01020304]),
    "vector_plain_empty.bin": ("vector", []),
    "vector_zip.bin": ("vector:z", [1, -2, 0x01020304]),
    "range_5_10.bin": ("range", {"start": 5, "length": 10}),
    "slice_2_7_11.bin": ("slice", {"vars": [2, 7, 11], "start": 5, "length": 10}),
    "qualtag_good.bin": ("qualtag", "good"),
    "qualtag_bad.bin": ("qualtag", "bad"),
}


def example_measurements():
    seed, out = 12345, []
    for i in range(1 << 20):
        seed = (seed * 1664525 + 1013904223) & 0xFFFFFFFF
        phase = i % 2000
        wave = phase if phase < 1000 else 2000 - phase
        out.append(1000 + wave + (seed >> 29) - 4)
    return out


def check(cond, what):
    if not cond:
        sys.exit("crosscheck: " + what)


def decode(data_dir, example):
    for name, (kind, want) in sorted(FIXTURES.items()):
        with open(os.path.join(data_dir, name), "rb") as f:
            data = f.read()
        got = q.read_records(data, [kind], strict=True)[0]["value"]
        check(got == want, "%s: %r != %r" % (name, got, want))
        # Written back from either form: a plain record byte for byte, a
        # compressed one with the same values.
        for arrays in ARRAYS:
            back = q.write(q.read(data, [kind], arrays=arrays))
            check(back == data or kind == "vector:z", "%s written back" % name)
            check(q.read_records(back, [kind])[0]["value"] == want, "%s reread" % name)
    with open(os.path.join(data_dir, "archive_primitives.bin"), "rb") as f:
        r = q.Reader(f.read())
    got = [r.int32() for _ in range(4)] + [r.uint32(), r.uint32()]
    got += [r.string(19), r.string(19), r.string(0), r.raw(3)]
    check(got == [1, -2, -2**31, 0x12345678, 0xFFFFFFFF, 7, b"ab", b"", b"",
                  b"\x01\xffz"] and not r.left(), "archive_primitives.bin")
    kinds = ["slice", "vector:z", "qualtag"]
    with open(example, "rb") as f:
        data = f.read()
    recs = q.read_records(data, kinds, strict=True)
    check(recs[0]["value"] == {"vars": [2, 7, 11], "start": 5, "length": 10},
          "example slice")
    meas = example_measurements()
    check(recs[1]["offset"] == 68 and recs[1]["value"] == meas, "example measurements")
    check(recs[2]["value"] == "good", "example quality tag")
    check(q.to_json(recs) == json.dumps(recs) and json.loads(q.to_json(recs, 2)) == recs,
          "example as JSON")
    check(q.summary_line(2, recs[1]) == "2 vector:z offset=68 size=%d count=1048576 min=%d "
          "max=%d" % (recs[1]["size"], min(meas), max(meas)), "example summary")
    for arrays in ARRAYS:  # the best guess, and the values written back
        got = q.read(example, arrays=arrays)
        back = q.read_records(q.write(got), kinds)
        check([r["kind"] for r in got] == kinds and back[1]["value"] == meas and
              [r["value"] for r in back[::2]] == [r["value"] for r in recs[::2]],
              "example read and written back")
    envelopes()
    # The example cut short, or named in another order or form.
    for size, names, words in [
            (30, kinds, "record 1 (slice) at byte offset 29: truncated"),
            (1000, kinds, "record 2 (vector:z) at byte offset 101: truncated"),
            (-2, kinds, "record 3 (qualtag) at byte offset %d: truncated" % (len(data) - 4)),
            (None, ["vector:z", "slice", "qualtag"], "in the order the file holds them"),
            (None, ["slice", "vector", "qualtag"], "record 2 (vector) at byte offset 93"),
            (None, ["slice", "vector", "qualtag"], "name it vector:z")]:
        try:
            q.read_records(data[:size], names)
            check(False, "python reader accepted %s" % words)
        except q.FormatError as e:
            check(words in str(e), "%s: %s" % (words, e))
    print("crosscheck: %d fixtures and the example file decoded" % (len(FIXTURES) + 1))


def envelopes():
    """--plot's buckets of a triangle wave (period 2000, 1000 to 2000): each
    that spans a period has the wave's exact extremes; numpy's reduction
    equals the list's, element by element."""
    wave = [1000 + min(i % 2000, 2000 - i % 2000) for i in range(1 << 20)]
    forms = [wave] + ([__import__("numpy").array(wave, dtype="int32")] if NUMPY else [])
    for columns in (97, 300, 524, 1000):
        starts, mins, maxs = ([int(v) for v in part] for part in q.envelope(forms[0], columns))
        check(all([[int(v) for v in part] for part in q.envelope(f, columns)] ==
                  [starts, mins, maxs] for f in forms), "envelope forms, %d" % columns)
        ends = starts[1:] + [len(wave)]
        check(starts[0] == 0 and len(starts) == columns and
              all(a < b and (b - a < 2000 or (lo, hi) == (1000, 2000))
                  for a, b, lo, hi in zip(starts, ends, mins, maxs)), "envelope %d" % columns)


def damaged_cases():
    """(name, kinds, bytes, words of this module's message, words of the C++
    reason) that every reader must refuse, both at the same offset."""
    e = [3, -1, 7]
    z = q.vector_record(e, compressed=True)
    big = [i % 7 for i in range(100000)]
    block = q.compress(q._ints_to_bytes(e))

    def zrec(count, raw, packed, blk):
        return (q.string(q.START_TAG) + q.int32(1) + q.int32(count) +
                q.uint32(raw) + q.uint32(packed) + blk + q.string(q.END_TAG))

    bad_stream = bytearray(block)
    bad_stream[len(bad_stream) // 2] ^= 0x55
    bad_stream[-1] ^= 1
    cases = [
        ("cut_plain", "vector", q.vector_record(e)[:-3],
         "truncated: the end tag needs 15 bytes, 12 remain",
         "the end tag needs 15 bytes, 12 arrived (truncated)"),
        ("cut_zip", "vector:z", z[:30], "at byte offset 29: truncated: the compressed length",
         "the compressed length needs 4 bytes, 1 arrived (truncated)"),
        ("tag_case", "vector", q.string(b"<startVector>") + q.vector_record(e)[17:],
         "tags are case-sensitive", 'tag "<startVector>" is not "<StartVector>"'),
        ("tag_short", "vector", q.string(b"<StartVector") + q.vector_record(e)[17:],
         'the start tag is "<StartVector", not', 'tag "<StartVector" is not'),
        ("tag_long", "vector", q.string(b"<StartVector>" + b"x" * 7) + q.vector_record(e)[17:],
         "20 bytes long, more than the 19 allowed", "a string of 20 bytes exceeds the limit of 19"),
        ("end_tag", "vector", q.vector_record(e)[:-15] + q.string(b"<EndVectoR>"),
         'the end tag is "<EndVectoR>"', 'tag "<EndVectoR>" is not "<EndVector>"'),
        ("version2", "vector", q.vector_record(e)[:17] + q.int32(2) + q.vector_record(e)[21:],
         "the vector version is 2, newer", "version 2 is above 1"),
        ("count_limit", "vector", q.string(q.START_TAG) + q.int32(1) + q.int32(0x40000000),
         "the count 1073741824 is 0x40000000 or more", "count 1073741824 is not below"),
        ("lying_count", "vector", q.string(q.START_TAG) + q.int32(1) + q.int32(1 << 20) + q.int32(1),
         "truncated: the block of 1048576 elements needs 4194304 bytes",
         "the element block needs 4194304 bytes, the stream holds only 4 (truncated)"),
        ("raw_mismatch", "vector:z", zrec(3, 16, len(block), block),
         "the raw length 16 is not 4 times the count 3", "raw length 16 is not 4 x count 3"),
        ("count_zeroed", "vector:z", zrec(0, 12, len(block), block),
         "the raw length 12 is not 0 for the count 0", "raw length 12 is not 0 for count 0"),
        ("count_sign", "vector:z", zrec(-2**31 + 3, 12, len(block), block),
         "the raw length 12 is not 0 for the count -2147483645",
         "raw length 12 is not 0 for count -2147483645"),
        ("packed_too_big", "vector:z", zrec(3, 12, 2000, b"x" * 2000),
         "not a valid zlib stream", "the compressed block is not a complete zlib stream"),
        ("packed_beyond", "vector:z", zrec(3, 12, 1000, block),
         "truncated: the compressed block needs 1000 bytes, 32 remain",
         "the compressed block needs 1000 bytes, the stream holds only 32 (truncated)"),
        ("expansion", "vector:z", zrec(1 << 24, 1 << 26, len(block), block),
         "cannot expand to the raw length 67108864", "cannot decode to 67108864 bytes"),
        ("zero_block_over", "vector:z", zrec(4 * 1024 * 1024 + 1, 16 * 1024 * 1024 + 4, 0, b""),
         "at most 4194304 zeros", "holds at most 4194304 elements, not 4194305"),
        ("corrupt_stream", "vector:z", zrec(3, 12, len(bad_stream), bytes(bad_stream)),
         "not a valid zlib stream", "the compressed block is not a complete zlib stream"),
        ("trailing_in_block", "vector:z", zrec(3, 12, len(block) + 2, block + b"\0\0"),
         "2 bytes follow the zlib stream", "holds bytes after the end of its zlib stream"),
        ("short_output", "vector:z", zrec(4, 16, len(block), block),
         "the zlib stream holds 12 bytes, not the raw length 16",
         "decodes to less than the raw length"),
        ("long_output", "vector:z", zrec(2, 8, len(block), block),
         "holds more than the raw length 8", "decodes to more than the raw length"),
        ("cut_stream", "vector:z", zrec(3, 12, len(block) - 4, block[:-4]),
         "ends inside its zlib stream", "the compressed block is not a complete zlib stream"),
        ("range_version", "range", q.int32(2) + q.int32(5) + q.int32(10),
         "the range version is 2", "range record: version 2 is above 1"),
        ("range_cut", "range", q.range_record(5, 10)[:10],
         "at byte offset 8: truncated: the range length",
         "the length needs 4 bytes, 2 arrived (truncated)"),
        ("slice_version", "slice", q.int32(2) + q.slice_record([1], 0, 1)[4:],
         "the slice version is 2", "slice record: version 2 is above 1"),
        ("qualtag_2", "qualtag", q.int32(2), "the quality tag is 2", "value 2 is neither 0 nor 1"),
        ("lying_count_max", "vector", q.string(q.START_TAG) + q.int32(1) + q.int32(0x3FFFFFFF) + q.int32(1),
         "truncated: the block of 1073741823 elements needs 4294967292 bytes",
         "the element block needs 4294967292 bytes, the stream holds only 4"),
        ("qualtag_cut", "qualtag", b"\1\0", "truncated: the quality tag needs 4 bytes, 2 remain",
         "the value needs 4 bytes, 2 arrived (truncated)"),
        # Read in another form or order than written: this module's reason
        # says so; the C++ one gives the cause that its reader met.
        ("z_read_plain", "vector", z, "(it reads as the compressed form: name it vector:z)",
         "exceeds the limit of 19 at byte offset 37"),
        ("z_big_read_plain", "vector", q.vector_record(big, compressed=True),
         "the block of 100000 elements needs 400000 bytes, %d remain (it reads as the "
         "compressed form" % (len(q.vector_record(big, compressed=True)) - 25),
         "the element block needs 400000 bytes, the stream holds only %d (truncated) at "
         "byte offset 25" % (len(q.vector_record(big, compressed=True)) - 25)),
        ("plain_read_z", "vector:z", q.vector_record(e),
         "the raw length 3 is not 4 times the count 3 (it reads as the plain form",
         "raw length 3 is not 4 x count 3 at byte offset 25"),
        ("big_plain_read_z", "vector:z", q.vector_record(big),
         "the raw length 0 is not 4 times the count 100000 (it reads as the plain form",
         "raw length 0 is not 4 x count 100000 at byte offset 25"),
        ("tag_first", "qualtag,slice", q.slice_record([2, 7, 11], 5, 10) + q.qualtag_record(True),
         "record 2 (slice) at byte offset 4: the slice version is 13, newer than the 1 this "
         "reader knows; the bytes there are a vector record's start tag (are the records "
         "named in the order the file holds them?)",
         "slice record: version 13 is above 1 at byte offset 4"),
        ("slice_read_vector", "vector", q.slice_record([2, 7, 11], 5, 10),
         'the start tag is "\\x0d"', 'tag "\\x0d" is not "<StartVector>" at byte offset 0'),
    ]
    return cases


def accepted_cases():
    """(name, kind, bytes, value ints) that every reader must load."""
    rnd = random.Random(7)
    small = [rnd.randrange(-100, 100) for _ in range(50000)]
    rising = list(range(1000000, 1100000))
    noise = [rnd.randrange(-2**31, 2**31) for _ in range(20000)]
    extremes = [1, -2, 2**31 - 1, -2**31]
    nul_tag = q.string(b"<StartVector>\0xy")
    cases = [
        ("z_level1", "vector:z", q.vector_record(small, True, level=1), small),
        ("z_level9", "vector:z", q.vector_record(rising, True, level=9), rising),
        ("z_multiblock", "vector:z", q.vector_record(noise, True, pieces=13), noise),
        ("z_level0", "vector:z", q.vector_record(small[:100], True, level=0), small[:100]),
        ("plain_noise", "vector", q.vector_record(noise), noise),
        ("z_extremes", "vector:z", q.vector_record(extremes, True), extremes),
        ("tag_after_nul", "vector", nul_tag + q.vector_record([4, 5])[17:], [4, 5]),
        ("version_neg", "vector", q.vector_record([9])[:17] + q.int32(-1) + q.vector_record([9])[21:], [9]),
        ("count_neg_z", "vector:z", q.string(q.START_TAG) + q.int32(1) + q.int32(-5) +
         q.uint32(0) + q.uint32(3) + b"abc" + q.string(q.END_TAG), []),
        ("zero_block", "vector:z", q.string(q.START_TAG) + q.int32(1) + q.int32(6) +
         q.uint32(24) + q.uint32(0) + q.string(q.END_TAG), [0] * 6),
        ("range_neg", "range", q.range_record(-5, -3), [-5, -3]),
        ("slice", "slice", q.slice_record([2, 7, 11], 5, 10), [3, 2, 7, 11, 5, 10]),
        ("slice_all", "slice", q.slice_record([], 0, 1), [0, 0, 1]),
        ("qualtag_good", "qualtag", q.qualtag_record(True), [1]),
    ]
    # Written by write(), vectors as numpy arrays where numpy is present.
    for kind, value in [("vector", small[:999]), ("vector:z", noise),
                        ("range", {"start": -2**31, "length": 2**31 - 1}),
                        ("slice", {"vars": [9, -1], "start": 3, "length": 4}),
                        ("qualtag", "bad")]:
        given = value
        if NUMPY and kind.startswith("vector"):
            given = __import__("numpy").array(value, dtype="int64")
        cases.append(("write_" + kind.replace(":", "_"), kind,
                      q.write([{"kind": kind, "value": given}]), flat(kind, value)))
    return cases


def flat(kind, value):
    if kind.startswith("vector"):
        return value
    if kind == "range":
        return [value["start"], value["length"]]
    if kind == "slice":
        return [len(value["vars"])] + value["vars"] + [value["start"], value["length"]]
    return [1 if value == "good" else 0]


def write(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    lines = []
    for name, kind, data, want in accepted_cases():
        got = flat(kind, q.read_records(data, [kind], strict=True)[0]["value"])
        check(got == want, "python reader: %s" % name)
        with open(os.path.join(out_dir, name + ".bin"), "wb") as f:
            f.write(data)
        lines.append("%s.bin %s ok %s" % (name, kind, " ".join(map(str, want))))
    for name, kind, data, words, cpp_words in damaged_cases():
        try:
            q.read_records(data, kind.split(","))
            check(False, "python reader accepted damaged %s" % name)
        except q.FormatError as e:
            check(words in str(e), "%s: %s" % (name, e))
            offset = e.offset
        with open(os.path.join(out_dir, name + ".bin"), "wb") as f:
            f.write(data)
        lines.append("%s.bin %s fail %d %s" % (name, kind, offset, cpp_words))
    with open(os.path.join(out_dir, "manifest.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("crosscheck: %d cases written to %s" % (len(lines), out_dir))


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "decode":
        decode(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 3 and sys.argv[1] == "write":
        write(sys.argv[2])
    else:
        sys.exit(__doc__)
