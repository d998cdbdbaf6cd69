"""Reads a merge's output back with openpyxl's read-only mode and checks the fill-ins of a sample
of rows against the source, joined as the merge joins them.

check.py SOURCE.xlsx OUTPUT.xlsx [EVERY]   (the benchmark's job: index A, pairs B:C C:D D:E E:F)
"""
import sys

import openpyxl


def text(value):
    if value is None:
        return ""
    if isinstance(value, float) and value.is_integer():
        value = int(value)
    return str(value).strip(" \t")


def main():
    source_path, output_path = sys.argv[1], sys.argv[2]
    every = int(sys.argv[3]) if len(sys.argv) > 3 else 997
    joined = {}
    book = openpyxl.load_workbook(source_path, read_only=True)
    for row in book.worksheets[0].iter_rows(min_row=2, values_only=True):
        key = text(row[0]).casefold()
        if not key:
            continue
        values = [(text(row[i]) if i < len(row) else "") or "-" for i in range(1, 5)]
        joined.setdefault(key, []).append(values)
    book.close()
    book = openpyxl.load_workbook(output_path, read_only=True)
    checked = 0
    for number, row in enumerate(book.worksheets[0].iter_rows(min_row=2, max_col=6, values_only=True), 2):
        if number % every:
            continue
        key = text(row[0]).casefold()
        matches = joined.get(key)
        expected = ["/".join(m[i] for m in matches)[:32767] if matches else "-" for i in range(4)]
        got = [text(row[i]) if i < len(row) else "" for i in range(2, 6)]
        if got != expected:
            print(f"row {number}: {got} != {expected}")
            return 1
        checked += 1
    print(f"checked the fill-ins of {checked} rows (every {every}th) with openpyxl read-only: all match")
    return 0 if checked else 1


if __name__ == "__main__":
    sys.exit(main())
