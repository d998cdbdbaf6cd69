"""Reads a folder back over IMAP with Python's imaplib, as a mail program would, for the tests.

usage: readimap.py PORT CAFILE USER PASSWORD FOLDER

Connects to 127.0.0.1:PORT with TLS from the first byte, trusting CAFILE, logs in, and prints a
JSON list with one object per message of FOLDER in UID order: "uid", "flags" (list of texts) and
"message" (the bytes the server holds, base64).
"""
import base64
import imaplib
import json
import re
import ssl
import sys


def mailbox(name):
    """The name in IMAP's modified UTF-7 (RFC 3501, 5.1.3)."""
    out, wide = "", ""

    def shift():
        return "&" + base64.b64encode(wide.encode("utf-16-be")).decode().rstrip("=").replace("/", ",") + "-"

    for c in name:
        if 0x20 <= ord(c) <= 0x7E:
            if wide:
                out, wide = out + shift(), ""
            out += "&-" if c == "&" else c
        else:
            wide += c
    return out + (shift() if wide else "")


def main():
    port, cafile, user, password, folder = sys.argv[1:6]
    context = ssl.create_default_context(cafile=cafile)
    with imaplib.IMAP4_SSL("127.0.0.1", int(port), ssl_context=context) as imap:
        imap.login(user, password)
        status, _ = imap.select('"%s"' % mailbox(folder), readonly=True)
        if status != "OK":
            raise SystemExit("cannot select " + folder)
        status, data = imap.uid("FETCH", "1:*", "(UID FLAGS BODY.PEEK[])")
        out = []
        for item in data:
            if not isinstance(item, tuple):
                continue
            head, body = item
            uid = int(re.search(rb"UID (\d+)", head).group(1))
            flags = re.search(rb"FLAGS \(([^)]*)\)", head).group(1).decode().split()
            out.append({"uid": uid, "flags": flags, "message": base64.b64encode(body).decode()})
        out.sort(key=lambda m: m["uid"])
        print(json.dumps(out))


if __name__ == "__main__":
    main()
