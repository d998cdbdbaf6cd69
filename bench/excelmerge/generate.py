"""Writes the benchmark's source and destination workbooks.

generate.py SOURCE_ROWS DEST_ROWS SOURCE.xlsx DEST.xlsx

Source (written by openpyxl): a header, then SOURCE_ROWS rows of key + 4 value columns; keys
repeat (about one in five is a duplicate), vary in case and carry stray blanks, and some value
cells are empty. Destination: a header, then DEST_ROWS rows of key, a name and a remark of about
250 characters, a tenth of them without a match in the source. The destination's sheet is written
as XML directly, since a million rows of it are some 300 MB, which openpyxl takes minutes over.
"""
import random
import sys
import zipfile

import openpyxl

NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"


def cell(ref, text):
    text = text.replace("&", "&amp;").replace("<", "&lt;")
    return f'<c r="{ref}" t="inlineStr"><is><t>{text}</t></is></c>'


def write_dest(path, rows, rng, key_space):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
                   '</Types>')
        z.writestr("_rels/.rels",
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/>'
                   '</Relationships>')
        z.writestr("xl/workbook.xml",
                   f'<workbook {NS} xmlns:r="{REL}"><sheets><sheet name="Dest" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels",
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   f'<Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>'
                   '</Relationships>')
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as sheet:
            sheet.write(f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><worksheet {NS}>'
                        f'<dimension ref="A1:C{rows + 1}"/><sheetData>'.encode())
            header = "".join(cell(f"{c}1", t) for c, t in zip("ABCDEF", ("key", "name", "remark", "f1", "f2", "f3")))
            sheet.write(f'<row r="1">{header}</row>'.encode())
            chunk = []
            for i in range(rows):
                r = i + 2
                k = rng.randrange(key_space * 10 // 9)  # keys above key_space never match
                remark = f"remark {i} " + "lorem ipsum dolor sit amet " * 9
                chunk.append(f'<row r="{r}">{cell(f"A{r}", "key%06d" % k)}{cell(f"B{r}", "dest %d" % i)}'
                             f'{cell(f"C{r}", remark)}</row>')
                if len(chunk) == 10000:
                    sheet.write("".join(chunk).encode())
                    chunk = []
            sheet.write(("".join(chunk) + "</sheetData></worksheet>").encode())


def main():
    source_rows, dest_rows = int(sys.argv[1]), int(sys.argv[2])
    source_path, dest_path = sys.argv[3], sys.argv[4]
    rng = random.Random(source_rows)
    key_space = source_rows * 4 // 5

    source = openpyxl.Workbook(write_only=True)
    sheet = source.create_sheet("Source")
    sheet.append(["key", "name", "amount", "city", "note"])
    for i in range(source_rows):
        k = rng.randrange(key_space)
        key = "Key%06d" % k
        if rng.random() < 0.1:
            key = key.upper()
        if rng.random() < 0.05:
            key = " " + key + " "
        sheet.append([key, "name %d" % i, rng.randrange(100000) / 100, "city %d" % (i % 977),
                      None if rng.random() < 0.2 else "note %d" % i])
    source.save(source_path)
    write_dest(dest_path, dest_rows, random.Random(dest_rows), key_space)


if __name__ == "__main__":
    main()
