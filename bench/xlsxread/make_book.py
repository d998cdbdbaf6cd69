"""Writes the benchmark workbook: make_book.py FILE ROWS (10 columns of mixed values)."""
import datetime
import sys

import xlsxwriter

path, rows = sys.argv[1], int(sys.argv[2])
# Shared strings, as the spreadsheet program writes them (constant_memory would write inline ones).
book = xlsxwriter.Workbook(path)
sheet = book.add_worksheet("Data")
date = book.add_format({"num_format": "yyyy-mm-dd"})
cities = ["Amsterdam", "Berlin", "Chicago", "Dublin", "Essen", "Florence", "Geneva", "Helsinki"]
start = datetime.datetime(2020, 1, 1)
for r in range(rows):
    sheet.write_string(r, 0, f"Customer {r + 1}")
    sheet.write_number(r, 1, r + 1)
    sheet.write_number(r, 2, (r + 1) * 1.25)
    sheet.write_string(r, 3, cities[r % len(cities)])
    sheet.write_datetime(r, 4, start + datetime.timedelta(days=r % 3000), date)
    sheet.write_boolean(r, 5, r % 2 == 0)
    sheet.write_number(r, 6, -(r % 1000) / 7)
    sheet.write_string(r, 7, f"customer{r + 1}@example.org")
    sheet.write_formula(r, 8, f"=B{r + 1}*2", None, (r + 1) * 2)
    sheet.write_number(r, 9, 1e-5 * r)
book.close()
