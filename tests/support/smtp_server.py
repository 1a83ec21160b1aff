#!/usr/bin/python3
"""A small SMTP server for the mail tests, on 127.0.0.1 at a free port.

Prints the port on a line of its own once it listens, then saves every message it accepts into
FOLDER as NNN.eml: a first line "RCPT: a,b" (the envelope's recipients), then the data as
received. With --user and --password it asks for that login; with --cert and --key it offers
STARTTLS and requires it; with --silent it accepts connections and never answers.
"""
import argparse
import os
import socket
import ssl
import sys
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--folder", required=True)
    ap.add_argument("--user")
    ap.add_argument("--password")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--silent", action="store_true")
    args = ap.parse_args()

    if args.silent:
        server = socket.socket()
        server.bind(("127.0.0.1", 0))
        server.listen(8)
        print(server.getsockname()[1], flush=True)
        held = []
        while True:
            connection, _ = server.accept()
            held.append(connection)  # never answered

    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult, LoginPassword

    class Saver:
        async def handle_DATA(self, server, session, envelope):
            count = len(os.listdir(args.folder))
            path = os.path.join(args.folder, "%03d.eml" % count)
            with open(path + ".part", "wb") as f:
                f.write(b"RCPT: " + ",".join(envelope.rcpt_tos).encode() + b"\n")
                f.write(envelope.original_content)
            os.rename(path + ".part", path)
            return "250 OK"

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login.decode() == args.user
              and auth_data.password.decode() == args.password)
        return AuthResult(success=ok, handled=False)

    import warnings
    warnings.simplefilter("ignore")  # a login without TLS is what the plain test wants
    options = {}
    if args.user is not None:
        options.update(authenticator=authenticator, auth_required=True,
                       auth_require_tls=args.cert is not None)
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
        options.update(tls_context=context, require_starttls=True)
    port = free_port()
    controller = Controller(Saver(), hostname="127.0.0.1", port=port, **options)
    controller.start()
    print(port, flush=True)
    try:
        while True:
            time.sleep(3600)
    finally:
        controller.stop()


if __name__ == "__main__":
    sys.exit(main())
