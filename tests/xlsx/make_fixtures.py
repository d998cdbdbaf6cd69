"""Writes the workbooks the xlsx tests read, with programs other than Tallyweave.

Usage: make_fixtures.py OUTDIR
"""
import datetime
import sys
import zipfile
from pathlib import Path

import openpyxl
import xlsxwriter
from openpyxl.styles import Font

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)


def openpyxl_book():
    """Inline strings, absolute relationship targets, formulas without cached values."""
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Zeta"
    rows = [
        ("hello", " padded ", "ünïcödé €", "tab\there"),
        (42, -7, 1234567890123, 0.1),
        (1e15, 2.5e-7, -0.0, 123456.789),
        (True, False, "#N/A", "#DIV/0!"),
        (datetime.date(2024, 1, 5), datetime.datetime(2024, 1, 5, 13, 45), datetime.time(13, 45, 30), None),
        ("=A2*2", 3.14159, 1e-4, 99999999999999.9),
    ]
    for r, row in enumerate(rows, start=1):
        for c, value in enumerate(row, start=1):
            if value is not None:
                ws.cell(row=r, column=c, value=value)
    ws["B6"].number_format = "0.00"  # a display format never changes the text
    ws["A7"] = datetime.datetime(2023, 12, 31, 23, 59, 59)
    ws["A7"].number_format = 'dd/mm/yyyy hh:mm:ss'
    ws["B7"] = 45000.5
    ws["B7"].number_format = '"day "0.0'  # letters inside quotes are no date codes
    ws["C7"] = 0.75
    ws["C7"].number_format = '[h]:mm'
    ws["D7"] = 45000
    ws["D7"].number_format = '[Red]0'  # a colour in brackets is no date code
    ws["A1"].font = Font(bold=True)

    alpha = wb.create_sheet("Alpha")
    # empty leading rows and columns: the values start at C3
    alpha["C3"] = "first"
    alpha["D4"] = 7
    alpha["E9"] = "last"
    wb.create_sheet("Mid")  # empty
    wb.save(out / "openpyxl.xlsx")


def xlsxwriter_book(name, date1904):
    """Shaped like the spreadsheet program's own files: shared strings, cached formula values."""
    wb = xlsxwriter.Workbook(str(out / name), {"date_1904": date1904})
    ws = wb.add_worksheet("Data")
    bold = wb.add_format({"bold": True})
    italic = wb.add_format({"italic": True})
    date_fmt = wb.add_format({"num_format": "yyyy-mm-dd"})
    dt_fmt = wb.add_format({"num_format": "yyyy-mm-dd hh:mm:ss"})
    time_fmt = wb.add_format({"num_format": "hh:mm"})
    ws.write_string("A1", "Name")
    ws.write_string("B1", "Amount")
    ws.write_rich_string("C1", "rich ", bold, "bold", " and ", italic, "italic")
    ws.write_string("A2", "Name")  # the same shared string again
    ws.write_number("B2", 1234.5)
    ws.write_formula("C2", "=B2*2", None, 2469)
    ws.write_formula("D2", '="x"&A1', None, "xName")
    ws.write_formula("E2", "=1/0", None, "#DIV/0!")
    ws.write_formula("F2", "=B2>0", None, True)
    ws.write_datetime("A3", datetime.datetime(2024, 1, 5), date_fmt)
    ws.write_datetime("B3", datetime.datetime(2024, 1, 5, 13, 45), dt_fmt)
    ws.write_datetime("C3", datetime.time(9, 30), time_fmt)
    ws.write_boolean("D3", True)
    ws.write_string("A4", "")  # an empty string counts as empty
    ws.write_formula("A5", "=A4", None, "")
    # around the 29 February 1900 that the 1900 system counts but never was
    for col, serial in enumerate((1, 59, 60, 61)):
        ws.write_number(5, col, serial, date_fmt)
    chart = wb.add_chartsheet("Chart")
    plot = wb.add_chart({"type": "column"})
    plot.add_series({"values": "=Data!$B$2:$B$3"})
    chart.set_chart(plot)
    last = wb.add_worksheet("After chart")
    last.write_string("B2", "behind the chart")
    wb.close()


def big_book(name, rows):
    """A tall sheet whose strings are all different, for glances at the top of large books."""
    wb = xlsxwriter.Workbook(str(out / name), {"constant_memory": True})
    ws = wb.add_worksheet("Big")
    for r in range(rows):
        ws.write_string(r, 0, f"row {r + 1}")
        ws.write_number(r, 1, r + 1)
    wb.close()


def raw_package(name, sheet_xml, extra=None):
    """A package written by hand, for shapes no library writes (prefixes, shared formulas, faults)."""
    ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
    with zipfile.ZipFile(out / name, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0" encoding="UTF-8"?>'
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
                   '<Override PartName="/xl/calcChain.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/>'
                   '</Types>')
        z.writestr("_rels/.rels",
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
                   '</Relationships>')
        z.writestr("xl/workbook.xml",
                   f'<x:workbook xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                   f'xmlns:rel="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
                   f'<x:sheets><x:sheet name="Raw" sheetId="1" rel:id="rId7"/></x:sheets>'
                   f'<x:calcPr calcId="191029"/></x:workbook>')
        z.writestr("xl/_rels/workbook.xml.rels",
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId7" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
                   '<Relationship Id="rId8" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain" Target="calcChain.xml"/>'
                   '</Relationships>')
        z.writestr("xl/worksheets/sheet1.xml", sheet_xml.replace("NS", ns))
        z.writestr("xl/calcChain.xml",
                   f'<calcChain {ns}><c r="B1" i="1"/><c r="B2"/><c r="B3"/></calcChain>')
        for entry, data in (extra or {}).items():
            z.writestr(entry, data)


openpyxl_book()
xlsxwriter_book("xlsxwriter.xlsx", False)
xlsxwriter_book("date1904.xlsx", True)
big_book("big.xlsx", 50000)

# A shared formula down column B (master B1), rows without references, a phonetic run that is not
# part of the text, escapes for characters XML cannot carry, and a cell style to keep.
raw_package("raw.xlsx",
            '<worksheet NS><dimension ref="A1:B3"/><sheetData>'
            '<row><c t="inlineStr"><is><r><t>in</t></r><r><t xml:space="preserve">line </t></r>'
            '<rPh sb="0" eb="1"><t>PHONETIC</t></rPh></is></c>'
            '<c s="0"><f t="shared" ref="B1:B3" si="0">A1&amp;"!"&amp;$A$1</f><v>1</v></c></row>'
            '<row><c t="inlineStr"><is><t>a_x0009_b_x005F_x0041_</t></is></c>'
            '<c><f t="shared" si="0"/><v>2</v></c></row>'
            '<row spans="1:2"><c t="str"><v>formula text</v></c>'
            '<c><f t="shared" si="0"/><v>3</v></c></row>'
            '</sheetData></worksheet>')

# Cells with gaps between them, and a row's own extension list, which must stay after its cells.
raw_package("gaps.xlsx",
            '<worksheet NS><dimension ref="A1:E2"/><sheetData>'
            '<row r="1"><c r="A1" t="inlineStr"><is><t>a</t></is></c><c r="C1" t="inlineStr"><is><t>c</t></is></c>'
            '<c r="E1" t="inlineStr"><is><t>e</t></is></c><extLst/></row>'
            '<row r="2"><c r="B2" t="inlineStr"><is><t>b2</t></is></c></row>'
            '</sheetData></worksheet>')

# Shapes the streamed patch meets: a prefixed sheet with no dimension, no sheet data at all, empty
# sheet data, rows and cells without references, rows out of order.
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
raw_package("prefixed.xlsx",
            f'<x:worksheet xmlns:x="{MAIN}"><x:sheetPr/><x:sheetData><x:row r="2" spans="1:1">'
            '<x:c r="A2" s="0"><x:v>1</x:v></x:c></x:row></x:sheetData>'
            '<x:pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>'
            '</x:worksheet>')
raw_package("nodata.xlsx",
            '<worksheet NS><sheetViews><sheetView workbookViewId="0"/></sheetViews>'
            '<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/></worksheet>')
raw_package("emptydata.xlsx", '<worksheet NS><dimension ref="A1"/><sheetData/></worksheet>')
raw_package("implicit.xlsx",
            '<worksheet NS><sheetData><row><c><v>1</v></c><c><v>2</v></c></row>'
            '<row><c t="inlineStr"><is><t>3 &gt; 2</t></is></c><!-- a comment </row> --></row>'
            '</sheetData></worksheet>')
raw_package("unordered.xlsx",
            '<worksheet NS><sheetData><row r="3"><c r="A3"><v>3</v></c></row>'
            '<row r="1"><c r="A1"><v>1</v></c></row></sheetData></worksheet>')

# Faults
raw_package("badref.xlsx",
            '<worksheet NS><sheetData><row r="1"><c r="XFE1"><v>1</v></c></row></sheetData></worksheet>')
raw_package("badxml.xlsx", '<worksheet NS><sheetData><row r="1"><c r="A1"><v>1</v></row></sheetData></worksheet>')
raw_package("badshared.xlsx",
            '<worksheet NS><sheetData><row r="1"><c r="B7" t="s"><v>912</v></c></row></sheetData></worksheet>')
raw_package("hugerow.xlsx",
            '<worksheet NS><dimension ref="A1:XFD1048576"/><sheetData><row r="1048577"><c><v>1</v></c></row>'
            '</sheetData></worksheet>')
raw_package("doctype.xlsx",
            '<!DOCTYPE lol [<!ENTITY a "aaaaaaaaaa">]><worksheet NS><sheetData><row r="1"><c r="A1" t="inlineStr">'
            '<is><t>&a;</t></is></c></row></sheetData></worksheet>')

# A macro-enabled workbook: a macro project with a signature of its own, typed by extension.
with zipfile.ZipFile(out / "macro.xlsm", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml",
               '<?xml version="1.0" encoding="UTF-8"?>'
               '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
               '<Default Extension="xml" ContentType="application/xml"/>'
               '<Default Extension="bin" ContentType="application/vnd.ms-office.vbaProject"/>'
               '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.ms-excel.sheet.macroEnabled.main+xml"/>'
               '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
               '<Override PartName="/xl/vbaProjectSignature.bin" ContentType="application/vnd.ms-office.vbaProjectSignature"/>'
               '</Types>')
    z.writestr("_rels/.rels",
               '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
               '</Relationships>')
    z.writestr("xl/workbook.xml",
               '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
               'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
               '<workbookPr codeName="ThisWorkbook"/><sheets><sheet name="Macro" sheetId="1" r:id="rId1"/></sheets></workbook>')
    z.writestr("xl/_rels/workbook.xml.rels",
               '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
               '<Relationship Id="rId2" Type="http://schemas.microsoft.com/office/2006/relationships/vbaProject" Target="vbaProject.bin"/>'
               '</Relationships>')
    z.writestr("xl/worksheets/sheet1.xml",
               '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
               '<row r="1"><c r="A1" t="inlineStr"><is><t>key</t></is></c></row></sheetData></worksheet>')
    z.writestr("xl/vbaProject.bin", bytes(range(256)) * 8)
    z.writestr("xl/_rels/vbaProject.bin.rels",
               '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               '<Relationship Id="rId1" Type="http://schemas.microsoft.com/office/2006/relationships/vbaProjectSignature" Target="vbaProjectSignature.bin"/>'
               '</Relationships>')
    z.writestr("xl/vbaProjectSignature.bin", b"\x30\x82signature")

good = (out / "openpyxl.xlsx").read_bytes()
(out / "truncated.xlsx").write_bytes(good[: len(good) // 2])
(out / "text.xlsx").write_text("Name,Amount\nAlice,3\n")
with zipfile.ZipFile(out / "notbook.xlsx", "w") as z:
    z.writestr("word/document.xml", "<document/>")
    z.writestr("[Content_Types].xml", "<Types/>")

# An entry that claims little and inflates to much: its declared size is patched down after writing.
with zipfile.ZipFile(out / "liar.xlsx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", "<Types/>")
    z.writestr("xl/workbook.xml", "<workbook xmlns='http://schemas.openxmlformats.org/spreadsheetml/2006/main'/>" +
               " " * 2_000_000)
data = bytearray((out / "liar.xlsx").read_bytes())
with zipfile.ZipFile(out / "liar.xlsx") as z:
    info = z.getinfo("xl/workbook.xml")
    real = info.file_size
needle = real.to_bytes(4, "little")
pos = data.find(needle)
while pos >= 0:
    data[pos:pos + 4] = (100).to_bytes(4, "little")
    pos = data.find(needle, pos + 4)
(out / "liar.xlsx").write_bytes(bytes(data))

# Two sheets, the second one broken: the first must still read.
wb = openpyxl.Workbook()
wb.active["A1"] = "fine"
wb.create_sheet("Broken")["A1"] = "lost"
wb.save(out / "onebad.xlsx")
with zipfile.ZipFile(out / "onebad.xlsx") as src, zipfile.ZipFile(out / "onebad2.xlsx", "w") as dst:
    for item in src.infolist():
        data = src.read(item.filename)
        if item.filename == "xl/worksheets/sheet2.xml":
            data = data[: len(data) // 2]
        dst.writestr(item, data)
(out / "onebad2.xlsx").replace(out / "onebad.xlsx")
