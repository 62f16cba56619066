#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamp server on 127.0.0.1 for the release test.

    tsa_server.py CONFIG PORT_FILE

Answers each POSTed time-stamp query with `openssl ts -reply` under the openssl
configuration CONFIG (its tsa section names the signer, key and serial file), and
writes the port it listens on to PORT_FILE once it is ready.
"""

import http.server
import os
import subprocess
import sys


def main(config, port_file):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            reply = subprocess.run(
                ["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin",
                 "-out", "/dev/stdout"],
                input=query, capture_output=True, check=False)
            if reply.returncode != 0:
                self.send_error(500, reply.stderr.decode(errors="replace")[:200])
                return
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply.stdout)))
            self.end_headers()
            self.wfile.write(reply.stdout)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    with open(port_file + ".new", "w", encoding="ascii") as out:
        out.write(str(server.server_address[1]))
    os.replace(port_file + ".new", port_file)
    server.serve_forever()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: tsa_server.py CONFIG PORT_FILE")
    main(sys.argv[1], sys.argv[2])
