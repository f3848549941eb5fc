#!/usr/bin/python3
"""SMTP sink for tests: accepts mail on 127.0.0.1 and keeps it byte-exact.

  smtp_sink.py --maildir DIR [--boxes ROOT] [--refuse ADDRESS ...]
               [--user NAME --password SECRET]

Each message is written as it arrived (no header added, line ends kept) into
the Maildir DIR: first into DIR/tmp, then renamed into DIR/new. Its envelope
(sender and recipients) is written before that as DIR/envelope/<name>.json.
With --boxes, every accepted recipient's local part also gets a copy in the
Maildir ROOT/<local part> (created when missing), so a mailbox reader can
find it. A recipient named by --refuse is answered "550" at RCPT time.
With --user and --password the sink requires AUTH (PLAIN or LOGIN, without
TLS, as this is loopback only) before it accepts mail.
"""
import argparse
import asyncio
import itertools
import json
import os
import socket
import sys
import time

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import loopback_common  # noqa: E402

_counter = itertools.count(1)


def maildir(path):
    for sub in ("tmp", "new", "cur"):
        os.makedirs(os.path.join(path, sub), exist_ok=True)
    return path


def deliver(box, name, data):
    tmp = os.path.join(box, "tmp", name)
    with open(tmp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.rename(tmp, os.path.join(box, "new", name))


class Sink:
    def __init__(self, folder, boxes, refused):
        self.folder = maildir(folder)
        self.boxes = boxes
        self.refused = {a.lower() for a in refused}
        os.makedirs(os.path.join(folder, "envelope"), exist_ok=True)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        data = envelope.original_content
        name = "%d.M%06dP%dQ%d.%s" % (time.time(), time.time_ns() // 1000 % 1000000, os.getpid(),
                                      next(_counter), socket.gethostname())
        record = {"mail_from": envelope.mail_from, "rcpt_tos": list(envelope.rcpt_tos)}
        loopback_common.write_atomically(os.path.join(self.folder, "envelope"), name + ".json",
                                         json.dumps(record).encode())
        deliver(self.folder, name, data)
        if self.boxes:
            for rcpt in envelope.rcpt_tos:
                local = rcpt.split("@", 1)[0]
                if local and "/" not in local and not local.startswith("."):
                    deliver(maildir(os.path.join(self.boxes, local)), name, data)
        return "250 Message accepted for delivery"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--maildir", required=True)
    parser.add_argument("--boxes")
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--user")
    parser.add_argument("--password")
    args = parser.parse_args()
    loopback_common.exit_with_parent()

    handler = Sink(args.maildir, args.boxes, args.refuse)
    options = {"data_size_limit": 0, "decode_data": False, "hostname": "sink.localhost"}
    if args.user is not None:
        def authenticate(server, session, envelope, mechanism, data):
            ok = (isinstance(data, LoginPassword) and data.login.decode() == args.user
                  and data.password.decode() == args.password)
            return AuthResult(success=ok, handled=False)
        options.update(auth_required=True, auth_require_tls=False, authenticator=authenticate)

    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", 0))
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    loop.run_until_complete(loop.create_server(lambda: SMTP(handler, loop=loop, **options), sock=sock))
    loopback_common.report_port(sock.getsockname()[1])
    loop.run_forever()


if __name__ == "__main__":
    main()
