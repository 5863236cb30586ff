#!/usr/bin/python3
"""A local SMTP server for the tests: stores every message it accepts as a JSON file.

Run with Debian's /usr/bin/python3 (it carries aiosmtpd). Prints "PORT <n>" once it
listens, then serves until SIGTERM or until its standard input closes, so a crashed test
never leaves it behind. Each message becomes <folder>/<n>.json with the envelope, the raw
data (base64), and headers and body as Python's own mail parser decodes them, so the tests
check the message against an independent decoder rather than our own. Everything clients
send before TLS is appended to <folder>/cleartext.log; with --starttls the server offers
STARTTLS with a fresh self-signed certificate for 127.0.0.1 in <folder>/cert.pem.
"""

import argparse
import asyncio
import base64
import datetime
import email
import email.policy
import ipaddress
import json
import os
import signal
import socket
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

HEADERS = ("Date", "From", "To", "Subject", "Message-ID", "MIME-Version", "Content-Type",
           "Content-Transfer-Encoding")


class StoringHandler:
    def __init__(self, args):
        self.args = args
        self.count = 0

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.args.reject_sender and address.lower() == self.args.reject_sender.lower():
            return "550 5.7.1 Sender refused"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.args.reject_recipient and address.lower() == self.args.reject_recipient.lower():
            return "550 5.1.1 Recipient unknown"
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.stall_data:
            await asyncio.sleep(3600)
        self.count += 1
        store(self.args.folder, self.count, session, envelope)
        return "250 Message accepted"


def store(folder, number, session, envelope):
    raw = envelope.original_content or envelope.content
    parsed = email.message_from_bytes(raw, policy=email.policy.default)
    try:
        body = parsed.get_content()
    except Exception as exc:  # a broken body is itself a finding for the test
        body = None
        print(f"smtp_sink: body not decodable: {exc}", file=sys.stderr, flush=True)
    auth = session.auth_data
    record = {
        "mail_from": envelope.mail_from,
        "rcpt_tos": list(envelope.rcpt_tos),
        "auth_user": auth.login.decode("utf-8", "replace")
        if isinstance(auth, LoginPassword) else None,
        "raw_b64": base64.b64encode(raw).decode("ascii"),
        "headers": {name: None if parsed[name] is None else str(parsed[name])
                    for name in HEADERS},
        "content_type": parsed.get_content_type(),
        "charset": parsed.get_content_charset(),
        "body": body,
        "defects": [type(d).__name__ for d in parsed.defects],
    }
    # Written under a temporary name and renamed, so a reader never sees half a file.
    final = os.path.join(folder, f"{number:04d}.json")
    with open(final + ".tmp", "w", encoding="utf-8") as out:
        json.dump(record, out, ensure_ascii=False)
    os.replace(final + ".tmp", final)


class RecordingSMTP(SMTP):
    def __init__(self, handler, cleartext_log, **options):
        super().__init__(handler, **options)
        self.cleartext_log = cleartext_log

    def data_received(self, data):
        # After STARTTLS the bytes arrive here decrypted; only what crossed the wire in
        # clear is kept.
        if self._tls_protocol is None:
            with open(self.cleartext_log, "ab") as out:
                out.write(data)
        super().data_received(data)


def make_tls_context(folder):
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID

    key = ec.generate_private_key(ec.SECP256R1())
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "127.0.0.1")])
    now = datetime.datetime.now(datetime.timezone.utc)
    cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name)
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(now - datetime.timedelta(hours=1))
            .not_valid_after(now + datetime.timedelta(days=1))
            .add_extension(x509.SubjectAlternativeName(
                [x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]), critical=False)
            .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
            .sign(key, hashes.SHA256()))
    cert_path = os.path.join(folder, "cert.pem")
    key_path = os.path.join(folder, "key.pem")
    with open(key_path, "wb") as out:
        out.write(key.private_bytes(serialization.Encoding.PEM,
                                    serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption()))
    with open(cert_path, "wb") as out:
        out.write(cert.public_bytes(serialization.Encoding.PEM))
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert_path, key_path)
    return context


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        # handled=False lets aiosmtpd answer a failure with 535 instead of staying silent.
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    return authenticate


def deaf_client(greeting):
    # Says `greeting` (if any), then holds the connection and answers nothing.
    async def serve_client(reader, writer):
        if greeting:
            writer.write(f"{greeting} No service for you\r\n".encode())
            await writer.drain()
        try:
            while await reader.read(4096):
                pass
        finally:
            writer.close()

    return serve_client


async def serve(args):
    loop = asyncio.get_running_loop()
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", args.port))
    sock.listen(16)

    if args.hang or args.greeting:
        server = await asyncio.start_server(deaf_client(args.greeting), sock=sock)
    else:
        handler = StoringHandler(args)
        # AUTH is offered without TLS too, so that a client that would log in in clear does.
        options = {"hostname": "sink.localhost", "auth_require_tls": False}
        if args.auth_user is not None:
            options["authenticator"] = make_authenticator(args.auth_user, args.auth_password)
            options["auth_required"] = True
        if args.starttls:
            options["tls_context"] = make_tls_context(args.folder)
        cleartext_log = os.path.join(args.folder, "cleartext.log")
        server = await loop.create_server(
            lambda: RecordingSMTP(handler, cleartext_log, **options), sock=sock)

    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGINT, stop.set)

    def stdin_ready():
        if not os.read(sys.stdin.fileno(), 4096):
            loop.remove_reader(sys.stdin.fileno())
            stop.set()

    loop.add_reader(sys.stdin.fileno(), stdin_ready)

    print(f"PORT {sock.getsockname()[1]}", flush=True)
    await stop.wait()
    server.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--folder", required=True, help="where received messages go")
    parser.add_argument("--reject-sender", help="answer MAIL FROM for this address with 550")
    parser.add_argument("--reject-recipient", help="answer RCPT TO for this address with 550")
    parser.add_argument("--auth-user", help="require AUTH (PLAIN or LOGIN) as this user")
    parser.add_argument("--auth-password", default="")
    parser.add_argument("--starttls", action="store_true",
                        help="offer STARTTLS with a self-signed certificate (cert.pem)")
    parser.add_argument("--hang", action="store_true", help="accept and never say a word")
    parser.add_argument("--greeting", type=int, help="greet with this code, then say nothing")
    parser.add_argument("--stall-data", action="store_true",
                        help="take the envelope, never answer the end of the data")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
