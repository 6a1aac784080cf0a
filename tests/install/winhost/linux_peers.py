#!/usr/bin/env python3
"""Installs a Windows build into a scratch prefix, builds the host of this
folder against it alone, and runs that host under Wine against Linux-side
peers on 127.0.0.1: as a client against an echo server in every framing, as a
server for a client in a length framing and the end-byte framing. Then its
trace, in Log\\ beside the executable, must hold TRANSMIT and RECEIVE records
with CR LF line ends.

  linux_peers.py CMAKE BUILD_DIR TOOLCHAIN WORK_DIR EMULATOR...
"""
import os
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time

RUN_LIMIT = 25  # seconds for one host run, Wine's start included


def frame(framing, body):
    if framing == 1:
        return struct.pack("<H", len(body)) + body
    if framing == 2:
        return b"%04d" % len(body) + body
    if framing == 4:
        return struct.pack(">H", len(body)) + body
    if framing == 5:
        return struct.pack(">I", len(body)) + body
    return body  # 0 and 3: the read is the message; 6: the body ends with 0x03


def read_exactly(sock, n):
    data = b""
    while len(data) < n:
        part = sock.recv(n - len(data))
        if not part:
            raise EOFError("peer closed inside a frame")
        data += part
    return data


def read_frame(sock, framing):
    if framing in (0, 3):
        return sock.recv(102400)
    if framing == 6:
        data = b""
        while not data.endswith(b"\x03"):
            part = sock.recv(1)
            if not part:
                raise EOFError("peer closed before the end byte")
            data += part
        return data
    size = {1: 2, 2: 4, 4: 2, 5: 4}[framing]
    header = read_exactly(sock, size)
    length = {1: lambda h: struct.unpack("<H", h)[0], 2: lambda h: int(h),
              4: lambda h: struct.unpack(">H", h)[0], 5: lambda h: struct.unpack(">I", h)[0]}[framing](header)
    return read_exactly(sock, length)


def write_ini(folder, section, port, framing):
    lines = ["[%s]" % section, "ip=127.0.0.1" if section.startswith("TcpClient") else "ip=",
             "port=%d" % port, "netheader=%d" % framing]
    with open(os.path.join(folder, "NetWork.ini"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


def start_host(emulator, exe, args):
    """Starts the host with its output in a file: a pipe would stay open as
    long as Wine's background processes, not only the host, hold it."""
    out = open(os.path.join(os.path.dirname(exe), "output.txt"), "w+")
    return subprocess.Popen(emulator + [exe] + args, stdin=subprocess.DEVNULL, stdout=out,
                            stderr=subprocess.STDOUT), out


def finish_host(host, out):
    """Waits for the host; its exit status and output."""
    try:
        host.wait(timeout=RUN_LIMIT)
    finally:
        if host.poll() is None:
            host.kill()
            host.wait()
    out.seek(0)
    text = out.read()
    out.close()
    return host.returncode, text


def echo_server(listener, framing, errors):
    """Answers the first message of the first connection with the same message."""
    try:
        conn, _ = listener.accept()
        with conn:
            conn.settimeout(RUN_LIMIT)
            body = read_frame(conn, framing)
            conn.sendall(frame(framing, body))
            while conn.recv(4096):  # until the host closes
                pass
    except Exception as e:  # reported by the caller
        errors.append("echo server, framing %d: %r" % (framing, e))


def host_as_client(emulator, exe, framing):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(RUN_LIMIT)
    write_ini(os.path.dirname(exe), "TcpClientSession-0", listener.getsockname()[1], framing)
    errors = []
    peer = threading.Thread(target=echo_server, args=(listener, framing, errors))
    peer.start()
    try:
        code, text = finish_host(*start_host(emulator, exe, ["client", str(framing)]))
    finally:
        peer.join(RUN_LIMIT)
        listener.close()
    if code != 0 or "client echo ok" not in text or errors:
        sys.exit("host as client, framing %d: exit %d %s %s" % (framing, code, text, errors))


def host_as_server(emulator, exe, framing):
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    write_ini(os.path.dirname(exe), "TcpServerSession-0", port, framing)
    host, out = start_host(emulator, exe, ["server"])
    answer = None
    try:
        body = b"hello from linux, framing %d" % framing + (b"\x03" if framing == 6 else b"")
        deadline = time.monotonic() + RUN_LIMIT
        while True:  # the host listens once Wine has started it
            try:
                sock = socket.create_connection(("127.0.0.1", port), timeout=RUN_LIMIT)
                break
            except ConnectionRefusedError:
                if time.monotonic() > deadline or host.poll() is not None:
                    raise
                time.sleep(0.2)
        with sock:
            sock.sendall(frame(framing, body))
            sock.settimeout(RUN_LIMIT)
            answer = read_frame(sock, framing)
    finally:
        code, text = finish_host(host, out)
    if answer != body or code != 0 or "server echo ok" not in text:
        sys.exit("host as server, framing %d: answer %r, exit %d %s" % (framing, answer, code, text))


def build_host(cmake, build_dir, toolchain, work):
    shutil.rmtree(work, ignore_errors=True)
    prefix = os.path.join(work, "prefix")
    source = os.path.dirname(os.path.abspath(__file__))
    for step in ([cmake, "--install", build_dir, "--prefix", prefix],
                 [cmake, "-S", source, "-B", os.path.join(work, "host"), "-G", "Ninja",
                  "-DCMAKE_TOOLCHAIN_FILE=" + toolchain, "-DTolvane_DIR=" + prefix + "/lib/cmake/Tolvane"],
                 [cmake, "--build", os.path.join(work, "host")]):
        subprocess.run(step, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(work, "host", "winhost.exe")


def check_trace(exe):
    folder = os.path.join(os.path.dirname(exe), "Log")
    files = os.listdir(folder) if os.path.isdir(folder) else []
    if not files:
        sys.exit("no trace file in " + folder)
    data = b"".join(open(os.path.join(folder, name), "rb").read() for name in files)
    for record in (b"\r\nTRANSMIT:", b"\r\nRECEIVE:"):
        if record not in data:
            sys.exit("trace has no %r record" % record)
    if data.count(b"\n") != data.count(b"\r\n"):
        sys.exit("trace has line ends without CR")


def main():
    cmake, build_dir, toolchain, work = sys.argv[1:5]
    emulator = sys.argv[5:]
    exe = build_host(cmake, build_dir, toolchain, work)
    # The Wine server up front, so that no host run pays for its start.
    subprocess.run(emulator + ["--start"], check=True, timeout=RUN_LIMIT)
    start = time.monotonic()
    for framing in range(7):
        host_as_client(emulator, exe, framing)
        print("client, framing %d: %.1f s" % (framing, time.monotonic() - start), flush=True)
    for framing in (5, 6):
        host_as_server(emulator, exe, framing)
        print("server, framing %d: %.1f s" % (framing, time.monotonic() - start), flush=True)
    check_trace(exe)
    print("Windows host works with Linux peers: client in framings 0-6, server in 5 and 6")


if __name__ == "__main__":
    main()
