"""Numbers written as '%.9g' writes them, all at once with numpy.

'%.9g' % x gives every single-precision value with the 9 digits that read
back to it; formatted one by one, 150,000 of them take longer than the rest
of the scene file. Here numpy works out each value's 9 digits and exponent
in double precision and lays out the characters; a value whose last digit
that arithmetic cannot be sure of (within 1e-6 of a half, or rounding up to
the next power of ten) is left to '%.9g' itself, so the text is the same,
byte for byte.
"""

import numpy as np

WIDTH = 16  # the longest '%.9g' of a float32 ("-0.000123456789", "-1.23456789e-05") and a NUL
# 10^k correctly rounded, at k + 60 for k = -60..60 (as Python divides ints)
POWERS = np.array([10 ** k if k >= 0 else 1 / 10 ** -k for k in range(-60, 61)], np.float64)
# "0000" to "9999", each as one 4-byte word, and how many 0s each ends with
FOUR = np.frombuffer(b"".join(b"%04d" % i for i in range(10000)), np.uint32)
TRAILING = np.array([4] + [len(s) - len(s.rstrip("0")) for s in map("%04d".__mod__,
                                                                    range(1, 10000))], np.int8)
# The first digit as the fourth byte of a word; each count of digits shown
# (0 to 9) as a mask of a row's bytes (the digits are its bytes 3 to 11).
FIRST = np.frombuffer(b"".join(b"\0\0\0%d" % i for i in range(10)), np.uint32)
SHOWN = np.frombuffer(b"".join(b"\xff" * (3 + i) + b"\0" * (13 - i) for i in range(10)),
                      np.complex128)
ZERO, POINT, MINUS = ord("0"), ord("."), ord("-")
PIECE = 1 << 15  # values laid out at once
SCI, NIL = 13, 14  # the layouts past 0 to 12 (the fixed ones, exponent -4 to 8)


def g9(values):
    """The '%.9g' text of each value (finite, exact in single precision) as
    characters, one row of WIDTH each, padded with NUL bytes: [n, WIDTH]."""
    x = np.asarray(values, np.float64).ravel()
    # A piece at a time: numpy's passes over 32,768 values stay in the
    # processor's cache (twice as fast as over 150,000).
    return np.concatenate([g9_piece(x[i:i + PIECE]) for i in range(0, len(x), PIECE)] or
                          [np.zeros((0, WIDTH), np.uint8)])


def g9_piece(x):
    """g9 of up to PIECE values (float64)."""
    a = np.abs(x)
    zero = a == 0
    a[zero] = 1.0
    exp = np.floor(np.log10(a)).astype(np.int64)
    # a * 10^(8 - exp), within 3e-16 of itself (two roundings): its 9 digits, once rounded
    scaled = a * POWERS[68 - exp]
    rounded = np.rint(scaled)
    unsure = ((np.abs(scaled - np.floor(scaled) - 0.5) < 1e-6) | (rounded < 1e8) |
              (rounded >= 1e9)) & ~zero
    rounded[unsure | zero] = 1e8
    first, rest = np.divmod(rounded.astype(np.int64), 10 ** 8)
    high, low = np.divmod(rest, 10 ** 4)
    trailing = np.where(low == 0, 4 + TRAILING[high], TRAILING[low])
    fixed = (exp >= -4) & (exp < 9)
    # The digits shown: up to the last that is not 0, and every one before the point.
    shown = np.where(fixed, np.maximum(9 - trailing, exp + 1), 9 - trailing)
    # Each row: 3 bytes, then the 9 digits shown (the first, two words of four).
    rows = np.zeros((len(x), WIDTH), np.uint8)
    words = rows.view(np.uint32)
    words[:, 0] = FIRST[first]
    words[:, 1] = FOUR[high]
    words[:, 2] = FOUR[low]
    rows.view(np.uint64).reshape(-1)[:] &= SHOWN[shown].view(np.uint64)
    # Rows sorted by layout, each layout laid out over a run of rows.
    layout = np.where(zero, NIL, np.where(fixed, exp + 4, SCI)).astype(np.int8)
    order = np.argsort(layout, kind="stable")
    rows = rows.view(np.complex128)[order].view(np.uint8)
    sorted_ = np.zeros_like(rows)
    ends = np.cumsum(np.bincount(layout, minlength=NIL + 1)).tolist()
    for kind, (s, e) in enumerate(zip([0] + ends[:-1], ends)):
        if s == e:
            continue
        out, d = sorted_[s:e], rows[s:e, 3:12]
        if kind == NIL:
            out[:, 1] = ZERO
        elif kind == SCI:  # d.dddddddde-XX
            ex = exp[order[s:e]]
            out[:, 1] = d[:, 0]
            out[:, 2] = np.where(d[:, 1] != 0, POINT, 0)
            out[:, 3:11] = d[:, 1:]
            out[:, 11] = ord("e")
            out[:, 12] = np.where(ex < 0, MINUS, ord("+"))
            out[:, 13] = ZERO + np.abs(ex) // 10
            out[:, 14] = ZERO + np.abs(ex) % 10
        elif kind >= 4:  # exponent 0 to 8: d.dddddddd to ddddddddd
            whole = kind - 4 + 1
            out[:, 1:1 + whole] = d[:, :whole]
            if whole < 9:
                out[:, 1 + whole] = np.where(d[:, whole] != 0, POINT, 0)
                out[:, 2 + whole:11] = d[:, whole:]
        else:  # exponent -4 to -1: 0.000ddddddddd to 0.ddddddddd
            zeros = 3 - kind
            out[:, 1:3 + zeros] = np.frombuffer(b"0." + b"0" * zeros, np.uint8)
            out[:, 3 + zeros:12 + zeros] = d
    text = np.empty_like(rows)
    text.view(np.complex128)[order, 0] = sorted_.view(np.complex128)[:, 0]
    text[:, 0] = np.where(np.signbit(x), MINUS, 0)
    for i in np.flatnonzero(unsure).tolist():
        written = b"%.9g" % x[i]
        text[i] = np.frombuffer(written.ljust(WIDTH, b"\0"), np.uint8)
    return text


def keys_texts(frames, points):
    """Each track's keys, [[frame, [x, y, z]], ...], as '%d' and '%.9g' write
    them: points [tracks, frames, 3] (single precision, finite); ASCII bytes each."""
    tracks, n = points.shape[0], len(frames)
    if tracks == 0 or n == 0:
        return [b"[]"] * tracks
    numbers = g9(points).reshape(tracks, n, 3, WIDTH)
    numbers[:, :, :2, WIDTH - 1] = ord(",")  # x, and y, (a number's last byte is NUL)
    # After a key's z: "]]," and the next key's "[frame,[" (at most 14 bytes for
    # Blender's frames, -1048574 to 1048574); after the last, "]]".
    after = np.array([b"]],[%d,[" % f for f in frames[1:]] + [b"]]"], "S16")
    # A key's row: four 16-byte words, moved as one number each; NUL where nothing is.
    rows = np.empty((tracks, n, 4), np.complex128)
    rows[:, :, :3] = numbers.view(np.complex128)[..., 0]
    rows[:, :, 3] = after.view(np.complex128)
    first = b"[[%d,[" % frames[0]
    return [first + track.tobytes().translate(None, b"\0") + b"]"
            for track in rows.reshape(tracks, -1)]
