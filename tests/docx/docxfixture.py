#!/usr/bin/python3
"""Templates and workbooks for the document tests, written by python-docx, openpyxl and
LibreOffice, and the reading of results by python-docx and lxml: programs we did not write.

  docxfixture.py python-template OUT.docx      letter with every structure a label may sit in
  docxfixture.py html-template OUT.docx PROFILE  the same kinds of text, made by LibreOffice from HTML
  docxfixture.py odt-template OUT.odt PROFILE    an OpenDocument text made by LibreOffice from HTML
  docxfixture.py doc-template OUT.doc PROFILE    a legacy .doc made by LibreOffice from HTML
  docxfixture.py as-dotx IN.docx OUT.dotx       the document relabelled as a template
  docxfixture.py plain-template OUT.docx TEXT   one paragraph of text
  docxfixture.py large-template OUT.docx MIB    a letter whose main part inflates to about MIB MiB
  docxfixture.py peak COMMAND...                JSON: the command's exit code, stderr and peak memory
  docxfixture.py sections-template OUT.docx     a landscape half page, a picture in its header
  docxfixture.py header-images DOCX             JSON: per section, the header's pictures that lead to an image
  docxfixture.py book OUT.xlsx ROWS.json        rows (lists of cells, null for empty) on sheet 1
  docxfixture.py read DOCX...                   JSON per file: paragraphs, cells, header, footer, boxes
  docxfixture.py check DOCX                     JSON: identifiers that are not unique, body layout
"""
import copy
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

import docx
from docx.opc.constants import RELATIONSHIP_TYPE as RT
from docx.oxml import parse_xml
from docx.oxml.ns import nsdecls, qn

W = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"
NS = {"w": W, "wp": "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing",
      "w14": "http://schemas.microsoft.com/office/word/2010/wordml"}


def png(width=8, height=8):
    raw = b"".join(b"\x00" + bytes([200, 30, 30]) * width for _ in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def run(paragraph, text, bold=False, italic=False):
    r = paragraph.add_run(text)
    r.bold = bold
    r.italic = italic
    return r


def raw(paragraph, xml):
    paragraph._p.append(parse_xml(xml))


TEXT_BOX = """<w:r %s><mc:AlternateContent><mc:Choice Requires="wps"><w:drawing>
<wp:anchor distT="0" distB="0" distL="114300" distR="114300" simplePos="0" relativeHeight="251659264"
 behindDoc="0" locked="0" layoutInCell="1" allowOverlap="1"><wp:simplePos x="0" y="0"/>
<wp:positionH relativeFrom="column"><wp:posOffset>0</wp:posOffset></wp:positionH>
<wp:positionV relativeFrom="paragraph"><wp:posOffset>0</wp:posOffset></wp:positionV>
<wp:extent cx="2000000" cy="500000"/><wp:effectExtent l="0" t="0" r="0" b="0"/>
<wp:wrapSquare wrapText="bothSides"/><wp:docPr id="10" name="Text Box 10"/><wp:cNvGraphicFramePr/>
<a:graphic xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main">
<a:graphicData uri="http://schemas.microsoft.com/office/word/2010/wordprocessingShape"><wps:wsp>
<wps:cNvSpPr txBox="1"/><wps:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="2000000" cy="500000"/></a:xfrm>
<a:prstGeom prst="rect"><a:avLst/></a:prstGeom></wps:spPr>
<wps:txbx><w:txbxContent><w:p><w:r><w:t>Box %s</w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>%s</w:t></w:r></w:p>
</w:txbxContent></wps:txbx><wps:bodyPr rot="0" vert="horz" wrap="square" anchor="t"><a:noAutofit/></wps:bodyPr>
</wps:wsp></a:graphicData></a:graphic></wp:anchor></w:drawing></mc:Choice>
<mc:Fallback><w:pict><v:shape id="TextBox10" o:spid="_x0000_s1026" type="#_x0000_t202"
 style="position:absolute;width:157pt;height:39pt"><v:textbox><w:txbxContent><w:p><w:r>
<w:t>Box %s%s</w:t></w:r></w:p></w:txbxContent></v:textbox></v:shape></w:pict></mc:Fallback>
</mc:AlternateContent></w:r>"""


def sections_template(out):
    """A landscape half page whose header holds a label and a picture, and a footer with a label."""
    from docx.enum.section import WD_ORIENT
    from docx.shared import Mm
    d = docx.Document()
    section = d.sections[0]
    section.orientation = WD_ORIENT.LANDSCAPE
    section.page_width, section.page_height = Mm(210), Mm(148)
    for side in ("left_margin", "right_margin", "top_margin", "bottom_margin"):
        setattr(section, side, Mm(15))
    header = section.header.paragraphs[0]
    header.text = "Header for «NAME»"
    logo = tempfile.NamedTemporaryFile(suffix=".png", delete=False)
    logo.write(png())
    logo.close()
    header.add_run().add_picture(logo.name, width=Mm(4))
    os.unlink(logo.name)
    section.footer.paragraphs[0].text = "Footer «CITY»"
    d.add_paragraph("Dear «NAME» of «CITY».")
    d.save(out)


def header_images(path):
    """Per section, the pictures of its header that python-docx can follow to their image part."""
    d = docx.Document(path)
    counts = []
    for section in d.sections:
        part = section.header.part
        found = 0
        for blip in part.element.iter("{http://schemas.openxmlformats.org/drawingml/2006/main}blip"):
            rid = blip.get(qn("r:embed"))
            if rid in part.rels and part.rels[rid].target_part.blob.startswith(b"\x89PNG"):
                found += 1
        counts.append(found)
    return counts


def large_template(out, megabytes):
    """A letter whose main part inflates to about the size asked for (in MiB): paragraphs of
    formatted runs, a label in every hundredth, written piece by piece."""
    import re
    import zipfile
    work = tempfile.mkdtemp()
    try:
        small = os.path.join(work, "small.docx")
        d = docx.Document()
        d.sections[0].header.paragraphs[0].text = "Letter for «NAME»"
        d.add_paragraph("Dear «NAME»,")
        d.save(small)
        with zipfile.ZipFile(small) as zin:
            main = zin.read("word/document.xml").decode("utf-8")
            at = main.index("<w:sectPr")
            head, tail = main[:at], main[at:]
            with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zout:
                for item in zin.infolist():
                    if item.filename != "word/document.xml":
                        zout.writestr(item, zin.read(item.filename))
                with zout.open("word/document.xml", "w", force_zip64=True) as part:
                    part.write(head.encode("utf-8"))
                    written, n, goal = len(head), 0, int(float(megabytes) * 1024 * 1024) - len(tail)
                    while written < goal:
                        chunk = "".join(
                            '<w:p><w:pPr><w:spacing w:after="0"/></w:pPr><w:r><w:rPr><w:b/></w:rPr>'
                            '<w:t xml:space="preserve">Paragraph %d %s, lorem ipsum dolor sit amet. </w:t></w:r></w:p>'
                            % (n + i, "of «NAME»" if (n + i) % 100 == 0 else "for you") for i in range(1000))
                        n += 1000
                        data = chunk.encode("utf-8")
                        part.write(data)
                        written += len(data)
                    part.write(tail.encode("utf-8"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def peak(command):
    """Runs a command; JSON: its exit code, standard error, and the most memory it held (KiB)."""
    import resource
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return {"exit": done.returncode, "err": done.stderr.decode("utf-8", "replace"),
            "peakKiB": resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss}


def python_template(out):
    """Labels «NAME» and «CITY», each spelt in several cases and cut in pieces."""
    d = docx.Document()
    section = d.sections[0]
    section.header.paragraphs[0].text = "Letter for «NAME»"
    section.footer.paragraphs[0].text = "«city» office"
    logo = tempfile.NamedTemporaryFile(suffix=".png", delete=False)
    logo.write(png())
    logo.close()
    d.add_picture(logo.name)
    os.unlink(logo.name)

    p = d.add_paragraph("Dear ")                       # split across runs of different formatting
    run(p, "«NA", bold=True)
    run(p, "ME»", italic=True)
    run(p, ",")
    p = d.add_paragraph("Town: ")                      # proofing marks and a bookmark between runs
    run(p, "«CI")
    raw(p, '<w:proofErr %s w:type="spellStart"/>' % nsdecls("w"))
    raw(p, '<w:bookmarkStart %s w:id="7" w:name="town"/>' % nsdecls("w"))
    run(p, "TY»")
    raw(p, '<w:proofErr %s w:type="spellEnd"/>' % nsdecls("w"))
    raw(p, '<w:bookmarkEnd %s w:id="7"/>' % nsdecls("w"))
    p = d.add_paragraph("Link: ")                      # inside a hyperlink, cut in two runs
    rid = d.part.relate_to("https://example.org/", RT.HYPERLINK, is_external=True)
    raw(p, '<w:hyperlink %s r:id="%s"><w:r><w:t>«Na</w:t></w:r><w:r><w:rPr><w:u w:val="single"/></w:rPr>'
           '<w:t>me»</w:t></w:r></w:hyperlink>' % (nsdecls("w", "r"), rid))
    p = d.add_paragraph("Boxed: ")                     # a text box, kept twice by word processors
    decls = nsdecls("w", "wp") + "".join(' xmlns:%s="%s"' % pair for pair in (
        ("mc", "http://schemas.openxmlformats.org/markup-compatibility/2006"),
        ("wps", "http://schemas.microsoft.com/office/word/2010/wordprocessingShape"),
        ("v", "urn:schemas-microsoft-com:vml"), ("o", "urn:schemas-microsoft-com:office:office")))
    raw(p, TEXT_BOX % (decls, "«NA", "ME»", "«NA", "ME»"))
    p = d.add_paragraph("Controls: ")                  # content control, smart tag, insertion, field
    raw(p, '<w:sdt %s><w:sdtPr><w:id w:val="42"/></w:sdtPr><w:sdtContent><w:r><w:t>[«CITY»]</w:t></w:r>'
           '</w:sdtContent></w:sdt>' % nsdecls("w"))
    raw(p, '<w:smartTag %s w:uri="urn:x" w:element="place"><w:r><w:t> [«NAME»]</w:t></w:r></w:smartTag>' % nsdecls("w"))
    raw(p, '<w:ins %s w:id="90" w:author="x" w:date="2024-01-01T00:00:00Z"><w:r><w:t> [«city»]</w:t></w:r></w:ins>'
        % nsdecls("w"))
    raw(p, '<w:del %s w:id="91" w:author="x" w:date="2024-01-01T00:00:00Z"><w:r><w:delText>«NAME»</w:delText>'
           '</w:r></w:del>' % nsdecls("w"))
    raw(p, '<w:fldSimple %s w:instr=" QUOTE x "><w:r><w:t> [«NAME»]</w:t></w:r></w:fldSimple>' % nsdecls("w"))
    p = d.add_paragraph("Surname«name»; kept: «NA")    # inside a word; a tab is a barrier
    raw(p, '<w:r %s><w:tab/><w:t>ME»</w:t></w:r>' % nsdecls("w"))

    table = d.add_table(rows=1, cols=2)
    table.style = "Table Grid"
    table.cell(0, 0).text = "Cell «City»"
    inner = table.cell(0, 1).add_table(rows=1, cols=1)
    inner.cell(0, 0).text = "Inner «NAME»"
    d.add_paragraph("The end.")
    # Paragraph ids as recent word processors write them, which must stay unique when joined.
    for i, paragraph in enumerate(d.element.body.iter(qn("w:p"))):
        paragraph.set("{%s}paraId" % NS["w14"], "%08X" % (0x1000 + i))
    d.save(out)


HTML = """<html><head><meta charset="utf-8"><title>t</title></head><body>
<p>Dear <b>«NA</b><i>ME»</i>, from <span style="color:#c00000">«ci</span>ty».</p>
<p>Visit <a href="https://example.org/">«NAME» online</a>.</p>
<table border="1"><tr><td>Cell «CITY»</td><td><table border="1"><tr><td>Inner «Name»</td></tr></table></td></tr></table>
<p>The end.</p>
</body></html>"""


def soffice(args, profile):
    subprocess.run(["soffice", "-env:UserInstallation=file://" + os.path.abspath(profile), "--headless",
                    "--norestore", "--nologo"] + args, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300)


def from_html(out, profile, filter_name):
    work = tempfile.mkdtemp()
    try:
        src = os.path.join(work, "letter.html")
        with open(src, "w", encoding="utf-8") as f:
            f.write(HTML)
        ext = os.path.splitext(out)[1][1:]
        # Writer, not Writer/Web, reads the page, so that it can be stored as a word-processing file.
        soffice(["--infilter=HTML (StarWriter)", "--convert-to", ext + ":" + filter_name, "--outdir", work, src],
                profile)
        shutil.move(os.path.join(work, "letter." + ext), out)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def as_dotx(src, out):
    import zipfile
    with zipfile.ZipFile(src) as zin, zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zout:
        for item in zin.infolist():
            data = zin.read(item.filename)
            if item.filename == "[Content_Types].xml":
                data = data.replace(b"wordprocessingml.document.main+xml", b"wordprocessingml.template.main+xml")
            zout.writestr(item, data)


def book(out, rows_json):
    import openpyxl
    with open(rows_json, encoding="utf-8") as f:
        rows = json.load(f)
    wb = openpyxl.Workbook()
    ws = wb.active
    for r, row in enumerate(rows, start=1):
        for c, value in enumerate(row, start=1):
            if value is not None:
                ws.cell(row=r, column=c, value=value)
    wb.save(out)


def text_of(p):
    """A paragraph as a reader sees it, hyperlinks and content controls included, text boxes
    and deleted text left out."""
    out = []
    for e in p.iter(qn("w:t"), qn("w:tab"), qn("w:br"), qn("w:txbxContent")):
        if any(a.tag == qn("w:txbxContent") for a in e.iterancestors()) or e.tag == qn("w:txbxContent"):
            continue
        if e.tag == qn("w:t"):
            out.append(e.text or "")
        elif e.tag == qn("w:tab"):
            out.append("\t")
        else:
            out.append("\f" if e.get(qn("w:type")) == "page" else "\n")
    return "".join(out)


def cell_texts(table, out):
    for row in table.rows:
        for cell in row.cells:
            out.append("\n".join(text_of(p._p) for p in cell.paragraphs))
            for inner in cell.tables:
                cell_texts(inner, out)


def read(path):
    d = docx.Document(path)
    body = d.element.body
    cells = []
    for t in d.tables:
        cell_texts(t, cells)
    boxes = []
    for box in body.iter(qn("w:txbxContent")):
        boxes.append("".join(t.text or "" for t in box.iter(qn("w:t"))))
    section = d.sections[0]
    return {"paragraphs": [text_of(p) for p in body.iterchildren(qn("w:p"))], "cells": cells, "boxes": boxes,
            "header": [text_of(p._p) for p in section.header.paragraphs],
            "footer": [text_of(p._p) for p in section.footer.paragraphs],
            "pageBreaks": len(body.xpath('.//w:br[@w:type="page"]')),
            "sections": [{"header": side_text(s.header), "footer": side_text(s.footer),
                          "pageWidth": s.page_width, "orientation": int(s.orientation)} for s in d.sections]}


def side_text(side):
    """A section's own header or footer; None when it has none of its own (it shows the one before)."""
    if side.is_linked_to_previous:
        return None
    return "\n".join(text_of(p._p) for p in side.paragraphs)


def check(path):
    d = docx.Document(path)
    body = d.element.body
    def duplicates(values):
        seen, dup = set(), set()
        for v in values:
            (dup if v in seen else seen).add(v)
        return sorted(dup)
    starts = body.xpath(".//w:bookmarkStart")
    return {
        "bookmarkNames": duplicates(b.get(qn("w:name")) for b in starts),
        "bookmarkIds": duplicates(b.get(qn("w:id")) for b in starts),
        "paraIds": duplicates(p.get("{%s}paraId" % NS["w14"]) for p in body.iter(qn("w:p"))
                              if p.get("{%s}paraId" % NS["w14"])),
        "drawingIds": duplicates(e.get("id") for e in body.iter("{%s}docPr" % NS["wp"])),
        "sectionsAtEnd": int(len(body) > 0 and body[-1].tag == qn("w:sectPr")),
        "bodySections": len(body.findall(qn("w:sectPr"))),
        "images": len(d.inline_shapes),
        "paragraphs": len(body.findall(qn("w:p"))),
    }


def main():
    command = sys.argv[1]
    if command == "python-template":
        python_template(sys.argv[2])
    elif command == "large-template":
        large_template(sys.argv[2], sys.argv[3])
    elif command == "peak":
        json.dump(peak(sys.argv[2:]), sys.stdout)
    elif command == "sections-template":
        sections_template(sys.argv[2])
    elif command == "header-images":
        json.dump(header_images(sys.argv[2]), sys.stdout)
    elif command == "html-template":
        from_html(sys.argv[2], sys.argv[3], "MS Word 2007 XML")
    elif command == "odt-template":
        from_html(sys.argv[2], sys.argv[3], "writer8")
    elif command == "doc-template":
        from_html(sys.argv[2], sys.argv[3], "MS Word 97")
    elif command == "plain-template":
        d = docx.Document()
        d.add_paragraph(sys.argv[3])
        d.save(sys.argv[2])
    elif command == "as-dotx":
        as_dotx(sys.argv[2], sys.argv[3])
    elif command == "book":
        book(sys.argv[2], sys.argv[3])
    elif command == "read":
        json.dump({p: read(p) for p in sys.argv[2:]}, sys.stdout, ensure_ascii=False)
    elif command == "check":
        json.dump(check(sys.argv[2]), sys.stdout)
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main()
