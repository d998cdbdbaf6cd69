"""A real SMTP server for the mail tests, on 127.0.0.1, several listeners in one process.

usage: smtpserver.py OUTDIR CERTDIR LISTENER...

Each LISTENER is NAME:KIND, KIND one of
  plain        no AUTH, no STARTTLS
  auth         AUTH PLAIN and LOGIN offered and required (also in the clear)
  authlogin    only AUTH LOGIN offered, required
  clearauth    AUTH offered in the clear, no STARTTLS (a client that wants STARTTLS must stop)
  foreignauth  only an AUTH mechanism no client knows (X-TEST-TOKEN)
  starttls     STARTTLS offered and required, then AUTH (certificate server.pem)
  wronghost    STARTTLS with a certificate for another host name (wronghost.pem)
  untrusted    STARTTLS with a self-signed certificate (selfsigned.pem)
  tls          TLS from the first byte (server.pem), AUTH offered
  sink         accepts and discards everything
  lagging      every reply comes 4 s late (no aiosmtpd)
  echoplain    only AUTH PLAIN offered; every login is refused with a reply that repeats what the
               client sent (no aiosmtpd)
  echologin    the same with only AUTH LOGIN offered
  oauth        only AUTH XOAUTH2 offered, required: the bearer token must be the one in
               OUTDIR/token.txt; a wrong one gets the 334 challenge with the error, then 535
The good account is "ann" with the password "Open Sesame!"; any other gets 535.

Once listening it prints "READY NAME=PORT ..." on one line. Every message received is written
to OUTDIR as NNNN.eml with NNNN.json beside it (listener, envelope, EHLO name, authenticated
user, tls);
every AUTH attempt adds a line "LISTENER MECHANISM LOGIN" to OUTDIR/auth.log.

Recipients whose local part starts with these words steer the server:
  refuse-rcpt   RCPT refused with a two-line 550
  refuse-data   accepted, then the message refused after DATA with a two-line 554
  slow          the reply to RCPT comes after 6.5 s
  drop          the connection is closed in the middle of DATA
  hold          the message is received and kept, the reply to its end held back for 30 s
  vanish        the message is received and kept, then the connection closed without a reply
and a sender whose local part starts with refuse-mail is refused at MAIL with a two-line 553.
A recipient listed (one address a line) in OUTDIR/refuse.txt is refused at RCPT with a 450 while it
is listed, so that a test can have a server refuse first and accept later.
"""
import asyncio
import base64
import json
import logging
import os
import ssl
import sys
import warnings

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword

GOOD_LOGIN = b"ann"
GOOD_PASSWORD = b"Open Sesame!"


def local_part(address):
    return address.split("@", 1)[0].lower()


class Recorder:
    def __init__(self, outdir, listener, sink):
        self.outdir = outdir
        self.listener = listener
        self.sink = sink

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if local_part(address).startswith("refuse-mail"):
            return "553-5.1.8 Sender address refused\r\n553 5.1.8 Ask the postmaster"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        part = local_part(address)
        if part.startswith("refuse-rcpt"):
            return "550-5.1.1 No such user here\r\n550 5.1.1 Try another mailbox"
        try:
            with open(os.path.join(self.outdir, "refuse.txt")) as listed:
                if address in listed.read().split():
                    return "450 4.2.1 Mailbox busy, try again later"
        except FileNotFoundError:
            pass
        if part.startswith("slow"):
            await asyncio.sleep(6.5)
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if any(local_part(a).startswith("refuse-data") for a in envelope.rcpt_tos):
            return "554-5.6.0 Message refused\r\n554 5.6.0 Content not accepted"
        if self.sink:
            return "250 OK"
        reply = self.keep(server, session, envelope)
        if any(local_part(a).startswith("hold") for a in envelope.rcpt_tos):
            await asyncio.sleep(30)
        elif any(local_part(a).startswith("vanish") for a in envelope.rcpt_tos):
            server.transport.close()
        return reply

    def keep(self, server, session, envelope):
        names = [n for n in os.listdir(self.outdir) if n.endswith(".eml")]
        stem = os.path.join(self.outdir, "%04d" % (len(names) + 1))
        with open(stem + ".json.tmp", "w") as meta:
            json.dump({
                "listener": self.listener,
                "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos,
                "auth_user": session.auth_data.login.decode() if isinstance(session.auth_data, LoginPassword)
                else None,
                "ehlo": session.host_name,
                "peer": list(session.peer),
                "tls": session.ssl is not None or server.transport.get_extra_info("sslcontext") is not None,
            }, meta)
        with open(stem + ".eml", "wb") as out:
            out.write(envelope.original_content)
        os.rename(stem + ".json.tmp", stem + ".json")
        return "250 OK: queued"


class OAuthRecorder(Recorder):
    """Checks an XOAUTH2 sign-in: "user=ann^Aauth=Bearer TOKEN^A^A" with the token of token.txt."""

    async def auth_XOAUTH2(self, server, args):
        if len(args) > 1:
            try:
                blob = base64.b64decode(args[1], validate=True)
            except ValueError:
                blob = b""
        else:
            blob = await server.challenge_auth("", encode_to_b64=False)
            if blob is MISSING:
                return AuthResult(success=False, handled=False)
        try:
            text = blob.decode()
            fields = dict(part.split("=", 1) for part in text.split("\x01") if "=" in part)
            user = fields.get("user", "")
            token = fields.get("auth", "").removeprefix("Bearer ")
        except (ValueError, UnicodeDecodeError):
            user, token = "?", None
        try:
            with open(os.path.join(self.outdir, "token.txt")) as f:
                good = f.read().strip()
        except FileNotFoundError:
            good = None
        ok = user == "ann" and token is not None and token == good
        with open(os.path.join(self.outdir, "auth.log"), "a") as log:
            log.write("%s XOAUTH2 %s %s\n" % (self.listener, user, "accepted" if ok else "refused"))
        if ok:
            return AuthResult(success=True, handled=False, auth_data=LoginPassword(user.encode(), b""))
        # As the large providers do: the error as a 334 challenge, the client's empty answer, then 535.
        error = base64.b64encode(json.dumps({"status": "401", "schemes": "bearer", "scope": "mail"}).encode())
        await server.challenge_auth(error.decode(), encode_to_b64=False)
        return AuthResult(success=False, handled=False)


class ForeignAuthRecorder(Recorder):
    async def auth_X__TEST__TOKEN(self, server, args):
        return AuthResult(success=False, handled=False)


class TestSMTP(SMTP):
    async def smtp_DATA(self, arg):
        if any(local_part(a).startswith("drop") for a in self.envelope.rcpt_tos):
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            for _ in range(20):
                await self._reader.readuntil(b"\r\n")
            self.transport.close()
            return
        return await super().smtp_DATA(arg)


class Echo(asyncio.Protocol):
    """Offers one AUTH mechanism and refuses every login, repeating what the client sent."""

    def __init__(self, mechanism):
        self.mechanism = mechanism

    def connection_made(self, transport):
        self.transport = transport
        self.buffer = b""
        self.got = []
        self.expect = 0  # client lines still to come for the AUTH exchange
        transport.write(b"220 mail.test ESMTP\r\n")

    def data_received(self, data):
        self.buffer += data
        while b"\r\n" in self.buffer:
            line, self.buffer = self.buffer.split(b"\r\n", 1)
            words = line.split()
            if self.expect:
                self.got.append(line)
                self.expect -= 1
                if self.expect:
                    self.transport.write(b"334 UGFzc3dvcmQ6\r\n")
                else:
                    self.transport.write(b"535 5.7.8 Refused: " + b" ".join(self.got) + b"\r\n")
            elif line[:4].upper() == b"EHLO":
                self.transport.write(b"250-mail.test\r\n250 AUTH " + self.mechanism + b"\r\n")
            elif line[:4].upper() == b"AUTH":
                self.got = words[2:]
                self.expect = (2 if self.mechanism == b"LOGIN" else 1) - len(self.got)
                if self.expect:
                    self.transport.write(b"334 " + (b"VXNlcm5hbWU6" if self.mechanism == b"LOGIN" and not self.got
                                                    else b"UGFzc3dvcmQ6" if self.mechanism == b"LOGIN" else b"")
                                         + b"\r\n")
                else:
                    self.transport.write(b"535 5.7.8 Refused: " + b" ".join(self.got) + b"\r\n")
            elif line[:4].upper() == b"QUIT":
                self.transport.write(b"221 bye\r\n")
                self.transport.close()
            else:
                self.transport.write(b"503 5.5.1 Log in first\r\n")


class Lagging(asyncio.Protocol):
    """Every reply 4 s late: each within a 5 s reply limit, the greeting, EHLO and AUTH together not."""

    def connection_made(self, transport):
        self.transport = transport
        self.buffer = b""
        self.later(b"220 mail.test slow but steady\r\n")

    def later(self, reply):
        asyncio.get_running_loop().call_later(4, lambda: self.transport.is_closing() or self.transport.write(reply))

    def data_received(self, data):
        self.buffer += data
        while b"\r\n" in self.buffer:
            line, self.buffer = self.buffer.split(b"\r\n", 1)
            verb = line[:4].upper()
            if verb == b"EHLO":
                self.later(b"250-mail.test\r\n250 AUTH PLAIN LOGIN\r\n")
            elif verb == b"AUTH":
                self.later(b"235 2.7.0 Authentication successful\r\n")
            elif verb == b"QUIT":
                self.transport.write(b"221 bye\r\n")
                self.transport.close()
            else:
                self.later(b"250 OK\r\n")


def authenticator_for(outdir, listener):
    def authenticate(server, session, envelope, mechanism, auth_data):
        login = auth_data.login if isinstance(auth_data, LoginPassword) else b"?"
        with open(os.path.join(outdir, "auth.log"), "a") as log:
            log.write("%s %s %s\n" % (listener, mechanism, login.decode(errors="replace")))
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == GOOD_LOGIN \
            and auth_data.password == GOOD_PASSWORD
        return AuthResult(success=ok, handled=False, auth_data=auth_data)
    return authenticate


def context(certdir, name):
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(os.path.join(certdir, name + ".pem"), os.path.join(certdir, name + ".key"))
    return ctx


async def main():
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    outdir, certdir = sys.argv[1], sys.argv[2]
    loop = asyncio.get_running_loop()
    ready = []
    for listener in sys.argv[3:]:
        name, kind = listener.split(":", 1)
        if kind in ("lagging", "echoplain", "echologin"):
            factory = Lagging if kind == "lagging" else (lambda m=kind[4:].upper().encode(): Echo(m))
            server = await loop.create_server(factory, "127.0.0.1", 0)
            ready.append("%s=%d" % (name, server.sockets[0].getsockname()[1]))
            continue
        kwargs = dict(hostname="mail.test", authenticator=authenticator_for(outdir, name),
                      data_size_limit=64 * 1024 * 1024)
        server_ssl = None
        if kind == "auth":
            kwargs.update(auth_required=True, auth_require_tls=False)
        elif kind == "authlogin":
            kwargs.update(auth_required=True, auth_require_tls=False, auth_exclude_mechanism=["PLAIN"])
        elif kind == "clearauth":
            kwargs.update(auth_require_tls=False)
        elif kind in ("starttls", "wronghost", "untrusted"):
            cert = {"starttls": "server", "wronghost": "wronghost", "untrusted": "selfsigned"}[kind]
            kwargs.update(tls_context=context(certdir, cert), require_starttls=True)
        elif kind == "tls":
            server_ssl = context(certdir, "server")
            kwargs.update(auth_require_tls=False)
        elif kind == "oauth":
            kwargs.update(auth_required=True, auth_require_tls=False, auth_exclude_mechanism=["PLAIN", "LOGIN"])
        elif kind not in ("plain", "sink", "foreignauth"):
            raise SystemExit("unknown listener kind " + kind)
        if kind == "foreignauth":
            kwargs.update(auth_require_tls=False, auth_exclude_mechanism=["PLAIN", "LOGIN"])
        handler = {"foreignauth": ForeignAuthRecorder, "oauth": OAuthRecorder}.get(kind, Recorder)(
            outdir, name, kind == "sink")
        factory = (lambda h=handler, kw=kwargs: TestSMTP(h, **kw))
        server = await loop.create_server(factory, "127.0.0.1", 0, ssl=server_ssl)
        ready.append("%s=%d" % (name, server.sockets[0].getsockname()[1]))
    print("READY " + " ".join(ready), flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    asyncio.run(main())
