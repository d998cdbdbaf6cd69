"""The benchmark's jobs done with docxtpl, for comparison.

baseline.py numbered TEMPLATE-DOCXTPL.docx BOOK.xlsx COUNT OUTDIR   COUNT documents, one per record
baseline.py joined TEMPLATE-DOCXTPL.docx BOOK.xlsx COUNT OUTPUT     one document of COUNT records,
                                                                  a page break after each
Records are rows 2.. of the first sheet, values trimmed, "-" for an empty one, as Tallyweave does.
"""
import os
import re
import sys

import docx
import openpyxl
from docxtpl import DocxTemplate

BLANKS = "".join(chr(c) for c in range(33))


def records(book, count):
    ws = openpyxl.load_workbook(book, read_only=True).worksheets[0]
    rows = ws.iter_rows(values_only=True)
    fields = [str(f) for f in next(rows)]
    out = []
    for row in rows:
        if len(out) == count:
            break
        values = [("" if v is None else str(v)).strip(BLANKS) or "-" for v in row]
        out.append(dict(zip(fields, values)))
    return out


def numbered(template, book, count, outdir):
    for n, record in enumerate(records(book, count), start=1):
        tpl = DocxTemplate(template)
        tpl.render(record)
        tpl.save(os.path.join(outdir, "letter%04d.docx" % n))


def joined(template, book, count, output):
    # The letter's body repeated for every record inside one loop, a page break after each.
    looped = output + ".loop.docx"
    d = docx.Document(template)
    body = d.element.body
    first, last = body[0], body[-2]
    start = d.add_paragraph("{%p for r in records %}")._p
    end_break = d.add_paragraph("{{ page_break }}")._p
    end = d.add_paragraph("{%p endfor %}")._p
    for e in (start, end_break, end):
        body.remove(e)
    first.addprevious(start)
    last.addnext(end)
    end.addprevious(end_break)
    d.save(looped)
    # Inside the loop the fields belong to the record.
    import zipfile
    with zipfile.ZipFile(looped) as zin:
        xml = zin.read("word/document.xml").decode("utf-8")
    xml = re.sub(r"\{\{ (?!page_break)(\w+) \}\}", r"{{ r.\1 }}", xml)
    rewritten = looped + ".x"
    with zipfile.ZipFile(looped) as zin, zipfile.ZipFile(rewritten, "w", zipfile.ZIP_DEFLATED) as zout:
        for item in zin.infolist():
            zout.writestr(item, xml if item.filename == "word/document.xml" else zin.read(item.filename))
    os.replace(rewritten, looped)
    tpl = DocxTemplate(looped)
    tpl.render({"records": records(book, count), "page_break": "</w:t></w:r><w:r><w:br w:type=\"page\"/></w:r><w:r><w:t>"},
               autoescape=False)
    tpl.save(output)
    os.remove(looped)


def main():
    mode, template, book, count, target = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
    if mode == "numbered":
        numbered(template, book, count, target)
    else:
        joined(template, book, count, target)


if __name__ == "__main__":
    main()
