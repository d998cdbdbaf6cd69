"""Writes OpenDocument spreadsheets by hand (the XML as another program might write it), and the
hostile ones the reader must refuse.

Usage: make_ods.py OUTDIR
"""
import sys
import zipfile
from pathlib import Path

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)

NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
      'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
      'xmlns:dc="http://purl.org/dc/elements/1.1/"')
MANIFEST = ('<?xml version="1.0" encoding="UTF-8"?>'
            '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
            '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>'
            '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>'
            '<manifest:file-entry manifest:full-path="styles.xml" manifest:media-type="text/xml"/>'
            '</manifest:manifest>')
STYLES = f'<?xml version="1.0" encoding="UTF-8"?><office:document-styles {NS} office:version="1.2"/>'


def content(tables, styles=""):
    return (f'<?xml version="1.0" encoding="UTF-8"?><office:document-content {NS} office:version="1.2">'
            f'<office:automatic-styles>{styles}</office:automatic-styles>'
            f'<office:body><office:spreadsheet>{tables}</office:spreadsheet></office:body></office:document-content>')


def package(name, content_xml, mimetype="application/vnd.oasis.opendocument.spreadsheet", extra=None,
            skip=()):
    with zipfile.ZipFile(out / name, "w") as z:
        if "mimetype" not in skip:
            z.writestr(zipfile.ZipInfo("mimetype"), mimetype, compress_type=zipfile.ZIP_STORED)
        if "content.xml" not in skip:
            z.writestr("content.xml", content_xml, compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("styles.xml", STYLES, compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("META-INF/manifest.xml", MANIFEST, compress_type=zipfile.ZIP_DEFLATED)
        for part, data in (extra or {}).items():
            z.writestr(part, data, compress_type=zipfile.ZIP_DEFLATED)


def s(text, extra=""):
    return f'<table:table-cell office:value-type="string"{extra}><text:p>{text}</text:p></table:table-cell>'


def f(value, extra=""):
    return f'<table:table-cell office:value-type="float" office:value="{value}"{extra}><text:p>{value}</text:p></table:table-cell>'


def row(*cells, extra=""):
    return f'<table:table-row{extra}>{"".join(cells)}</table:table-row>'


EMPTY = '<table:table-cell/>'
MILLION = '<table:table-row table:number-rows-repeated="1048000"><table:table-cell table:number-columns-repeated="1024"/></table:table-row>'

# Every kind of value and text the reader takes, with the repeats a spreadsheet program writes.
values = ''.join([
    '<table:table table:name="Values" table:style-name="ta1">',
    '<table:table-column table:number-columns-repeated="4"/>',
    row(s("name"), s("value")),
    row(s("float"), f("3.5")),
    row(s("percentage"), '<table:table-cell office:value-type="percentage" office:value="0.25"><text:p>25%</text:p></table:table-cell>'),
    row(s("currency"), '<table:table-cell office:value-type="currency" office:currency="EUR" office:value="1234.5"><text:p>1.234,50 €</text:p></table:table-cell>'),
    row(s("computed"), '<table:table-cell table:formula="of:=0.1+0.2" office:value-type="float" office:value="0.30000000000000004"><text:p>0.3</text:p></table:table-cell>'),
    row(s("date"), '<table:table-cell office:value-type="date" office:date-value="2024-01-05"><text:p>05/01/24</text:p></table:table-cell>'),
    row(s("date and time"), '<table:table-cell office:value-type="date" office:date-value="2024-01-05T13:45:00"><text:p>x</text:p></table:table-cell>'),
    row(s("before 1900"), '<table:table-cell office:value-type="date" office:date-value="1850-03-01"><text:p>x</text:p></table:table-cell>'),
    row(s("fraction of a second"), '<table:table-cell office:value-type="date" office:date-value="1899-12-31T23:59:59.6"><text:p>x</text:p></table:table-cell>'),
    row(s("time"), '<table:table-cell office:value-type="time" office:time-value="PT13H45M30S"><text:p>x</text:p></table:table-cell>'),
    row(s("elapsed"), '<table:table-cell office:value-type="time" office:time-value="PT36H00M00S"><text:p>x</text:p></table:table-cell>'),
    row(s("negative elapsed"), '<table:table-cell office:value-type="time" office:time-value="-PT6H"><text:p>x</text:p></table:table-cell>'),
    row(s("true"), '<table:table-cell office:value-type="boolean" office:boolean-value="true"><text:p>TRUE</text:p></table:table-cell>'),
    row(s("false"), '<table:table-cell table:formula="of:=1=2" office:value-type="boolean" office:boolean-value="false"><text:p>FALSE</text:p></table:table-cell>'),
    row(s("error"), '<table:table-cell table:formula="of:=NA()" office:value-type="string" office:string-value=""><text:p>#N/A</text:p></table:table-cell>'),
    row(s("spaces"), s('a<text:s/> b<text:s text:c="3"/>c')),
    row(s("tab and break"), s('a<text:tab/>b<text:line-break/>c')),
    row(s("paragraphs"), '<table:table-cell office:value-type="string"><text:p>one</text:p><text:p/><text:p>three</text:p></table:table-cell>'),
    row(s("span and link"), s('<text:span text:style-name="T1">bold</text:span> and <text:a xlink:href="http://x">link</text:a>')),
    row(s("annotation"), '<table:table-cell office:value-type="string"><office:annotation><dc:creator>me</dc:creator><text:p>a note</text:p></office:annotation><text:p>shown</text:p></table:table-cell>'),
    row(s("entities"), s('&lt;a &amp; b&gt; &#x4E2D;&#25991;')),
    row(s("string value wins"), '<table:table-cell office:value-type="string" office:string-value="kept"><text:p>shown</text:p></table:table-cell>'),
    MILLION,
    '</table:table>',
]).replace('xlink:href', 'href')

# Repeated rows and columns, merged cells, a hidden sheet between two others.
repeats = ''.join([
    '<table:table table:name="Repeats">',
    '<table:table-column table:number-columns-repeated="1024"/>',
    row('<table:table-cell table:number-columns-repeated="2"/>', s("C1"), f("7", ' table:number-columns-repeated="3"'),
        '<table:table-cell table:number-columns-repeated="1018"/>'),
    row(s("same", ' table:number-columns-repeated="2"'), '<table:table-cell table:number-columns-repeated="1022"/>',
        extra=' table:number-rows-repeated="3"'),
    '<table:table-row table:number-rows-repeated="4"><table:table-cell table:number-columns-repeated="1024"/></table:table-row>',
    row(s("merged", ' table:number-columns-spanned="2" table:number-rows-spanned="2"'),
        '<table:covered-table-cell office:value-type="string"><text:p>hidden</text:p></table:covered-table-cell>', s("after")),
    row('<table:covered-table-cell table:number-columns-repeated="2"/>', f("-0")),
    '<table:table-row-group>', row(s("grouped")), '</table:table-row-group>',
    MILLION,
    '</table:table>',
])
hidden = ('<table:table table:name="Hidden" table:style-name="ta2">' + row(s("secret")) + '</table:table>')
empty = '<table:table table:name="Empty">' + MILLION + '</table:table>'
hidden_style = ('<style:style style:name="ta2" style:family="table">'
                '<style:table-properties table:display="false"/></style:style>')
package("handmade.ods", content(values + repeats + hidden + empty, hidden_style))

# A short table without trailing rows or columns, for merges that add rows and cells past its end.
package("short.ods", content('<table:table table:name="Short">' + row(s("a"), s("b")) + row(f("1")) +
                              '</table:table>' + '<table:table table:name="Other">' + row(s("other")) + '</table:table>'))

# An element in a row that is no cell takes no column.
package("foreign.ods", content('<table:table table:name="F">' +
        row('<table:foreign table:number-columns-repeated="3"/>', s("a"), s("b")) + '</table:table>'))

# A template keeps its own type.
package("template.ots", content('<table:table table:name="T">' + row(s("templ")) + '</table:table>'),
        mimetype="application/vnd.oasis.opendocument.spreadsheet-template")

# Hostile or damaged files.
package("text-document.odt", content(""), mimetype="application/vnd.oasis.opendocument.text")
package("no-content.ods", "", skip=("content.xml",))
package("broken-xml.ods", content('<table:table table:name="B">' + row(s("a")) + '<table:table-row>'))
package("absurd-repeat.ods", content('<table:table table:name="A">' +
        row(s("x", ' table:number-columns-repeated="99999999999999999999"')) + '</table:table>'))
package("repeated-values.ods", content('<table:table table:name="R">' +
        row(s("x", ' table:number-columns-repeated="16384"'), extra=' table:number-rows-repeated="1048576"') + '</table:table>'))
package("column-beyond.ods", content('<table:table table:name="C">' +
        row('<table:table-cell table:number-columns-repeated="16384"/>', s("far")) + '</table:table>'))
package("row-beyond.ods", content('<table:table table:name="R">' +
        '<table:table-row table:number-rows-repeated="1048576"><table:table-cell/></table:table-row>' + row(s("far")) + '</table:table>'))
package("bad-number.ods", content('<table:table table:name="N">' + row(s("a")) + row(EMPTY, f("12abc")) + '</table:table>'
                                  '<table:table table:name="Fine">' + row(s("fine")) + '</table:table>'))
# Sheets after the first are counted without being read as XML: the second holds a table of the
# same name nested in a shape's text, the third a tag no XML reader takes.
package("later-sheets.ods", content('<table:table table:name="First">' + row(s("one")) + '</table:table>'
                                    '<table:table table:name="Nested">' + row(s('<draw:frame><draw:text-box>'
                                    '<table:table table:name="inner">' + row(s("in")) + '</table:table>'
                                    '</draw:text-box></draw:frame>')) + '<table:table/>' + row(s("two")) + '</table:table>'
                                    '<table:table table:name="Broken">' + row(s("x", ' office:value=1')) + '</table:table>'
                                    '<table:table table:name="Last"/>'))
package("many-spaces.ods", content('<table:table table:name="S">' + row(s('<text:s text:c="2000000000"/>')) + '</table:table>'))
package("doctype.ods", '<?xml version="1.0"?><!DOCTYPE x [<!ENTITY a "aaaa">]>' + content(""))
# A bomb: a small entry that inflates to more than the reader takes.
with zipfile.ZipFile(out / "bomb.ods", "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.spreadsheet")
    head = content('<table:table table:name="Bomb"><table:table-row><table:table-cell office:value-type="string"><text:p>')
    info = zipfile.ZipInfo("content.xml", date_time=(2024, 1, 1, 0, 0, 0))
    info.compress_type = zipfile.ZIP_DEFLATED
    with z.open(info, "w", force_zip64=True) as entry:
        entry.write(head.split("<text:p>")[0].encode() + b"<text:p>")
        chunk = b"a" * (16 << 20)
        for _ in range(70):
            entry.write(chunk)
