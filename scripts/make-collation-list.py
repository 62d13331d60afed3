#!/usr/bin/env python3
"""Writes data/collation.txt: name TAB stored collation id TAB Windows code page.

A stored Windows collation id is  flags << 12 | locale index  where the flag nibble is
bit 0 ignore case, bit 1 ignore accent, bits 2-3 ignore kana / ignore width (both set
unless _KS/_WS). A SQL collation puts its sort order id in the top byte over the id of
its Windows equivalent.

Only ids that follow from a known value are listed:
  Latin1_General_CI_AS 53256 (0xD008) and SQL_Latin1_General_CP1_CI_AS 872468488
  (0x3400D008, sort order 52) fix the flag nibble and the SQL layout; the database ids
  0xD003, 0xD00A, 0xD015, 0xD028 and 0xF008 fix Chinese_Taiwan_Stroke (3),
  Finnish_Swedish (10), Cyrillic_General (21), Modern_Spanish (40) and the _AI bit.
  Indexes 3 to 10 equal the locale id minus 0x401, so the locales of 0x405..0x40A
  that have their own collation are listed too. _KS/_WS (which of bits 2-3 is which is
  not pinned down), _BIN/_BIN2, the _100/_140 versions and the other locales are left
  out until a known id fixes their bits.
"""
import os

LOCALES = [  # name, locale index, code page
    ("Chinese_Taiwan_Stroke", 3, 950),
    ("Czech", 4, 1250),
    ("Danish_Norwegian", 5, 1252),
    ("Greek", 7, 1253),
    ("Latin1_General", 8, 1252),
    ("Traditional_Spanish", 9, 1252),
    ("Finnish_Swedish", 10, 1252),
    ("Cyrillic_General", 21, 1251),
    ("Modern_Spanish", 40, 1252),
]
IGNORE_CASE, IGNORE_ACCENT, IGNORE_KANA_WIDTH = 0x1, 0x2, 0xC
STYLES = [
    ("CI_AS", IGNORE_CASE | IGNORE_KANA_WIDTH),
    ("CS_AS", IGNORE_KANA_WIDTH),
    ("CI_AI", IGNORE_CASE | IGNORE_ACCENT | IGNORE_KANA_WIDTH),
    ("CS_AI", IGNORE_ACCENT | IGNORE_KANA_WIDTH),
]
SQL_COLLATIONS = [  # name, sort order id, Windows equivalent (locale index, flags), code page
    ("SQL_Latin1_General_CP1_CI_AS", 52, 8, IGNORE_CASE | IGNORE_KANA_WIDTH, 1252),
]


def windows_id(index, flags):
    return flags << 12 | index


def main():
    lines = []
    for name, index, cp in LOCALES:
        for suffix, flags in STYLES:
            lines.append(f"{name}_{suffix}\t{windows_id(index, flags)}\t{cp}")
    for name, sort_id, index, flags, cp in SQL_COLLATIONS:
        lines.append(f"{name}\t{sort_id << 24 | windows_id(index, flags)}\t{cp}")
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "collation.txt")
    with open(out, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
