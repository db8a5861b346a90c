"""The Internet transport under Wine against servers started here on 127.0.0.1: a
small HTTP server that injects faults (cut, ignored or wrong ranges, garbage,
stalls, redirect loops, no length), nginx for plain serving, pyftpdlib for FTP and
HTTPS on localhost with a test certificate authority trusted in the prefix.

inet_fetch.exe fetches an address through the file object, the file copy or the
Internet file itself and prints the error it ended with."""
import http.server
import os
import random
import re
import shutil
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import unittest

import harness
from harness import BUILD, winpath

FETCH = os.path.join(BUILD, 'inet_fetch.exe')
ROOTCA = os.path.join(BUILD, 'rootca.exe')
PYTHON = '/usr/bin/python3'
BODY = random.Random(5).randbytes(300000)
CUT = 100000  # where a cut answer stops
CUT_ALWAYS = 20000  # what each answer of /cutalways carries

INCOMPLETE, MISMATCH = 38, 13
INVALID_URL, TIMEOUT, INVALID_RESPONSE = 12005, 12002, 12152


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class FaultHandler(http.server.BaseHTTPRequestHandler):
    """Serves BODY under paths that name a fault: /cut (the first answer breaks off),
    /cutalways, /ignore (first cut, then 200 to every Range), /wrong (first cut,
    then a 206 from 0), /garbage, /stall, /loop, /nolength; anything else is 404."""
    protocol_version = 'HTTP/1.1'

    def log_message(self, *args):
        pass

    def do_GET(self):
        server = self.server
        name = self.path.split('?')[0].strip('/')
        rng = self.headers.get('Range')
        with server.lock:
            server.log.append((name, rng))
            count = sum(1 for n, _ in server.log if n == name)
        if name == 'garbage':
            self.wfile.write(b'GARBAGE\r\n\r\nbody')
            self.close_connection = True
            return
        if name == 'stall':
            server.release.wait(60)
            self.close_connection = True
            return
        if name == 'loop':
            self.send_response(302)
            self.send_header('Location', f'/loop?{count}')
            self.send_header('Content-Length', '0')
            self.end_headers()
            return
        if name == 'nolength':
            self.send_response(200)
            self.send_header('Connection', 'close')
            self.end_headers()
            self.wfile.write(BODY)
            self.close_connection = True
            return
        if name not in ('cut', 'cutalways', 'ignore', 'wrong', 'file'):
            self.send_error(404)
            return
        start = 0
        m = re.match(r'bytes=(\d+)-$', rng or '')
        if m and name in ('cut', 'cutalways', 'file'):
            start = int(m.group(1))
        if m and name == 'wrong':
            start = -1  # claims a part from 0 while the client asked for more
        cut = name == 'cutalways' or (count == 1 and name != 'file')
        if start:
            begin = 0 if start < 0 else start
            self.send_response(206)
            self.send_header('Content-Range', f'bytes {begin}-{len(BODY) - 1}/{len(BODY)}')
            data = BODY[begin:]
        else:
            self.send_response(200)
            data = BODY
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        if cut:
            self.wfile.write(data[:CUT_ALWAYS if name == 'cutalways' else CUT])
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
            return
        self.wfile.write(data)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def start_http(handler=FaultHandler, context=None, host='127.0.0.1'):
    server = Server((host, 0), handler)
    server.lock = threading.Lock()
    server.log = []
    server.release = threading.Event()
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def stop_http(server):
    server.release.set()
    server.shutdown()
    server.server_close()


class TransportTest(harness.WineTest):
    def fetch(self, mode, url, timeout_ms=None):
        target = os.path.join(self.dir, 'out.bin')
        if os.path.exists(target):
            os.remove(target)
        args = f'{mode} "{url}" "{winpath(target)}"' + (f' {timeout_ms}' if timeout_ms else '')
        r = harness.run(FETCH, args, timeout=240)
        m = re.search(r'result=0x([0-9A-F]{8})', r.stdout)
        self.assertIsNotNone(m, r.stdout + r.stderr[-2000:])
        data = None
        if os.path.exists(target):
            with open(target, 'rb') as f:
                data = f.read()
        return int(m.group(1), 16), data, r.stdout

    def test_faults_of_an_http_server(self):
        server = start_http()
        self.addCleanup(stop_http, server)
        base = f'http://127.0.0.1:{server.server_address[1]}'
        # (path, mode, time-out, expected error, expected body, Range headers the server saw)
        cases = [
            ('cut', 'inet', None, 0, BODY, [None, f'bytes={CUT}-']),
            ('cut', 'copy', None, 0, BODY, [None, f'bytes={CUT}-']),
            ('cut', 'file', None, 0, BODY, [None, f'bytes={CUT}-']),
            ('cutalways', 'inet', None, INCOMPLETE, None, [None] + [f'bytes={CUT_ALWAYS * i}-' for i in range(1, 6)]),
            ('ignore', 'inet', None, 0, BODY, [None, f'bytes={CUT}-']),
            ('wrong', 'inet', None, MISMATCH, None, [None] + [f'bytes={CUT}-'] * 5),
            ('missing', 'inet', None, 0x8004D554, None, None),
            ('missing', 'copy', None, 0x8004D554, None, None),
            ('garbage', 'inet', None, INVALID_RESPONSE, None, None),
            ('stall', 'inet', 1000, TIMEOUT, None, None),
            ('nolength', 'inet', None, 0, BODY, [None]),
            ('nolength', 'file', None, 0, BODY, [None]),
        ]
        for path, mode, timeout, error, body, ranges in cases:
            with self.subTest(path=path, mode=mode):
                with server.lock:
                    server.log.clear()
                code, data, out = self.fetch(mode, f'{base}/{path}', timeout)
                self.assertEqual(code, error, out)
                if body is None:
                    self.assertIsNone(data, 'a failed fetch leaves no file')
                else:
                    self.assertTrue(data == body, f'{len(data or b"")} bytes differ from the {len(body)} served')
                with server.lock:
                    seen = [rng for n, rng in server.log]
                if ranges is not None:
                    self.assertEqual(seen[:len(ranges)], ranges)
                if path == 'cutalways':
                    self.assertEqual(len(seen), 6, 'the first attempt and five resumes')
        # Refused before anything is sent, or ended by the loop's own limit.
        with server.lock:
            server.log.clear()
        code, data, out = self.fetch('inet', f'{base}/{"a" * 9000}')
        self.assertEqual(code, INVALID_URL, out)
        code, data, out = self.fetch('inet', f'{base}/file\tX-Injected: 1')
        self.assertEqual(code, INVALID_URL, out)
        with server.lock:
            self.assertEqual(server.log, [])
        code, data, out = self.fetch('inet', f'{base}/loop')
        self.assertNotEqual(code, 0, out)
        self.assertIsNone(data)

    def test_nginx_serves_whole_files_with_their_date(self):
        root = os.path.join(self.dir, 'www')
        os.makedirs(root)
        big = random.Random(7).randbytes(3 << 20)
        with open(os.path.join(root, 'big.bin'), 'wb') as f:
            f.write(big)
        os.utime(os.path.join(root, 'big.bin'), (1583280000, 1583280000))  # 2020-03-04 00:00:00 UTC
        port = free_port()
        conf = os.path.join(self.dir, 'nginx.conf')
        with open(conf, 'w') as f:
            f.write(f'''daemon off; master_process off; pid {self.dir}/nginx.pid; error_log {self.dir}/error.log;
events {{ worker_connections 64; }}
http {{ access_log {self.dir}/access.log; client_body_temp_path {self.dir}/body;
  server {{ listen 127.0.0.1:{port}; root {root}; }} }}
''')
        nginx = subprocess.Popen(['nginx', '-c', conf, '-p', self.dir], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (nginx.kill(), nginx.wait(timeout=10)))
        self.assertTrue(harness.wait_until(lambda: self.connects(port)), 'nginx did not start')
        url = f'http://127.0.0.1:{port}/big.bin'
        for mode in ('inet', 'copy'):
            with self.subTest(mode=mode):
                code, data, out = self.fetch(mode, url)
                self.assertEqual(code, 0, out)
                self.assertTrue(data == big)
        code, data, out = self.fetch('inet', url)
        self.assertIn(f'size={len(big)}', out)
        self.assertIn('date=2020-03-04 00:00:00', out)
        code, data, out = self.fetch('copy', f'http://127.0.0.1:{port}/none.bin')
        self.assertEqual(code, 0x8004D554, out)

    @staticmethod
    def connects(port):
        try:
            socket.create_connection(('127.0.0.1', port), timeout=1).close()
            return True
        except OSError:
            return False

    def test_ftp_size_date_and_early_close(self):
        root = os.path.join(self.dir, 'ftp')
        os.makedirs(root)
        for name in ('whole.bin', 'short.bin'):
            with open(os.path.join(root, name), 'wb') as f:
                f.write(BODY)
            os.utime(os.path.join(root, name), (1583280000, 1583280000))
        script = f'''
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
from pyftpdlib.filesystems import AbstractedFS

class Short:
    """A file whose data connection closes after {CUT} bytes."""
    def __init__(self, f):
        self.f, self.left, self.name, self.closed = f, {CUT}, f.name, False
    def read(self, n):
        n = min(n, self.left)
        self.left -= n
        return self.f.read(n) if n else b''
    def seek(self, *a):
        return self.f.seek(*a)
    def close(self):
        self.closed = True
        self.f.close()

class FS(AbstractedFS):
    def open(self, filename, mode):
        f = super().open(filename, mode)
        return Short(f) if filename.endswith('short.bin') else f

auth = DummyAuthorizer()
auth.add_anonymous({root!r})
FTPHandler.authorizer = auth
FTPHandler.abstracted_fs = FS
server = FTPServer(('127.0.0.1', 0), FTPHandler)
print(server.address[1], flush=True)
server.serve_forever(timeout=1)
'''
        ftp = subprocess.Popen([PYTHON, '-c', script], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (ftp.kill(), ftp.wait(timeout=10)))
        port = int(ftp.stdout.readline())
        base = f'ftp://127.0.0.1:{port}'
        code, data, out = self.fetch('inet', f'{base}/whole.bin')
        self.assertEqual(code, 0, out)
        self.assertTrue(data == BODY)
        self.assertIn(f'size={len(BODY)}', out)
        self.assertIn('date=2020-03-04', out)
        code, data, out = self.fetch('copy', f'{base}/whole.bin')
        self.assertEqual(code, 0, out)
        self.assertTrue(data == BODY)
        code, data, out = self.fetch('inet', f'{base}/short.bin')
        self.assertEqual(code, INCOMPLETE, out)
        self.assertIsNone(data)
        code, data, out = self.fetch('inet', f'{base}/none.bin')
        self.assertNotEqual(code, 0, out)

    def test_https_with_a_trusted_and_an_untrusted_authority(self):
        certs = os.path.join(self.dir, 'certs')
        os.makedirs(certs)

        def openssl(*args):
            subprocess.run(['openssl'] + list(args), cwd=certs, check=True, capture_output=True, timeout=60)

        for ca in ('trusted', 'other'):
            openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', f'{ca}.key', '-out', f'{ca}.pem',
                    '-days', '2', '-subj', f'/CN=Transport test {ca} CA',
                    '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign')
            openssl('req', '-newkey', 'rsa:2048', '-nodes', '-keyout', f'{ca}-server.key', '-out', f'{ca}.csr',
                    '-subj', '/CN=localhost')
            with open(os.path.join(certs, 'ext.cnf'), 'w') as f:
                f.write('subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n')
            openssl('x509', '-req', '-in', f'{ca}.csr', '-CA', f'{ca}.pem', '-CAkey', f'{ca}.key',
                    '-CAcreateserial', '-out', f'{ca}-server.pem', '-days', '2', '-extfile', 'ext.cnf')
        openssl('x509', '-in', 'trusted.pem', '-outform', 'DER', '-out', 'trusted.der')
        der = winpath(os.path.join(certs, 'trusted.der'))
        r = harness.run(ROOTCA, f'add "{der}"')
        self.assertEqual(r.code, 0, r.stdout)
        self.addCleanup(lambda: harness.run(ROOTCA, f'remove "{der}"'))
        for ca, expect_ok in (('trusted', True), ('other', False)):
            with self.subTest(ca=ca):
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                context.load_cert_chain(os.path.join(certs, f'{ca}-server.pem'),
                                        os.path.join(certs, f'{ca}-server.key'))
                server = start_http(context=context)
                try:
                    url = f'https://localhost:{server.server_address[1]}/file'
                    code, data, out = self.fetch('inet', url)
                    if expect_ok:
                        self.assertEqual(code, 0, out)
                        self.assertTrue(data == BODY)
                        code, data, out = self.fetch('file', url)
                        self.assertEqual(code, 0, out)
                        self.assertTrue(data == BODY)
                        # A secure transfer that breaks off resumes over its own connection.
                        code, data, out = self.fetch('inet', url.replace('/file', '/cut'))
                        self.assertEqual(code, 0, out)
                        self.assertTrue(data == BODY)
                        with server.lock:
                            self.assertIn(('cut', f'bytes={CUT}-'), server.log)
                    else:
                        self.assertNotEqual(code, 0, out)
                        self.assertIsNone(data)
                finally:
                    stop_http(server)


if __name__ == '__main__':
    unittest.main()
