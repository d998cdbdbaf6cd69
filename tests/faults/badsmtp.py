"""An SMTP peer that misbehaves at one step of the exchange, for the fault tests (stdlib only).

usage: badsmtp.py LISTENER...

Each LISTENER is STEP:BEHAVIOUR, on a port of its own on 127.0.0.1.
  STEP       greeting   instead of the greeting
             ehlo       in reply to EHLO (AUTH PLAIN LOGIN offered otherwise)
             auth       in reply to AUTH
             data       in the middle of the message, after its first lines
             dot        in reply to the line that ends the message
  BEHAVIOUR  drop       the connection is closed
             garbage    a line that is no reply at all, then nothing
             badcode    a reply whose code belongs to no command ("999 ...")
             stall      nothing, the connection stays open
Up to the step the peer answers as a server that accepts everything.

Once listening it prints "READY STEP:BEHAVIOUR=PORT ..." on one line, then "CONNECT STEP:BEHAVIOUR"
for every connection it takes.
"""
import asyncio
import sys

GREETING = b"220 mail.test ESMTP\r\n"
EHLO_REPLY = b"250-mail.test\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n"
GARBAGE = b"\x00\x1b[31mHTTP/1.1 400 Bad Request\xff\xfe\r\n"
BAD_CODE = b"999 what was that\r\n"


class Peer:
    def __init__(self, name, step, behaviour):
        self.name, self.step, self.behaviour = name, step, behaviour

    async def misbehave(self, writer):
        """Returns True when the connection is to end now."""
        if self.behaviour == "drop":
            writer.close()
            return True
        if self.behaviour == "garbage":
            writer.write(GARBAGE)
        elif self.behaviour == "badcode":
            writer.write(BAD_CODE)
        await writer.drain()
        # Nothing more is said; the client is the one to give up.
        await asyncio.sleep(3600)
        return True

    async def serve(self, reader, writer):
        print("CONNECT " + self.name, flush=True)
        try:
            await self.exchange(reader, writer)
        except (ConnectionError, asyncio.IncompleteReadError):
            pass
        finally:
            writer.close()

    async def exchange(self, reader, writer):
        if self.step == "greeting" and await self.misbehave(writer):
            return
        writer.write(GREETING)
        while True:
            line = await reader.readline()
            if not line:
                return
            verb = line[:4].upper()
            if verb in (b"EHLO", b"HELO"):
                if self.step == "ehlo" and await self.misbehave(writer):
                    return
                writer.write(EHLO_REPLY)
            elif verb == b"AUTH":
                if self.step == "auth" and await self.misbehave(writer):
                    return
                if len(line.split()) < 3:  # no initial response: ask for it
                    writer.write(b"334 \r\n")
                    await reader.readline()
                writer.write(b"235 2.7.0 Authentication successful\r\n")
            elif verb == b"DATA":
                writer.write(b"354 End data with <CR><LF>.<CR><LF>\r\n")
                await writer.drain()
                lines = 0
                while True:
                    body = await reader.readline()
                    if not body:
                        return
                    lines += 1
                    if self.step == "data" and lines == 3 and await self.misbehave(writer):
                        return
                    if body == b".\r\n":
                        break
                if self.step == "dot" and await self.misbehave(writer):
                    return
                writer.write(b"250 2.0.0 Ok: queued\r\n")
            elif verb == b"QUIT":
                writer.write(b"221 2.0.0 Bye\r\n")
                await writer.drain()
                return
            else:
                writer.write(b"250 2.0.0 Ok\r\n")
            await writer.drain()


async def main():
    ports = []
    for listener in sys.argv[1:]:
        step, behaviour = listener.split(":")
        peer = Peer(listener, step, behaviour)
        server = await asyncio.start_server(peer.serve, "127.0.0.1", 0)
        ports.append("%s=%d" % (listener, server.sockets[0].getsockname()[1]))
    print("READY " + " ".join(ports), flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    asyncio.run(main())
