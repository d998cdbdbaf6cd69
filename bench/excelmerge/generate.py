"""Writes the benchmark's source and destination workbooks.

generate.py ROWS SOURCE.xlsx DEST.xlsx

Source: a header, then ROWS rows of key + 4 value columns; keys repeat (about one in five is a
duplicate), vary in case and carry stray blanks, and some value cells are empty. Destination: a
header, then ROWS rows of key + a name, a tenth of them without a match in the source.
"""
import random
import sys

import openpyxl


def main():
    rows, source_path, dest_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    rng = random.Random(rows)
    key_space = rows * 4 // 5

    source = openpyxl.Workbook(write_only=True)
    sheet = source.create_sheet("Source")
    sheet.append(["key", "name", "amount", "city", "note"])
    for i in range(rows):
        k = rng.randrange(key_space)
        key = "Key%06d" % k
        if rng.random() < 0.1:
            key = key.upper()
        if rng.random() < 0.05:
            key = " " + key + " "
        sheet.append([key, "name %d" % i, rng.randrange(100000) / 100, "city %d" % (i % 977),
                      None if rng.random() < 0.2 else "note %d" % i])
    source.save(source_path)

    dest = openpyxl.Workbook(write_only=True)
    sheet = dest.create_sheet("Dest")
    sheet.append(["key", "name", "f1", "f2", "f3", "f4"])
    for i in range(rows):
        k = rng.randrange(key_space * 10 // 9)  # keys above key_space never match
        sheet.append(["key%06d" % k, "dest %d" % i])
    dest.save(dest_path)


if __name__ == "__main__":
    main()
