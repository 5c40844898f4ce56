#!/usr/bin/env python3
"""Takes a PNG screenshot of a running station over VNC.

    tools/screenshot.py [--host HOST] [--port PORT] [--wait SECONDS] OUT.png

scripts/run-station.sh shows the window on Qt's VNC platform when no display is set
(port 5900 unless GLUEBOX_VNC_PORT says otherwise); this asks that server for one whole
frame, the picture a VNC viewer would show. Standard library only: the RFB handshake
without authentication, raw 32-bit pixels, and the PNG written with zlib.
"""
import argparse
import socket
import struct
import sys
import time
import zlib


def read_exact(sock, n):
    data = bytearray()
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise ConnectionError("the VNC server closed the connection")
        data += chunk
    return bytes(data)


def connect(host, port, wait):
    # The station may still be starting: retry until it listens.
    deadline = time.monotonic() + wait
    while True:
        try:
            return socket.create_connection((host, port), timeout=10)
        except OSError:
            if time.monotonic() >= deadline:
                raise
            time.sleep(0.5)


def handshake(sock):
    version = read_exact(sock, 12)
    if not version.startswith(b"RFB "):
        raise ConnectionError("not a VNC server: %r" % version)
    if version < b"RFB 003.007":
        # Qt's server speaks 3.3: it names the security type itself.
        sock.sendall(b"RFB 003.003\n")
        (kind,) = struct.unpack(">I", read_exact(sock, 4))
        if kind != 1:
            raise ConnectionError("the server wants security type %d; this tool speaks only"
                                  " 'None'" % kind)
    else:
        sock.sendall(b"RFB 003.008\n")
        (count,) = struct.unpack("B", read_exact(sock, 1))
        if count == 0:
            (length,) = struct.unpack(">I", read_exact(sock, 4))
            raise ConnectionError(read_exact(sock, length).decode(errors="replace"))
        if 1 not in read_exact(sock, count):
            raise ConnectionError("the server wants a password; this tool speaks only 'None'")
        sock.sendall(b"\x01")
        (result,) = struct.unpack(">I", read_exact(sock, 4))
        if result != 0:
            raise ConnectionError("security handshake refused")
    sock.sendall(b"\x01")  # shared: leave other viewers connected
    width, height = struct.unpack(">HH", read_exact(sock, 4))
    read_exact(sock, 16)  # the server's pixel format; we set our own below
    (name_length,) = struct.unpack(">I", read_exact(sock, 4))
    read_exact(sock, name_length)
    return width, height


def request_frame(sock, width, height):
    # 32 bits per pixel, little-endian, true colour: red at bit 16, green 8, blue 0.
    pixel_format = struct.pack(">BBBBHHHBBB3x", 32, 24, 0, 1, 255, 255, 255, 16, 8, 0)
    sock.sendall(struct.pack(">B3x", 0) + pixel_format)
    sock.sendall(struct.pack(">BxHi", 2, 1, 0))  # raw encoding only
    sock.sendall(struct.pack(">BBHHHH", 3, 0, 0, 0, width, height))


def read_frame(sock, width, height):
    frame = bytearray(width * height * 4)
    covered = 0
    while covered < width * height:
        (kind,) = struct.unpack("B", read_exact(sock, 1))
        if kind == 0:  # framebuffer update
            (rects,) = struct.unpack(">xH", read_exact(sock, 3))
            for _ in range(rects):
                x, y, w, h, encoding = struct.unpack(">HHHHi", read_exact(sock, 12))
                if encoding != 0:
                    raise ConnectionError("unexpected encoding %d" % encoding)
                data = read_exact(sock, w * h * 4)
                for row in range(h):
                    start = ((y + row) * width + x) * 4
                    frame[start:start + w * 4] = data[row * w * 4:(row + 1) * w * 4]
                covered += w * h
        elif kind == 2:  # bell
            continue
        elif kind == 3:  # server cut text
            (length,) = struct.unpack(">3xI", read_exact(sock, 7))
            read_exact(sock, length)
        else:
            raise ConnectionError("unexpected server message %d" % kind)
    return frame


def write_png(path, width, height, bgrx):
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # no filter
        line = bgrx[y * width * 4:(y + 1) * width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3] = line[2::4]
        rgb[1::3] = line[1::4]
        rgb[2::3] = line[0::4]
        rows += rgb

    def chunk(tag, body):
        return (struct.pack(">I", len(body)) + tag + body
                + struct.pack(">I", zlib.crc32(tag + body) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        f.write(chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description="PNG screenshot of a station shown over VNC")
    parser.add_argument("out", help="PNG file to write")
    parser.add_argument("--host", default="localhost")
    parser.add_argument("--port", type=int, default=5900)
    parser.add_argument("--wait", type=float, default=30,
                        help="seconds to keep trying while the station starts (default 30)")
    args = parser.parse_args()
    try:
        with connect(args.host, args.port, args.wait) as sock:
            width, height = handshake(sock)
            request_frame(sock, width, height)
            frame = read_frame(sock, width, height)
    except (OSError, ConnectionError) as e:
        print("screenshot: %s:%d: %s" % (args.host, args.port, e), file=sys.stderr)
        return 1
    write_png(args.out, width, height, frame)
    print("%s: %d x %d" % (args.out, width, height))
    return 0


if __name__ == "__main__":
    sys.exit(main())
