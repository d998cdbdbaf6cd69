"""The benchmark's job done the plain way, for comparison: pandas reads the source, openpyxl
patches the destination and saves it.

baseline.py SOURCE.xlsx DEST.xlsx OUTPUT.xlsx

Same settings as the C++ driver: sheet 1 of both, index column A, start line 2 in both, pairs
B:C C:D D:E E:F, no unique index value, case-insensitive; blanks are characters of code 32 or less.
"""
import sys

import openpyxl
import pandas as pd

BLANKS = "".join(chr(c) for c in range(33))
PAIRS = [(1, 3), (2, 4), (3, 5), (4, 6)]  # source column index (0-based), destination column (1-based)


def main():
    source_path, dest_path, output_path = sys.argv[1:4]
    source = pd.read_excel(source_path, sheet_name=0, header=None, dtype=str, keep_default_na=False)
    source = source.iloc[1:].apply(lambda column: column.str.strip(BLANKS))
    source = source[source[0] != ""]
    keys = source[0].str.casefold()
    joined = {}
    for column, _ in PAIRS:
        values = source[column].where(source[column] != "", "-")
        joined[column] = values.groupby(keys, sort=False).agg("/".join)

    book = openpyxl.load_workbook(dest_path)
    sheet = book.worksheets[0]
    for row in sheet.iter_rows(min_row=2):
        value = row[0].value
        key = ("" if value is None else str(value)).strip(BLANKS)
        if not key:
            continue
        folded = key.casefold()
        for column, target in PAIRS:
            text = joined[column].get(folded, "-")
            cell = sheet.cell(row=row[0].row, column=target)
            cell.value = text
            cell.data_type = "s"
    book.save(output_path)


if __name__ == "__main__":
    main()
