#!/usr/bin/python3
"""A mail server on 127.0.0.1 for the mail tests.

usage: smtp_server.py MODE OUTFILE [CERT KEY]
  auth         requires AUTH LOGIN (user "alerts", password "s3cret")
  relay        offers no AUTH at all and takes every mail
  refuse-rcpt  as auth, and refuses every recipient starting with "nobody"
  hang         accepts connections and never says a word
  tls          as auth, and offers STARTTLS with CERT and KEY
  implicit     as auth, and speaks TLS with CERT and KEY from the first byte
  fail-first   as auth, and answers the first mail's DATA with 451 (a
               server that comes back after the first try)
  stall-end    as auth, takes the message and never answers its end (the
               mail may have been sent)
  slow         as auth, and answers EHLO, AUTH, MAIL, RCPT and the end of
               the message 0.8 s late each (slow, but within every bound)
Prints "PORT <n>" once it listens; ends when its standard input closes.
Every mail taken is appended to OUTFILE as one JSON line, every login
tried (user name only) to OUTFILE.logins.
"""
import asyncio
import json
import logging
import warnings
import socket
import ssl
import sys
import threading
import time

MODE, OUT = sys.argv[1], sys.argv[2]
warnings.simplefilter("ignore")
logging.disable(logging.CRITICAL)


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_for_stdin_close():
    try:
        sys.stdin.read()
    except Exception:
        pass


if MODE == "hang":
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(8)
    held = []

    def accept():
        while True:
            try:
                c, _ = srv.accept()
            except OSError:
                return
            held.append(c)

    threading.Thread(target=accept, daemon=True).start()
    print("PORT %d" % srv.getsockname()[1], flush=True)
    wait_for_stdin_close()
    sys.exit(0)

from aiosmtpd.controller import Controller  # noqa: E402
from aiosmtpd.smtp import AuthResult, LoginPassword  # noqa: E402


SLOW_S = 0.8


class Handler:
    failed_once = False

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        if MODE == "slow":
            await asyncio.sleep(SLOW_S)
        session.host_name = hostname
        return responses

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if MODE == "slow":
            await asyncio.sleep(SLOW_S)
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if MODE == "slow":
            await asyncio.sleep(SLOW_S)
        if MODE == "refuse-rcpt" and address.startswith("nobody"):
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if MODE == "fail-first" and not Handler.failed_once:
            Handler.failed_once = True
            return "451 4.3.0 Try again later"
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "login": getattr(session, "auth_data", None),
            "tls": session.ssl is not None,
            "data": envelope.original_content.decode("latin-1"),
        }
        with open(OUT, "a") as f:
            f.write(json.dumps(record) + "\n")
        if MODE == "stall-end":
            await asyncio.sleep(3600)
        if MODE == "slow":
            await asyncio.sleep(SLOW_S)
        return "250 Message accepted for delivery"


def authenticator(server, session, envelope, mechanism, auth_data):
    if MODE == "slow":
        time.sleep(SLOW_S)  # blocks the loop, which serves this one client only
    with open(OUT + ".logins", "a") as f:
        f.write(json.dumps({"mechanism": mechanism, "tls": session.ssl is not None}) + "\n")
    ok = (mechanism == "LOGIN" and isinstance(auth_data, LoginPassword)
          and auth_data.login == b"alerts" and auth_data.password == b"s3cret")
    return AuthResult(success=ok, handled=False, auth_data=auth_data.login.decode() if ok else None)


kwargs = {}
if MODE == "relay":
    kwargs = {"auth_required": False, "auth_exclude_mechanism": ["LOGIN", "PLAIN"]}
else:
    kwargs = {"authenticator": authenticator, "auth_required": True, "auth_require_tls": False,
              "auth_exclude_mechanism": ["PLAIN"]}
if MODE in ("tls", "implicit"):
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(sys.argv[3], sys.argv[4])
    kwargs["tls_context" if MODE == "tls" else "ssl_context"] = ctx
port = free_port()
controller = Controller(Handler(), hostname="127.0.0.1", port=port, **kwargs)
controller.start()
print("PORT %d" % port, flush=True)
wait_for_stdin_close()
controller.stop()
