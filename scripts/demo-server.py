#!/usr/bin/env python3
"""The demo's stand-in for the ChromeDriver download server and the browser
test page: serves a folder over HTTPS on one loopback address, port 443,
until it is stopped. Requests are logged to a file. An archive comes over
about two seconds, as a download takes its time on a real line, so that
the setup window's download text can be seen.

Usage: demo-server.py ADDRESS FOLDER CERT KEY LOG
"""

import functools
import http.server
import ssl
import sys
import time


def main():
    address, folder, cert, key, log_path = sys.argv[1:6]
    log = open(log_path, "a", encoding="utf-8", buffering=1)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def log_message(self, fmt, *args):
            log.write("%s %s\n" % (self.headers.get("Host", ""), fmt % args))

        def copyfile(self, source, outputfile):
            if not self.path.endswith(".zip"):
                return super().copyfile(source, outputfile)
            data = source.read()
            step = max(1, -(-len(data) // 20))
            for at in range(0, len(data), step):
                time.sleep(0.1)
                outputfile.write(data[at:at + step])
                outputfile.flush()

    handler = functools.partial(Handler, directory=folder)
    server = http.server.ThreadingHTTPServer((address, 443), handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
