"""Prints every sheet of an OpenDocument spreadsheet as odfpy reads it, as JSON: a list of sheets,
each {"name", "cells": [[row, column, type, value, style], ...]} for the cells that hold a
value (style: the cell's style name, or "").

Usage: dump_ods.py FILE
Strings are their paragraphs joined by line breaks (spaces, tabs and breaks expanded, comments
left out); other values are the raw value attribute of their type.
"""
import json
import sys

from odf.namespaces import OFFICENS, TABLENS, TEXTNS
from odf.opendocument import load


def text_of(node):
    parts = []
    for child in node.childNodes:
        if child.nodeType == child.TEXT_NODE:
            parts.append(child.data)
            continue
        if child.qname == (OFFICENS, "annotation"):
            continue
        if child.qname == (TEXTNS, "s"):
            parts.append(" " * int(child.attributes.get((TEXTNS, "c"), 1)))
        elif child.qname == (TEXTNS, "tab"):
            parts.append("\t")
        elif child.qname == (TEXTNS, "line-break"):
            parts.append("\n")
        else:
            parts.append(text_of(child))
    return "".join(parts)


def cell_value(cell):
    kind = cell.attributes.get((OFFICENS, "value-type"))
    attribute = {"float": "value", "percentage": "value", "currency": "value", "date": "date-value",
                 "time": "time-value", "boolean": "boolean-value"}.get(kind)
    if attribute:
        return kind, cell.attributes.get((OFFICENS, attribute))
    if kind == "string" and cell.attributes.get((OFFICENS, "string-value")):
        return kind, cell.attributes.get((OFFICENS, "string-value"))
    paragraphs = [text_of(p) for p in cell.childNodes
                  if p.nodeType == p.ELEMENT_NODE and p.qname in ((TEXTNS, "p"), (TEXTNS, "h"))]
    return "string", "\n".join(paragraphs)


def rows_of(node):
    for child in node.childNodes:
        if child.nodeType != child.ELEMENT_NODE:
            continue
        if child.qname == (TABLENS, "table-row"):
            yield child
        elif child.qname in ((TABLENS, "table-row-group"), (TABLENS, "table-header-rows"), (TABLENS, "table-rows")):
            yield from rows_of(child)


doc = load(sys.argv[1])
sheets = []
for table in doc.spreadsheet.getElementsByType(__import__("odf.table", fromlist=["Table"]).Table):
    if table.parentNode is not doc.spreadsheet:
        continue
    cells = []
    r = 1
    for row in rows_of(table):
        rows = int(row.attributes.get((TABLENS, "number-rows-repeated"), 1))
        found = []
        c = 1
        for cell in row.childNodes:
            if cell.nodeType != cell.ELEMENT_NODE:
                continue
            count = int(cell.attributes.get((TABLENS, "number-columns-repeated"), 1))
            if cell.qname == (TABLENS, "table-cell"):
                kind, value = cell_value(cell)
                style = cell.attributes.get((TABLENS, "style-name"), "")
                if value:
                    found.extend([c + i, kind, value, style] for i in range(count))
            c += count
        if found:
            for i in range(rows):
                cells.extend([r + i] + f for f in found)
        r += rows
    sheets.append({"name": table.getAttribute("name"), "cells": cells})
print(json.dumps(sheets))
