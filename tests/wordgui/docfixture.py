#!/usr/bin/python3
"""Word documents for the Word-mode window tests, written and read by python-docx, a reader and
writer of the format that this program did not make.

  docfixture.py write OUT.docx PARAGRAPH...   one paragraph per argument; "|" splits a paragraph
                                              into runs, so that a label may cross run borders
  docfixture.py dump DOC.docx                 JSON: {"paragraphs": [...], "pageBreaks": n}
"""
import json
import sys

import docx
from docx.oxml.ns import qn


def write(path, paragraphs):
    document = docx.Document()
    for text in paragraphs:
        paragraph = document.add_paragraph()
        for part in text.split("|"):
            paragraph.add_run(part)
    document.save(path)


def dump(path):
    document = docx.Document(path)
    body = document.element.body
    breaks = sum(1 for br in body.iter(qn("w:br")) if br.get(qn("w:type")) == "page")
    print(json.dumps({"paragraphs": [p.text for p in document.paragraphs], "pageBreaks": breaks}))


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 3 and sys.argv[1] == "dump":
        dump(sys.argv[2])
    else:
        sys.exit(__doc__)
