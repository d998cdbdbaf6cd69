"""Reads a message back with Python's email package, the independent reader of our output.

usage: readmail.py FILE   prints one JSON object:
  headers      {lower-case name: [raw values, unfolded]}
  subject      the decoded subject
  from, reply_to, to, cc, bcc   [[display name, address], ...]
  content_type top-level type, multipart    true when it has parts
  structure    the tree of content types: "multipart/mixed(multipart/alternative(text/plain,text/html),...)"
  parts        the leaf parts in order: content_type, charset, encoding, disposition, filename
               (decoded), raw_filename (the header parameter as written), text (decoded, for
               text parts), data (the decoded bytes in base64)
  defects      the parser's complaints, as texts
  lines        the longest line of the message, and whether every line ends in CR LF
"""
import base64
import email
import email.policy
import json
import sys
from email import message_from_bytes
from email.headerregistry import Address  # noqa: F401  (registers the address headers)

raw = open(sys.argv[1], "rb").read()
msg = message_from_bytes(raw, policy=email.policy.default)
compat = message_from_bytes(raw, policy=email.policy.compat32)

def addresses(name):
    header = msg[name]
    if header is None:
        return []
    return [[a.display_name, a.addr_spec] for a in header.addresses]

headers = {}
for name, value in compat.items():
    headers.setdefault(name.lower(), []).append(str(value).replace("\r\n", "").replace("\n", ""))

defects = [type(d).__name__ for d in msg.defects]
parts = []
for part, cpart in zip(msg.walk(), compat.walk()):
    defects += [type(d).__name__ for d in part.defects]
    if part.is_multipart():
        continue
    data = part.get_payload(decode=True) or b""
    entry = {
        "content_type": part.get_content_type(),
        "charset": part.get_content_charset(),
        "encoding": part.get("Content-Transfer-Encoding", ""),
        "disposition": part.get_content_disposition(),
        "filename": part.get_filename(),
        "raw_filename": cpart.get_param("filename", header="content-disposition"),
        "raw_name": cpart.get_param("name"),
        "data": base64.b64encode(data).decode(),
    }
    if part.get_content_maintype() == "text":
        entry["text"] = part.get_content()
    parts.append(entry)

def structure(part):
    if not part.is_multipart():
        return part.get_content_type()
    return part.get_content_type() + "(" + ",".join(structure(p) for p in part.iter_parts()) + ")"

lines = raw.split(b"\r\n")
print(json.dumps({
    "headers": headers,
    "subject": str(msg["subject"]) if msg["subject"] is not None else None,
    "from": addresses("from"),
    "reply_to": addresses("reply-to"),
    "to": addresses("to"),
    "cc": addresses("cc"),
    "bcc": addresses("bcc"),
    "structure": structure(msg),
    "content_type": msg.get_content_type(),
    "multipart": msg.is_multipart(),
    "parts": parts,
    "defects": defects,
    "longest_line": max(len(l) for l in lines),
    "bare_line_ends": any(b"\n" in l or b"\r" in l for l in lines),
}))
