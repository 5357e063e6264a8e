#!/usr/bin/env python3
"""Writes runtime/text/case_tables.cpp: the case-mapping pair lists and the
display-width range tables, from the Unicode character database.

Only code points that Unicode 11.0 assigns are kept (DerivedAge.txt), so a
newer database gives the same tables. Run from the repository root:

    python3 tools/gen_case_tables.py [UCD-DIR] > runtime/text/case_tables.cpp

UCD-DIR defaults to /usr/share/unicode (Debian's unicode-data package).
"""

import os
import sys

VERSION = (11, 0)


def records(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def code_range(text):
    first, _, last = text.partition("..")
    return int(first, 16), int(last or first, 16)


def assigned(ucd):
    """Set of code points that the Unicode version VERSION assigns."""
    keep = set()
    for fields in records(os.path.join(ucd, "DerivedAge.txt")):
        major, minor = (int(x) for x in fields[1].split("."))
        if (major, minor) <= VERSION:
            first, last = code_range(fields[0])
            keep.update(range(first, last + 1))
    return keep


def unicode_data(ucd):
    """Yields (code point, general category, upper, lower) for every code
    point, expanding the First/Last range pairs."""
    pending = None
    for fields in records(os.path.join(ucd, "UnicodeData.txt")):
        cp, name, category = int(fields[0], 16), fields[1], fields[2]
        upper = int(fields[12], 16) if fields[12] else None
        lower = int(fields[13], 16) if fields[13] else None
        if name.endswith(", First>"):
            pending = cp
            continue
        if pending is not None:
            for c in range(pending, cp + 1):
                yield c, category, None, None
            pending = None
            continue
        yield cp, category, upper, lower


def case_pairs(ucd, keep):
    """Upper: the first code point of the full upper-case mapping where it
    differs from the code point. Lower: the simple lower-case mapping."""
    full_upper = {}
    for fields in records(os.path.join(ucd, "SpecialCasing.txt")):
        if len(fields) > 4 and fields[4]:  # conditional (locale or context)
            continue
        cp = int(fields[0], 16)
        full_upper[cp] = int(fields[3].split()[0], 16)
    upper, lower = [], []
    for cp, _, simple_upper, simple_lower in unicode_data(ucd):
        if cp not in keep:
            continue
        up = full_upper.get(cp, simple_upper)
        if up is not None and up != cp and up in keep:
            upper.append((cp, up))
        if simple_lower is not None and simple_lower != cp and simple_lower in keep:
            lower.append((cp, simple_lower))
    return upper, lower


def to_ranges(points):
    ranges = []
    for cp in sorted(points):
        if ranges and ranges[-1][1] + 1 == cp:
            ranges[-1][1] = cp
        else:
            ranges.append([cp, cp])
    return ranges


def width_ranges(ucd, keep):
    """Zero-width: non-spacing and enclosing marks and format characters
    (the soft hyphen excepted), the Hangul medial and final jamo and U+200B.
    Wide: East Asian Wide and Fullwidth, and all of planes 2 and 3. Ambiguous: East Asian Ambiguous."""
    zero = set()
    for cp, category, _, _ in unicode_data(ucd):
        if cp in keep and category in ("Mn", "Me", "Cf") and cp != 0x00AD:
            zero.add(cp)
    zero.update(range(0x1160, 0x1200))
    zero.add(0x200B)
    wide, ambiguous = set(), set()
    for fields in records(os.path.join(ucd, "EastAsianWidth.txt")):
        first, last = code_range(fields[0])
        target = {"W": wide, "F": wide, "A": ambiguous}.get(fields[1])
        if target is not None:
            target.update(c for c in range(first, last + 1) if c in keep)
    # Unassigned code points of the ideographic planes are wide by default.
    wide.update(range(0x20000, 0x2FFFE))
    wide.update(range(0x30000, 0x3FFFE))
    return to_ranges(zero), to_ranges(wide), to_ranges(ambiguous)


def emit_pairs(out, name, pairs):
    out.append(f"const CasePair {name}[] = {{")
    for i in range(0, len(pairs), 4):
        row = " ".join(f"{{0x{a:04X}, 0x{b:04X}}}," for a, b in pairs[i:i + 4])
        out.append("    " + row)
    out.append("};")
    out.append(f"const std::size_t {name}_count = {len(pairs)};")
    out.append("")


def emit_ranges(out, name, ranges):
    out.append(f"const std::uint32_t {name}[] = {{")
    for i in range(0, len(ranges), 4):
        row = " ".join(f"0x{a:04X}, 0x{b:04X}," for a, b in ranges[i:i + 4])
        out.append("    " + row)
    out.append("};")
    out.append(f"const std::size_t {name}_count = {2 * len(ranges)};  // entries, two a range")
    out.append("")


def main():
    ucd = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unicode"
    keep = assigned(ucd)
    upper, lower = case_pairs(ucd, keep)
    zero, wide, ambiguous = width_ranges(ucd, keep)
    out = [
        "// Generated from tools/gen_case_tables.py. Do not edit.",
        "// Unicode 11.0 case-mapping pairs and display-width ranges.",
        '#include "runtime/text/case_folding.h"',
        '#include "runtime/text/unicode.h"',
        "",
        "namespace kiv::case_folding {",
        "",
    ]
    emit_pairs(out, "upper_bmp_pairs", [p for p in upper if p[0] <= 0xFFFF])
    emit_pairs(out, "lower_bmp_pairs", [p for p in lower if p[0] <= 0xFFFF])
    emit_pairs(out, "upper_plane_pairs", [p for p in upper if p[0] > 0xFFFF])
    emit_pairs(out, "lower_plane_pairs", [p for p in lower if p[0] > 0xFFFF])
    out.append("}  // namespace kiv::case_folding")
    out.append("")
    out.append("namespace kiv::unicode {")
    out.append("")
    emit_ranges(out, "zero_width_ranges", zero)
    emit_ranges(out, "wide_ranges", wide)
    emit_ranges(out, "ambiguous_ranges", ambiguous)
    out.append("}  // namespace kiv::unicode")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
