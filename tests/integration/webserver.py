"""A small HTTP server for the download tests, serving one folder on 127.0.0.1 with
faults to inject. Prints "port=<n>" once it listens, logs each request as
"<path> range=<Range header or ->" to --log, and stops by itself after --limit
seconds.

Faults (each by path, given more than once for several paths):
  --cut PATH        every answer for PATH from its first byte announces the whole
                    length and stops in the middle (Range requests are served whole)
  --nolength PATH   PATH is sent without Content-Length, the connection closed at its end
  --slow PATH       PATH is sent in 32 KiB pieces, one every 50 ms
  --hold PATH       PATH is sent up to its middle, the rest once the file --release names exists
Files that do not exist answer 404."""
import argparse
import http.server
import os
import socketserver
import sys
import threading
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--root', required=True)
    ap.add_argument('--log', required=True)
    ap.add_argument('--limit', type=float, default=300)
    ap.add_argument('--cut', action='append', default=[])
    ap.add_argument('--nolength', action='append', default=[])
    ap.add_argument('--slow', action='append', default=[])
    ap.add_argument('--hold', action='append', default=[])
    ap.add_argument('--release')
    args = ap.parse_args()
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = 'HTTP/1.1'

        def log_message(self, *a):
            pass

        def do_GET(self):
            path = self.path.split('?', 1)[0]
            rng = self.headers.get('Range')
            with lock:
                with open(args.log, 'a') as f:
                    f.write(f'{path} range={rng or "-"}\n')
            local = os.path.join(args.root, path.lstrip('/'))
            if '..' in path or not os.path.isfile(local):
                self.send_response(404)
                self.send_header('Content-Length', '0')
                self.end_headers()
                return
            with open(local, 'rb') as f:
                data = f.read()
            if path in args.nolength:
                self.send_response(200)
                self.send_header('Connection', 'close')
                self.end_headers()
                self.wfile.write(data)
                self.close_connection = True
                return
            start = 0
            if rng and rng.startswith('bytes=') and rng[6:].rstrip('-').isdigit():
                start = int(rng[6:].rstrip('-'))
            body = data[start:]
            if start:
                self.send_response(206)
                self.send_header('Content-Range', f'bytes {start}-{len(data) - 1}/{len(data)}')
            else:
                self.send_response(200)
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            if path in args.cut and not start:
                self.wfile.write(body[:len(body) // 2])
                self.wfile.flush()
                self.close_connection = True
                return
            if path in args.hold and not start:
                self.wfile.write(body[:len(body) // 2])
                self.wfile.flush()
                while not os.path.exists(args.release):
                    time.sleep(0.05)
                body = body[len(body) // 2:]
            if path in args.slow:
                for i in range(0, len(body), 32768):
                    self.wfile.write(body[i:i + 32768])
                    self.wfile.flush()
                    time.sleep(0.05)
                return
            self.wfile.write(body)

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    server = Server(('127.0.0.1', 0), Handler)
    timer = threading.Timer(args.limit, server.shutdown)
    timer.daemon = True
    timer.start()
    print(f'port={server.server_address[1]}', flush=True)
    server.serve_forever()
    sys.exit(0)


if __name__ == '__main__':
    main()
