#!/usr/bin/env python3
"""Cross-checks qmdata_format.py against the C++ library.

  crosscheck.py decode DATA_DIR EXAMPLE_FILE
      decodes every fixture and the round-trip example's file, checking
      each value.
  crosscheck.py write OUT_DIR
      writes records (other zlib levels, a multi-block stream, damaged
      records) and OUT_DIR/manifest.txt, one case per line:
          FILE KIND ok INT...     the C++ loader must load these values
          FILE KIND fail          the C++ loader must refuse it
      where the ints are the elements (vector), start length (range),
      count vars... start length (slice) or the value (qualtag). Every case
      is first checked against this module's own reader.
"""

import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qmdata_format as q  # noqa: E402

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
            got = q.read_records(f.read(), [kind])[0]["value"]
        check(got == want, "%s: %r != %r" % (name, got, want))
    with open(os.path.join(data_dir, "archive_primitives.bin"), "rb") as f:
        r = q.Reader(f.read())
    got = [r.int32() for _ in range(4)] + [r.uint32(), r.uint32()]
    got += [r.string(19), r.string(19), r.string(0), r.raw(3)]
    check(got == [1, -2, -2**31, 0x12345678, 0xFFFFFFFF, 7, b"ab", b"", b"",
                  b"\x01\xffz"] and not r.left(), "archive_primitives.bin")
    with open(example, "rb") as f:
        recs = q.read_records(f.read(), ["slice", "vector:z", "qualtag"])
    check(recs[0]["value"] == {"vars": [2, 7, 11], "start": 5, "length": 10},
          "example slice")
    check(recs[1]["offset"] == 68 and recs[1]["value"] == example_measurements(),
          "example measurements")
    check(recs[2]["value"] == "good", "example quality tag")
    print("crosscheck: %d fixtures and the example file decoded" % (len(FIXTURES) + 1))


def damaged_cases():
    """(name, kind, bytes) that every reader must refuse."""
    e = [3, -1, 7]
    z = q.vector_record(e, compressed=True)
    block = q.compress(q._ints_to_bytes(e))

    def zrec(count, raw, packed, blk):
        return (q.string(q.START_TAG) + q.int32(1) + q.int32(count) +
                q.uint32(raw) + q.uint32(packed) + blk + q.string(q.END_TAG))

    bad_stream = bytearray(block)
    bad_stream[len(bad_stream) // 2] ^= 0x55
    bad_stream[-1] ^= 1
    cases = [
        ("cut_plain", "vector", q.vector_record(e)[:-3]),
        ("cut_zip", "vector:z", z[:30]),
        ("tag_case", "vector", q.string(b"<startVector>") + q.vector_record(e)[17:]),
        ("tag_short", "vector", q.string(b"<StartVector") + q.vector_record(e)[17:]),
        ("tag_long", "vector", q.string(b"<StartVector>" + b"x" * 7) + q.vector_record(e)[17:]),
        ("end_tag", "vector", q.vector_record(e)[:-15] + q.string(b"<EndVectoR>")),
        ("version2", "vector", q.vector_record(e)[:17] + q.int32(2) + q.vector_record(e)[21:]),
        ("count_limit", "vector", q.string(q.START_TAG) + q.int32(1) + q.int32(0x40000000)),
        ("lying_count", "vector", q.string(q.START_TAG) + q.int32(1) + q.int32(1 << 20) + q.int32(1)),
        ("raw_mismatch", "vector:z", zrec(3, 16, len(block), block)),
        ("packed_too_big", "vector:z", zrec(3, 12, 2000, b"x" * 2000)),
        ("packed_beyond", "vector:z", zrec(3, 12, 1000, block)),
        ("expansion", "vector:z", zrec(1 << 24, 1 << 26, len(block), block)),
        ("zero_block_over", "vector:z", zrec(4 * 1024 * 1024 + 1, 16 * 1024 * 1024 + 4, 0, b"")),
        ("corrupt_stream", "vector:z", zrec(3, 12, len(bad_stream), bytes(bad_stream))),
        ("trailing_in_block", "vector:z", zrec(3, 12, len(block) + 2, block + b"\0\0")),
        ("short_output", "vector:z", zrec(4, 16, len(block), block)),
        ("range_version", "range", q.int32(2) + q.int32(5) + q.int32(10)),
        ("range_cut", "range", q.range_record(5, 10)[:10]),
        ("slice_version", "slice", q.int32(2) + q.slice_record([1], 0, 1)[4:]),
        ("qualtag_2", "qualtag", q.int32(2)),
        ("qualtag_cut", "qualtag", b"\1\0"),
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
         q.uint32(0xFFFFFFFF) + q.uint32(3) + b"abc" + q.string(q.END_TAG), []),
        ("zero_block", "vector:z", q.string(q.START_TAG) + q.int32(1) + q.int32(6) +
         q.uint32(24) + q.uint32(0) + q.string(q.END_TAG), [0] * 6),
        ("range_neg", "range", q.range_record(-5, -3), [-5, -3]),
        ("slice", "slice", q.slice_record([2, 7, 11], 5, 10), [3, 2, 7, 11, 5, 10]),
        ("slice_all", "slice", q.slice_record([], 0, 1), [0, 0, 1]),
        ("qualtag_good", "qualtag", q.qualtag_record(True), [1]),
    ]
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
        got = flat(kind, q.read_records(data, [kind])[0]["value"])
        check(got == want, "python reader: %s" % name)
        with open(os.path.join(out_dir, name + ".bin"), "wb") as f:
            f.write(data)
        lines.append("%s.bin %s ok %s" % (name, kind, " ".join(map(str, want))))
    for name, kind, data in damaged_cases():
        try:
            q.read_records(data, [kind])
            check(False, "python reader accepted damaged %s" % name)
        except q.FormatError:
            pass
        with open(os.path.join(out_dir, name + ".bin"), "wb") as f:
            f.write(data)
        lines.append("%s.bin %s fail" % (name, kind))
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
