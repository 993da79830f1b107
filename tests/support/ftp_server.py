#!/usr/bin/python3
"""An FTP server on 127.0.0.1 for the upload tests and benchmarks.

Prints "PORT <n>" once it listens on a free port, then serves until killed. Every command it
receives goes to --log as "<TLS|CLEAR> <COMMAND> <argument>" (the password masked), so a test
can tell what the client sent and whether it was encrypted.

Modes besides a normal pyftpdlib server:
  --silent     accepts connections and never answers
  --blackhole  a listening socket whose queue is full, so connections are never made
  --hang VERB  a normal server that never answers the command VERB (e.g. APPE)
  --refuse VERB  a normal server that refuses the command VERB (e.g. PROT)
"""
import argparse
import logging
import os
import socket
import subprocess
import sys
import time


def make_certificate(folder):
    """A self-signed certificate for 127.0.0.1: cert.pem (also the CA file) and key.pem."""
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def announce(port):
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()


def serve_silent():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    announce(listener.getsockname()[1])
    kept = []
    while True:
        connection, _ = listener.accept()
        kept.append(connection)


def serve_blackhole():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    # Fill the accept queue; later connection attempts get no answer at all.
    fillers = []
    for _ in range(4):
        filler = socket.socket()
        filler.setblocking(False)
        filler.connect_ex(("127.0.0.1", port))
        fillers.append(filler)
    time.sleep(0.2)
    announce(port)
    while True:
        time.sleep(3600)


def serve_ftp(args):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    logging.basicConfig(level=logging.WARNING)
    log = open(args.log, "a", buffering=1) if args.log else None

    base = FTPHandler
    if args.tls:
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

        class DataHandler(TLS_DTPHandler):
            # pyftpdlib 1.5.7 closes a data connection whose TLS handshake starts before the
            # transfer command, as libcurl's does; fixed upstream the same way.
            def readable(self):
                return self._ssl_accepting or super().readable()

        class TlsHandler(TLS_FTPHandler):
            dtp_handler = DataHandler

        base = TlsHandler

    class Handler(base):
        def secure(self):
            return args.tls is not None and self._ssl_established

        def note(self, text):
            if log:
                log.write(text + "\n")

        def on_connect(self):
            self.note("CONNECT")

        def pre_process_command(self, line, cmd, arg):
            shown = "***" if cmd == "PASS" else arg
            self.note(("TLS " if self.secure() else "CLEAR ") + (cmd + " " + shown).rstrip())
            if cmd == args.hang:
                return
            if cmd == args.refuse:
                self.respond("534 Refused.")
                return
            super().pre_process_command(line, cmd, arg)

        def on_file_received(self, file):
            data = "TLS" if args.tls and self._prot else "CLEAR"
            self.note("RECEIVED " + os.path.relpath(file, args.root) + " DATA " + data)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm=args.perm)
    Handler.authorizer = authorizer
    if args.tls:
        Handler.certfile, Handler.keyfile = make_certificate(args.tls)
    server = FTPServer(("127.0.0.1", 0), Handler)
    announce(server.socket.getsockname()[1])
    server.serve_forever(handle_exit=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root")
    parser.add_argument("--user", default="kalvo")
    parser.add_argument("--password", default="Pwd_41736")
    parser.add_argument("--perm", default="elradfmwMT")
    parser.add_argument("--tls", metavar="FOLDER", help="offer AUTH TLS; the certificate goes here")
    parser.add_argument("--log")
    parser.add_argument("--hang", metavar="VERB")
    parser.add_argument("--refuse", metavar="VERB")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--blackhole", action="store_true")
    args = parser.parse_args()
    if args.silent:
        serve_silent()
    elif args.blackhole:
        serve_blackhole()
    else:
        serve_ftp(args)


if __name__ == "__main__":
    main()
