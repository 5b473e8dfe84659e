#!/usr/bin/env python3
"""The demo's stand-in for the ChromeDriver download server and the browser
test page: serves a folder over HTTPS on one loopback address, port 443,
until it is stopped. Requests are logged to a file.

Usage: demo-server.py ADDRESS FOLDER CERT KEY LOG
"""

import functools
import http.server
import ssl
import sys


def main():
    address, folder, cert, key, log_path = sys.argv[1:6]
    log = open(log_path, "a", encoding="utf-8", buffering=1)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def log_message(self, fmt, *args):
            log.write("%s %s\n" % (self.headers.get("Host", ""), fmt % args))

    handler = functools.partial(Handler, directory=folder)
    server = http.server.ThreadingHTTPServer((address, 443), handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
