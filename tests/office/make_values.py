"""Writes the same values into workbooks of every format, each by an independent writer.

Usage: make_values.py OUTDIR
Column A of each row names the value, column B holds it. formulas.xlsx holds formulas instead,
for LibreOffice to calculate (its results are what a spreadsheet program stores).
"""
import datetime
import math
import sys
from pathlib import Path

import openpyxl
import xlsxwriter
import xlwt

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)

# name, value, number format, formula (with {r} for the row; None: the value itself)
ROWS = [
    ("a sum that is not 0.3", 0.1 + 0.2, None, "=0.1+0.2"),
    ("a product that is not 11.9", 10 * 1.19, None, "=C{r}*1.19"),
    ("a computed 119", 118.99999999999999, None, None),
    ("just below 3", 2.9999999999999996, None, None),
    ("just above 7", 7.000000000000001, None, None),
    ("more digits than 15", 1234567.8901234567, None, None),
    ("a third", 1 / 3, None, "=1/3"),
    ("minus a third", -1 / 3, None, "=-1/3"),
    ("2 to the 53rd", 9007199254740992.0, None, "=2^53"),
    ("a tenth", 0.1, None, None),
    ("rounds up to 1E+15", 999999999999999.9, None, None),
    ("rounds up to 0.0001", math.nextafter(1e-4, 0), None, None),
    ("small, scientific", 1.2345678901234567e-7, None, None),
    ("large whole number", 123456789012.0, None, None),
    ("minus zero", -0.0, None, None),
    ("elapsed hours", 1.5, "[h]:mm:ss", None),
    ("whole days elapsed", 2, "[h]:mm:ss", None),
    ("elapsed minutes", 0.75, "[mm]:ss", None),
    ("elapsed hours and minutes", 1.25, "[h]:mm", None),
    ("elapsed seconds round to the nearest", 90061.6 / 86400, "[ss]", None),
    ("negative elapsed time", -0.25, "[h]:mm:ss", None),
    ("a time of day stays one", 0.5, "hh:mm:ss", None),
    ("true", True, None, "=TRUE()"),
    ("false", False, None, "=FALSE()"),
    ("division by zero", "#DIV/0!", None, "=1/0"),
    ("not available", "#N/A", None, "=NA()"),
    ("a text", "00123", None, None),
]
ERRORS = {"#DIV/0!": ("=1/0", 0x07), "#N/A": ("=NA()", 0x2A)}


def openpyxl_books():
    values, formulas = openpyxl.Workbook(), openpyxl.Workbook()
    for book, use_formulas in ((values, False), (formulas, True)):
        ws = book.active
        for r, (name, value, fmt, formula) in enumerate(ROWS, start=1):
            ws.cell(row=r, column=1, value=name)
            cell = ws.cell(row=r, column=2, value=formula.format(r=r) if use_formulas and formula else value)
            if formula and "{r}" in formula:
                ws.cell(row=r, column=3, value=10)
            if fmt:
                cell.number_format = fmt
    values.save(out / "openpyxl.xlsx")
    formulas.save(out / "formulas.xlsx")


def xlsxwriter_book():
    book = xlsxwriter.Workbook(str(out / "xlsxwriter.xlsx"))
    ws = book.add_worksheet()
    for r, (name, value, fmt, formula) in enumerate(ROWS):
        ws.write_string(r, 0, name)
        style = book.add_format({"num_format": fmt}) if fmt else None
        if isinstance(value, bool):
            ws.write_boolean(r, 1, value)
        elif value in ERRORS:
            ws.write_formula(r, 1, ERRORS[value][0], None, value)
        elif isinstance(value, str):
            ws.write_string(r, 1, value)
        else:
            ws.write_number(r, 1, value, style)
    book.close()


def xlwt_book():
    book = xlwt.Workbook(encoding="utf-8")
    ws = book.add_sheet("Values")
    for r, (name, value, fmt, formula) in enumerate(ROWS):
        ws.write(r, 0, name)
        if value in ERRORS and not isinstance(value, bool):
            ws.row(r).set_cell_error(1, ERRORS[value][1])
        elif fmt:
            ws.write(r, 1, value, xlwt.easyxf(num_format_str=fmt))
        else:
            ws.write(r, 1, value)
    # A second sheet: corrections must land on the sheet they belong to.
    other = book.add_sheet("Other")
    other.write(0, 0, False)
    other.write(0, 1, 1)
    book.save(str(out / "xlwt.xls"))


openpyxl_books()
xlsxwriter_book()
xlwt_book()
