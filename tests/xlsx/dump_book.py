"""Prints what openpyxl sees in a workbook, as JSON: dump_book.py FILE"""
import datetime
import json
import sys
import zipfile

import openpyxl


def text(value):
    if isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
        return value.isoformat()
    return None if value is None else str(value)


path = sys.argv[1]
book = openpyxl.load_workbook(path)
out = {"sheets": book.sheetnames, "cells": {}, "readonly": {},
       "fullCalcOnLoad": bool(book.calculation and book.calculation.fullCalcOnLoad)}
for ws in book.worksheets:
    cells = {}
    for row in ws.iter_rows():
        for c in row:
            if c.value is None and c.style_id == 0:
                continue
            cells[c.coordinate] = {"v": text(c.value), "t": c.data_type, "fmt": c.number_format,
                                   "bold": bool(c.font.b), "style": c.style_id}
    out["cells"][ws.title] = cells
fast = openpyxl.load_workbook(path, read_only=True)
for ws in fast.worksheets:
    values = {}
    for row in ws.iter_rows():
        for c in row:
            if getattr(c, "value", None) is not None:
                values[c.coordinate] = text(c.value)
    out["readonly"][ws.title] = {"max_row": ws.max_row, "max_column": ws.max_column, "values": values}
if path.lower().endswith(".xlsm"):
    vba = openpyxl.load_workbook(path, keep_vba=True).vba_archive
    out["vba"] = vba.namelist() if vba else []
with zipfile.ZipFile(path) as z:
    out["parts"] = z.namelist()
    out["types"] = z.read("[Content_Types].xml").decode()
    out["workbookRels"] = z.read("xl/_rels/workbook.xml.rels").decode()
json.dump(out, sys.stdout)
