"""A fast SMTP sink for the bulk-mail benchmark: speaks just enough SMTP, discards every message.

Prints "READY PORT" once listening on 127.0.0.1; on SIGTERM it prints what it received and its
processor time.
Messages are found by the end-of-data line in large reads, not line by line, so that the sink
keeps up with a client that sends megabytes per message.
"""
import asyncio
import signal
import time

stats = {"messages": 0, "bytes": 0}


class Sink(asyncio.Protocol):
    def connection_made(self, transport):
        self.transport = transport
        self.buffer = b""
        self.in_data = False
        transport.write(b"220 sink ESMTP\r\n")

    def data_received(self, data):
        if self.in_data:
            stats["bytes"] += len(data)
            tail = self.buffer + data
            end = tail.find(b"\r\n.\r\n")
            if end < 0:
                self.buffer = tail[-4:]
                return
            self.in_data = False
            stats["messages"] += 1
            self.transport.write(b"250 2.0.0 discarded\r\n")
            data = tail[end + 5:]
            self.buffer = b""
        self.buffer += data
        while not self.in_data and b"\r\n" in self.buffer:
            line, self.buffer = self.buffer.split(b"\r\n", 1)
            verb = line[:4].upper()
            if verb in (b"EHLO", b"HELO"):
                self.transport.write(b"250-sink\r\n250 8BITMIME\r\n")
            elif verb == b"DATA":
                self.transport.write(b"354 go ahead\r\n")
                self.in_data = True
                # The data starts on a line of its own: an empty message ends at once.
                rest, self.buffer = self.buffer, b"\r\n"
                if rest:
                    self.data_received(rest)
                return
            elif verb == b"QUIT":
                self.transport.write(b"221 bye\r\n")
                self.transport.close()
                return
            else:
                self.transport.write(b"250 OK\r\n")


async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(Sink, "127.0.0.1", 0)
    print("READY %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    await stop.wait()
    print("messages %d, %.0f MiB, processor time %.2f s"
          % (stats["messages"], stats["bytes"] / 1048576.0, time.process_time()), flush=True)


asyncio.run(main())
