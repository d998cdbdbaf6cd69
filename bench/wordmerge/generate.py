"""The benchmark's inputs: a letter like a real one (ten labels, a table, a header, a logo) in two
spellings, «LABEL» for Tallyweave and {{ field }} for docxtpl, and a workbook of records.

generate.py ROWS LETTER.docx LETTER-DOCXTPL.docx BOOK.xlsx   (a heading row, then ROWS records)
"""
import struct
import sys
import zlib

import docx
import openpyxl
from docx.shared import Cm

FIELDS = ["title", "first", "last", "street", "town", "zip", "account", "amount", "due", "agent"]


def png(size=64):
    raw = b"".join(b"\x00" + b"".join(bytes([(x * 4) % 256, (y * 4) % 256, 160]) for x in range(size))
                   for y in range(size))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def letter(path, tag, logo):
    d = docx.Document()
    d.sections[0].header.paragraphs[0].text = "Acme Savings - account " + tag("account")
    d.add_picture(logo, width=Cm(2))
    d.add_paragraph(tag("title") + " " + tag("first") + " " + tag("last"))
    d.add_paragraph(tag("street"))
    d.add_paragraph(tag("zip") + " " + tag("town"))
    d.add_paragraph("")
    p = d.add_paragraph("Dear ")
    p.add_run(tag("title")).bold = True
    p.add_run(" " + tag("last") + ",")
    for text in ["we are writing about your account " + tag("account") + ". According to our records an amount of "
                 + tag("amount") + " is due on " + tag("due") + ".",
                 "Please transfer the amount before that date, or contact " + tag("agent") + " if you have "
                 "questions about this letter."]:
        d.add_paragraph(text)
    table = d.add_table(rows=4, cols=2)
    table.style = "Table Grid"
    for row, (label, field) in enumerate([("Account", "account"), ("Amount", "amount"), ("Due", "due"),
                                          ("Agent", "agent")]):
        table.cell(row, 0).text = label
        table.cell(row, 1).text = tag(field)
    for _ in range(3):
        d.add_paragraph("Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt "
                        "ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud exercitation.")
    d.add_paragraph("Yours sincerely,")
    d.add_paragraph(tag("agent"))
    d.save(path)


def main():
    rows, ours, theirs, book_path = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    import io
    logo = io.BytesIO(png())
    letter(ours, lambda f: "«" + f.upper() + "»", logo)
    logo.seek(0)
    letter(theirs, lambda f: "{{ " + f + " }}", logo)
    wb = openpyxl.Workbook(write_only=True)
    ws = wb.create_sheet()
    ws.append(FIELDS)
    for i in range(1, rows + 1):
        ws.append(["Ms", "Anna%d" % i, "Smith%d" % i, "%d Long Street" % i, "Springfield", "%05d" % (i % 99999),
                   "AC-%08d" % i, "%d.%02d EUR" % (i % 5000, i % 100), "2025-03-%02d" % (i % 28 + 1),
                   "Agent %d" % (i % 40)])
    wb.save(book_path)


if __name__ == "__main__":
    main()
