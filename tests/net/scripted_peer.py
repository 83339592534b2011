#!/usr/bin/env python3
"""Scripted loopback peers for the network tests.

    scripted_peer.py PORT http [PORT2]   an HTTP server with misbehaving routes
    scripted_peer.py PORT socks          a SOCKS 4/4A/5 server with scripted replies

Listens on 127.0.0.1 only and exits by itself after 90 seconds.
"""
import socket
import struct
import sys
import threading
import time

LIFETIME = 90
CANNED = {  # replies sent as they are, the connection then held until the client closes it
    "/held": b"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello",
    "/over": b"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello, and 26 bytes more past it",
    "/twolen": b"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 36\r\n\r\nhello",
    "/forbidden": b"HTTP/1.0 403 Forbidden\r\n\r\n",
    "/halfhead": b"HTTP/1.0 200 OK\r\n",
    "/rangerel": b"HTTP/1.0 302 Found\r\nAccept-Ranges: bytes\r\nLocation: /echo\r\n\r\nmoved",
    "/inject": b"HTTP/1.0 302 Found\r\nLocation: /next\0 HTTP/1.0\rX-Injected: yes\r\n\r\n",
    "/badrange": b"HTTP/1.0 206 OK\r\nContent-Range: bytes 0\rX: 1-9/10\r\nContent-Length: 0\r\n\r\n",
    "/continue": b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello",
    "/chunked": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
    "/chunkedlen": b"HTTP/1.1 200 OK\r\nContent-Length: 15\r\nTransfer-Encoding: chunked\r\n\r\n"
                   b"5\r\nhello\r\n0\r\n\r\n",
}


def recv_head(conn):
    data = b""
    conn.settimeout(10)
    while b"\r\n\r\n" not in data and b"\n\n" not in data and len(data) < 65536:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


def wait_close(conn, limit):
    conn.settimeout(limit)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def reply(conn, status, headers, body=b""):
    head = "HTTP/1.0 %s\r\n" % status
    for k, v in headers:
        head += "%s: %s\r\n" % (k, v)
    conn.sendall(head.encode() + b"\r\n" + body)


def http_route(conn, port2):
    head = recv_head(conn)
    line = head.split(b"\r\n", 1)[0].decode("latin-1")
    parts = line.split(" ")
    path = parts[1] if len(parts) > 1 else "/"
    if "://" in path:  # a proxy-style request line
        path = "/" + path.split("://", 1)[1].split("/", 1)[-1]
    if path.startswith("/echo"):
        reply(conn, "200 OK", [("Content-Type", "text/plain"), ("Content-Length", len(head))], head)
    elif path == "/cl0loc":
        reply(conn, "302 Found", [("Content-Length", "0"), ("Location", "/echo")])
        wait_close(conn, 20)
    elif path == "/cl0":
        reply(conn, "200 OK", [("Content-Length", "0")])
        wait_close(conn, 20)
    elif path == "/rel":
        reply(conn, "302 Found", [("Location", "echo?from=rel")], b"moved")
    elif path == "/abs2":
        reply(conn, "302 Found", [("Location", "http://127.0.0.1:%s/echo?from=abs2" % port2)], b"moved")
    elif path == "/bigport":
        reply(conn, "302 Found", [("Location", "http://127.0.0.1:99999999999/")], b"moved")
    elif path == "/https":
        reply(conn, "302 Found", [("Location", "https://127.0.0.1:%s/echo" % port2)], b"moved")
    elif path == "/loop":
        reply(conn, "302 Found", [("Location", "/loop")], b"again")
    elif path == "/nohdr":
        conn.sendall(b"<HTML>\r\n<b>x</b>\r\nline2\nend")
    elif path == "/long":
        conn.sendall(b"HTTP/1.0 200 OK\r\nX-Long: " + b"a" * 9000 + b"\r\n\r\nbody")
    elif path in ("/reset", "/resetnolen"):
        reply(conn, "200 OK", [("Content-Length", "100000")] if path == "/reset" else [], b"r" * 1000)
        time.sleep(0.2)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    elif path == "/short":
        reply(conn, "200 OK", [("Content-Length", "1000")], b"s" * 10)
    elif path == "/inner100":  # a status line inside the header, then a body cut short
        conn.sendall(b"HTTP/1.1 200 OK\r\nHTTP/1.1 100 Continue\r\nContent-Length: 100\r\n\r\nhel")
    elif path == "/listlen":  # a list of equal lengths, then a body cut short
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 100, 100\r\n\r\nhel")
    elif path == "/noreply":
        pass
    elif path == "/hang":
        reply(conn, "200 OK", [], b"hello")
        wait_close(conn, 30)
    elif path == "/silent":
        wait_close(conn, 30)
    elif path == "/auth":
        if b"Authorization: Basic dXNlcjpwYXNz\r\n" in head:
            reply(conn, "200 OK", [("Content-Length", "7")], b"welcome")
        else:
            reply(conn, "401 Unauthorized", [("WWW-Authenticate", 'Basic realm="a"'),
                                             ("WWW-Authenticate", 'Digest realm="b"')], b"no")
    elif path == "/cookie":
        reply(conn, "206 Partial Content",
              [("Set-Cookie", "id=42; path=/"), ("Content-Range", "bytes 0-99/1000"),
               ("Accept-Ranges", "bytes"), ("Content-Type", "Text/Plain"),
               ("Content-Length", "100")], b"c" * 100)
    elif path == "/drip":
        for b in b"HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\ndrip\r\n":
            conn.sendall(bytes([b]))
            time.sleep(0.002)
    elif path == "/flood":  # header lines without end, up to 4 MB
        for _ in range(40):
            conn.sendall(b"HTTP/1.0 200 OK\r\n" + (b"X-Flood: " + b"f" * 89 + b"\r\n") * 1000)
    elif path in ("/trickle", "/slow"):  # a byte each 50 ms for 6 s; 1500 each 250 ms for 2 s
        piece, count, pause = (b"t", 120, 0.05) if path == "/trickle" else (b"w" * 1500, 8, 0.25)
        conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n")
        for _ in range(count):
            conn.sendall(piece)
            time.sleep(pause)
    elif path == "/lfonly":
        conn.sendall(b"HTTP/1.1 404 Not Found\nContent-Type: text/html\n\nmissing")
    elif path == "/badstatus":
        conn.sendall(b"HTTP/1.0 abc Odd\r\n\r\nbody")
    elif path in CANNED:
        conn.sendall(CANNED[path])
        wait_close(conn, 20)
    else:
        reply(conn, "404 Not Found", [("Content-Length", "4")], b"nope")


def socks_session(conn):
    conn.settimeout(10)

    def recv_exact(n):
        data = b""
        while len(data) < n:
            chunk = conn.recv(n - len(data))
            if not chunk:
                raise OSError("closed")
            data += chunk
        return data

    def recv_z():
        data = b""
        while True:
            c = recv_exact(1)
            if c == b"\0":
                return data
            data += c

    ver = recv_exact(1)[0]
    if ver == 4:
        cmd, port = struct.unpack(">BH", recv_exact(3))
        ip = recv_exact(4)
        user = recv_z().decode()
        host = socket.inet_ntoa(ip)
        if ip[:3] == b"\0\0\0" and ip[3] != 0:
            host = recv_z().decode()
        code = 90 if not host.startswith("reject") else 91
        conn.sendall(bytes([0, code]) + b"\0" * 6)
        if code == 90:
            conn.sendall(("HELLO 4 user=%s host=%s port=%d\r\n" % (user, host, port)).encode())
        return
    nmethods = recv_exact(1)[0]
    methods = recv_exact(nmethods)
    if 2 in methods:
        conn.sendall(b"\x05\x02")
        recv_exact(1)
        user = recv_exact(recv_exact(1)[0]).decode()
        pw = recv_exact(recv_exact(1)[0]).decode()
        if pw == "hangup":
            return
        if pw != "secret":
            conn.sendall(b"\x01\x01")
            return
        conn.sendall(b"\x01\x00")
    else:
        conn.sendall(b"\x05\x00")
    _, cmd, _, atyp = recv_exact(4)
    if atyp == 3:
        host = recv_exact(recv_exact(1)[0]).decode()
    else:
        host = socket.inet_ntoa(recv_exact(4))
    port = struct.unpack(">H", recv_exact(2))[0]
    hello = ("HELLO 5 host=%s port=%d\r\n" % (host, port)).encode()
    ok = b"\x05\x00\x00\x01\x7f\x00\x00\x01\x12\x34"
    if host.startswith("fail"):
        conn.sendall(bytes([5, int(host[4:])]) + b"\x00\x01" + b"\0" * 6)
    elif host == "frag":
        for b in ok:
            conn.sendall(bytes([b]))
            time.sleep(0.01)
        conn.sendall(hello)
    elif host == "bound":
        name = b"b" * 250
        conn.sendall(b"\x05\x00\x00\x03" + bytes([len(name)]) + name + b"\x00\x50")
        conn.sendall(hello)
    elif host == "trailing":
        conn.sendall(ok + hello + b"MORE\r\n")
    elif host == "hangup":
        return
    elif host == "badver":
        conn.sendall(b"\x04\x00\x00\x01" + b"\0" * 6)
    else:
        conn.sendall(ok)
        conn.sendall(hello)


def serve(port, handler):
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", port))
    srv.listen(32)

    def run():
        while True:
            conn, _ = srv.accept()

            def one(c=conn):
                try:
                    handler(c)
                except OSError:
                    pass
                finally:
                    try:
                        c.close()
                    except OSError:
                        pass

            threading.Thread(target=one, daemon=True).start()

    threading.Thread(target=run, daemon=True).start()


def main():
    port = int(sys.argv[1])
    mode = sys.argv[2]
    if mode == "http":
        port2 = int(sys.argv[3]) if len(sys.argv) > 3 else port
        if port2 != port:
            serve(port2, lambda c: http_route(c, port2))
        serve(port, lambda c: http_route(c, port2))
    else:
        serve(port, socks_session)
    time.sleep(LIFETIME)


if __name__ == "__main__":
    main()
