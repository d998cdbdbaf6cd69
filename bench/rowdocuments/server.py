"""The benchmark's SMTP server: aiosmtpd on 127.0.0.1, every message counted and dropped.

Prints "READY PORT" once listening; on SIGTERM it prints how many messages came, how many of them
carried a PDF, and their bytes.
"""
import signal
import socket
import threading

from aiosmtpd.controller import Controller

stats = {"messages": 0, "pdfs": 0, "bytes": 0}


class Count:
    async def handle_DATA(self, server, session, envelope):
        stats["messages"] += 1
        stats["bytes"] += len(envelope.content)
        # A PDF's first bytes, "%PDF-", in base64 at the start of a line.
        if b"\nJVBERi0" in envelope.content:
            stats["pdfs"] += 1
        return "250 OK"


probe = socket.socket()
probe.bind(("127.0.0.1", 0))
port = probe.getsockname()[1]
probe.close()
controller = Controller(Count(), hostname="127.0.0.1", port=port)
controller.start()
print("READY %d" % port, flush=True)
stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *_: stop.set())
stop.wait()
controller.stop()
print("messages %d, with a PDF %d, %.1f MiB" % (stats["messages"], stats["pdfs"], stats["bytes"] / 1048576.0),
      flush=True)
