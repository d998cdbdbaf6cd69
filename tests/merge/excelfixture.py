"""Workbooks for the Excel-to-Excel tests, written and read back by openpyxl.

write LAYOUT.json BOOK.xlsx   builds a workbook from a description (see below)
dump BOOK.xlsx              prints every sheet as JSON: cells with value, type and style, column
                            widths, merged ranges, so that two books can be compared part by part

A description: {"sheets": [{"title": "Data", "rows": [["key", 1, null, true]],
                            "text": {"C5": "=not a formula"}, "formulas": {"E2": "=1+2"},
                            "bold": ["A1"], "fill": {"A1": "FFFF00"}, "formats": {"B2": "0.00"},
                            "widths": {"A": 30}, "merged": ["A10:B10"]}]}
"""
import json
import sys

import openpyxl
from openpyxl.styles import Font, PatternFill


def write(layout_path, book_path):
    with open(layout_path, encoding="utf-8") as f:
        layout = json.load(f)
    book = openpyxl.Workbook()
    book.remove(book.active)
    for sheet_layout in layout["sheets"]:
        sheet = book.create_sheet(sheet_layout.get("title", "Sheet"))
        for r, row in enumerate(sheet_layout.get("rows", []), start=1):
            for c, value in enumerate(row, start=1):
                if value is not None:
                    sheet.cell(row=r, column=c, value=value)
        for coord, text in sheet_layout.get("text", {}).items():
            sheet[coord].value = text
            sheet[coord].data_type = "s"  # a text that merely starts with "="
        for coord, formula in sheet_layout.get("formulas", {}).items():
            sheet[coord].value = formula
        for coord in sheet_layout.get("bold", []):
            sheet[coord].font = Font(bold=True)
        for coord, colour in sheet_layout.get("fill", {}).items():
            sheet[coord].fill = PatternFill("solid", fgColor=colour)
        for coord, number_format in sheet_layout.get("formats", {}).items():
            sheet[coord].number_format = number_format
        for column, width in sheet_layout.get("widths", {}).items():
            sheet.column_dimensions[column].width = width
        for cells in sheet_layout.get("merged", []):
            sheet.merge_cells(cells)
    book.save(book_path)


def dump(book_path):
    book = openpyxl.load_workbook(book_path)
    sheets = []
    for sheet in book.worksheets:
        cells = {}
        for row in sheet.iter_rows():
            for cell in row:
                if cell.value is None and not cell.has_style:
                    continue
                cells[cell.coordinate] = {
                    "value": None if cell.value is None else str(cell.value),
                    "type": cell.data_type,
                    "bold": bool(cell.font.bold),
                    "fill": cell.fill.fgColor.rgb if cell.fill.fill_type else None,
                    "format": cell.number_format,
                }
        sheets.append({
            "title": sheet.title,
            "cells": cells,
            "widths": {k: v.width for k, v in sheet.column_dimensions.items() if v.customWidth},
            "merged": sorted(str(r) for r in sheet.merged_cells.ranges),
        })
    json.dump({"sheets": sheets}, sys.stdout, sort_keys=True)


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "dump":
        dump(sys.argv[2])
    else:
        sys.exit("unknown command " + sys.argv[1])
