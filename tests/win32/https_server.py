#!/usr/bin/env python3
"""The ChromeDriver download servers of the Wine tests, on loopback.

Serves files over HTTPS (the archive, and the version files that name the
driver of a Chrome past the fixed table) with a certificate from the test's
own certificate authority, and records every request line it receives. It
listens either directly for TLS (--tls-port) or as an HTTP proxy that takes
CONNECT and then speaks TLS itself (--proxy-port), for a client whose host
name resolution cannot be pointed at loopback; or, without a certificate,
for plain HTTP (--http-port). A file given with --drip is sent slowly, so
many bytes every tenth of a second, as a slow line brings it.

Usage: https_server.py [--cert C --key K] --serve /x/y.zip=FILE [--serve ...]
                       [--drip /x/z.zip=FILE:BYTES ...] --log FILE
                       (--tls-port N | --proxy-port N | --http-port N) [--ready FILE]
"""

import argparse
import socket
import ssl
import sys
import threading
import time


def handle_https(tls, args, log_lock):
    """One HTTP/1.1 exchange (or several, kept alive) on a socket."""
    reader = tls.makefile("rb")
    while True:
        request_line = reader.readline()
        if not request_line:
            return
        headers = []
        while True:
            line = reader.readline()
            if not line or line in (b"\r\n", b"\n"):
                break
            headers.append(line.decode("latin-1").strip())
        line = request_line.decode("latin-1").strip()
        with log_lock, open(args.log, "a", encoding="utf-8") as log:
            host = next((h.split(":", 1)[1].strip() for h in headers
                         if h.lower().startswith("host:")), "")
            log.write(f"{line}\thost={host}\n")
        parts = line.split()
        if len(parts) >= 2 and parts[0] == "GET" and parts[1] in args.drips:
            name, pace = args.drips[parts[1]]
            with open(name, "rb") as f:
                body = f.read()
            tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                        b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n")
            for at in range(0, len(body), pace):
                time.sleep(0.1)
                tls.sendall(body[at:at + pace])
            continue
        if len(parts) >= 2 and parts[0] == "GET" and parts[1] in args.files:
            with open(args.files[parts[1]], "rb") as f:
                body = f.read()
            head = (b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                    b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n")
        else:
            body = b"not here\n"
            head = (b"HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n"
                    b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n")
        tls.sendall(head + body)


def serve_connection(conn, context, args, log_lock, proxy):
    if context is None:
        try:
            conn.settimeout(60)
            handle_https(conn, args, log_lock)
        except OSError:
            pass
        finally:
            conn.close()
        return
    try:
        conn.settimeout(60)
        if proxy:
            # CONNECT host:443 HTTP/1.1, headers, blank line; then the tunnel,
            # which ends here: this server is the far side.
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                data += chunk
            first = data.split(b"\r\n", 1)[0].decode("latin-1")
            with log_lock, open(args.log, "a", encoding="utf-8") as log:
                log.write(f"{first}\n")
            if not first.startswith("CONNECT "):
                conn.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
                return
            conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        with context.wrap_socket(conn, server_side=True) as tls:
            handle_https(tls, args, log_lock)
    except (OSError, ssl.SSLError) as e:
        with log_lock, open(args.log, "a", encoding="utf-8") as log:
            log.write(f"# connection failed: {e}\n")
    finally:
        conn.close()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--serve", action="append", default=[], metavar="PATH=FILE")
    p.add_argument("--drip", action="append", default=[], metavar="PATH=FILE:BYTES")
    p.add_argument("--log", required=True)
    p.add_argument("--tls-port", type=int)
    p.add_argument("--proxy-port", type=int)
    p.add_argument("--http-port", type=int)
    p.add_argument("--ready")
    args = p.parse_args()
    args.files = dict(s.split("=", 1) for s in args.serve)
    args.drips = {}
    for d in args.drip:
        path, rest = d.split("=", 1)
        name, pace = rest.rsplit(":", 1)
        args.drips[path] = (name, int(pace))
    ports = [x for x in (args.tls_port, args.proxy_port, args.http_port) if x is not None]
    if len(ports) != 1:
        sys.exit("give exactly one of --tls-port, --proxy-port and --http-port")

    context = None
    if args.http_port is None:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
    proxy = args.proxy_port is not None
    port = ports[0]

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    if args.ready:
        with open(args.ready, "w") as f:
            f.write(str(listener.getsockname()[1]))
    log_lock = threading.Lock()
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve_connection, args=(conn, context, args, log_lock, proxy),
                         daemon=True).start()


if __name__ == "__main__":
    main()
