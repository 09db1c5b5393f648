#!/usr/bin/python3
"""Writes engine/exponential_tables.h: the tables and coefficients behind
engine/exponential.cpp, from values computed to 60 digits with mpmath.

    /usr/bin/python3 scripts/mathgen/exponential.py [OUTPUT]

Every number is emitted as a hexadecimal double, so the header is the same
on every machine that runs this script. The script checks what the code
relies on (the exactness of the split constants, the reach of the reduced
argument, the error of each polynomial) and stops when a check fails.
"""
import struct
import sys
from pathlib import Path

import mpmath
from mpmath import mp, mpf

mp.dps = 60

EXP_BITS = 8  # 2^(j/256), j = 0 .. 255
EXP_SIZE = 1 << EXP_BITS
LOG_BITS = 7  # 128 intervals of the mantissa
LOG_SIZE = 1 << LOG_BITS
# Intervals of log: the bit pattern minus this offset gives the exponent and
# the interval; bit 44 set puts 1.0 in the middle of an interval.
LOG_OFFSET = 0x3FE6B00000000000
LOG_INDEX_SHIFT = 52 - LOG_BITS


def nearest(x):
    """The double nearest x (mpmath rounds to nearest in float())."""
    return float(mpf(x))


def bits(d):
    return struct.unpack("<Q", struct.pack("<d", d))[0]


def from_bits(b):
    return struct.unpack("<d", struct.pack("<Q", b))[0]


def hexd(d):
    return d.hex() if d != 0 else "0x0p+0"


def round_to_grid(x, grid):
    return mpf(mpmath.nint(x / grid)) * grid


def significant_bits(d):
    if d == 0:
        return 0
    m, e = mpmath.frexp(mpf(d))
    n = 0
    while m != mpmath.floor(m):
        m *= 2
        n += 1
    return n


def split_constant(x, grid):
    """x as hi + lo: hi on the given grid (so that small multiples of it are
    exact), lo the double nearest the rest."""
    hi = nearest(round_to_grid(x, grid))
    assert mpf(hi) == round_to_grid(x, grid)
    lo = nearest(x - mpf(hi))
    return hi, lo


def fit(g, lo, hi, degree):
    """Coefficients (lowest first, rounded to double) of a polynomial near
    the minimax one for g on [lo, hi], and its largest absolute error."""
    coefficients, _ = mpmath.chebyfit(g, [lo, hi], degree + 1, error=True)
    rounded = [nearest(c) for c in reversed(coefficients)]
    worst = mpf(0)
    for i in range(2001):
        t = lo + (hi - lo) * i / 2000
        value = mpf(0)
        for c in reversed(rounded):
            value = value * t + mpf(c)
        worst = max(worst, abs(value - g(t)))
    return rounded, worst


def exp_tables():
    ln2 = mpmath.log(2)
    step = ln2 / EXP_SIZE
    # |k| < 2^19 over the whole reach (|x| < 750): the high part of ln2/N
    # has 34 significant bits, so k * hi is exact.
    hi = nearest(mpmath.nint(step * 2**42) / mpf(2**42))
    assert significant_bits(hi) <= 34, significant_bits(hi)
    lo = nearest(step - mpf(hi))
    inv = nearest(EXP_SIZE / ln2)
    table = []
    for j in range(EXP_SIZE):
        t = mpf(2) ** (mpf(j) / EXP_SIZE)
        th = nearest(t)
        table.append((th, nearest(t - mpf(th))))
    # k is z rounded, z = x * inv rounded: |r| exceeds step/2 by |x| 2^-52 at most.
    reach = step / 2 * (1 + mpf(2) ** -30)

    def g(r):  # (e^r - 1 - r) / r^2
        if abs(r) < mpf(10) ** -25:
            return mpf(1) / 2 + r / 6
        return (mpmath.expm1(r) - r) / r**2

    poly, error = fit(g, -reach, reach, 4)
    # Relative error of e^r: r^2 * error.
    relative = reach**2 * error
    assert relative < mpf(2) ** -72, mpmath.log(relative, 2)
    return dict(hi=hi, lo=lo, inv=inv, table=table, poly=poly, relative=relative, reach=reach)


def log_tables():
    table = []
    worst_r = mpf(0)
    for i in range(LOG_SIZE):
        first = LOG_OFFSET + (i << LOG_INDEX_SHIFT)
        last = first + (1 << LOG_INDEX_SHIFT)
        z0 = mpf(from_bits(first))
        z1 = mpf(from_bits(last))
        if z0 <= 1 < z1:
            invc = 1.0
        else:
            center = (z0 + z1) / 2
            invc = nearest(round_to_grid(1 / center, mpf(2) ** -20))
        assert significant_bits(invc) <= 26  # z's halves times invc are exact
        worst_r = max(worst_r, abs(z0 * invc - 1), abs(z1 * invc - 1))
        logc = -mpmath.log(mpf(invc))
        chi, clo = split_constant(logc, mpf(2) ** -43)
        table.append((invc, chi, clo))
    assert worst_r < mpf(2) ** -7.9, mpmath.log(worst_r, 2)

    def g(r):  # (log(1 + r) - r + r^2 / 2) / r^3
        if abs(r) < mpf(10) ** -25:
            return mpf(1) / 3 - r / 4
        return (mpmath.log1p(r) - r + r**2 / 2) / r**3

    reach = worst_r * (1 + mpf(2) ** -20)
    poly, error = fit(g, -reach, reach, 5)
    # Relative error of log(1 + r) ~ r: r^2 * error.
    relative = reach**2 * error
    assert relative < mpf(2) ** -70, mpmath.log(relative, 2)
    return dict(table=table, poly=poly, relative=relative, reach=reach)


def constants():
    ln2 = mpmath.log(2)
    ln10 = mpmath.log(10)
    log10e = 1 / ln10
    ln2_hi, ln2_lo = split_constant(ln2, mpf(2) ** -43)
    assert significant_bits(ln2_hi) <= 42
    ln10_hi = nearest(ln10)
    ln10_lo = nearest(ln10 - mpf(ln10_hi))
    log10e_hi = nearest(log10e)
    log10e_lo = nearest(log10e - mpf(log10e_hi))
    return dict(
        ln2_hi=ln2_hi, ln2_lo=ln2_lo, ln10_hi=ln10_hi, ln10_lo=ln10_lo, log10e_hi=log10e_hi, log10e_lo=log10e_lo
    )


def array(declaration, values):
    """A C++ array, its values packed into lines of 120 columns."""
    lines, line = [], "   "
    for v in values:
        item = f" {hexd(v)},"
        if len(line) + len(item) > 120:
            lines.append(line)
            line = "   "
        line += item
    return [declaration + " = {"] + lines + [line, "};"]


def emit(out):
    e = exp_tables()
    l = log_tables()
    c = constants()
    w = []
    w.append("/* Generated by scripts/mathgen/exponential.py; do not edit. */")
    w.append("/* The tables and coefficients of exponential.cpp: values of 60 digits")
    w.append(" * rounded to double, a pair (hi, lo) standing for their sum. */")
    w.append("#ifndef QUORVEL_ENGINE_EXPONENTIAL_TABLES_H")
    w.append("#define QUORVEL_ENGINE_EXPONENTIAL_TABLES_H")
    w.append("")
    w.append("#include <cstdint>")
    w.append("")
    w.append("// clang-format off")
    w.append("namespace exponential_tables {")
    w.append("")
    w.append(f"constexpr int kExpBits = {EXP_BITS};")
    w.append(f"/* {EXP_SIZE}/ln 2, and ln 2/{EXP_SIZE} as hi + lo with k * hi exact for |k| < 2^19. */")
    w.append(f"constexpr double kExpInvStep = {hexd(e['inv'])};")
    w.append(f"constexpr double kExpStepHi = {hexd(e['hi'])};")
    w.append(f"constexpr double kExpStepLo = {hexd(e['lo'])};")
    w.append(
        f"/* (e^r - 1 - r)/r^2 on |r| <= {mpmath.nstr(e['reach'], 6)}, lowest power first;"
        f" relative error of e^r below 2^{int(mpmath.floor(mpmath.log(e['relative'], 2)))}. */"
    )
    w.extend(array("constexpr double kExpPoly[]", e["poly"]))
    w.append(f"/* 2^(j/{EXP_SIZE}) as hi, lo. */")
    w.append(f"alignas(16) constexpr double kExpTable[{2 * EXP_SIZE}] = {{")
    for th, tl in e["table"]:
        w.append(f"    {hexd(th)}, {hexd(tl)},")
    w.append("};")
    w.append("")
    w.append(f"constexpr int kLogBits = {LOG_BITS};")
    w.append(f"constexpr uint64_t kLogOffset = 0x{LOG_OFFSET:016X};")
    w.append("/* ln 2 as hi + lo, hi on the grid 2^-43 so that k * hi + logcHi is exact. */")
    w.append(f"constexpr double kLn2Hi = {hexd(c['ln2_hi'])};")
    w.append(f"constexpr double kLn2Lo = {hexd(c['ln2_lo'])};")
    w.append(
        f"/* (ln(1 + r) - r + r^2/2)/r^3 on |r| <= {mpmath.nstr(l['reach'], 6)}, lowest power first;"
        f" relative error of ln(1 + r) below 2^{int(mpmath.floor(mpmath.log(l['relative'], 2)))}. */"
    )
    w.extend(array("constexpr double kLogPoly[]", l["poly"]))
    w.append("/* Per interval: invc near 1/c (at most 26 bits; exactly 1 around 1.0),")
    w.append(" * and -ln(invc) as hi (on the grid 2^-43) + lo. */")
    w.append("struct LogEntry {")
    w.append("    double invc, logcHi, logcLo;")
    w.append("};")
    w.append(f"alignas(16) constexpr LogEntry kLogTable[{LOG_SIZE}] = {{")
    for invc, chi, clo in l["table"]:
        w.append(f"    {{{hexd(invc)}, {hexd(chi)}, {hexd(clo)}}},")
    w.append("};")
    w.append("")
    w.append("/* ln 10 and log10(e) as hi + lo. */")
    w.append(f"constexpr double kLn10Hi = {hexd(c['ln10_hi'])};")
    w.append(f"constexpr double kLn10Lo = {hexd(c['ln10_lo'])};")
    w.append(f"constexpr double kLog10eHi = {hexd(c['log10e_hi'])};")
    w.append(f"constexpr double kLog10eLo = {hexd(c['log10e_lo'])};")
    w.append("")
    w.append("}  // namespace exponential_tables")
    w.append("// clang-format on")
    w.append("")
    w.append("#endif")
    Path(out).write_text("\n".join(w) + "\n")


if __name__ == "__main__":
    target = sys.argv[1] if len(sys.argv) > 1 else str(Path(__file__).resolve().parents[2] / "engine" / "exponential_tables.h")
    emit(target)
    print("wrote", target)
