#!/usr/bin/env python3
"""Packs a Windows build as the ZIP a vendor takes, unpacks it into an empty
folder, builds the host of this folder against that folder alone, and runs that host under Wine against Linux-side
peers on 127.0.0.1: as a client against an echo server in every framing, as a
server for a client in a length framing and the end-byte framing. Then its
trace, in Log\\ beside the executable, must hold TRANSMIT and RECEIVE records
with CR LF line ends. Then the same over TLS with certificates made by the
openssl command in certs\\ beside the executable (the library's default
paths): the host as client of a Python TLS echo server, refusing a wrong
subject, a wrong issuer and a certificate of an unknown CA from openssl
s_server, and as server of openssl s_client.

  linux_peers.py CMAKE BUILD_DIR TOOLCHAIN WORK_DIR EMULATOR...
"""
import os
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time
import zipfile

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


def write_ini(folder, section, port, framing, tls=()):
    lines = ["[%s]" % section, "ip=127.0.0.1" if section.startswith("TcpClient") else "ip=",
             "port=%d" % port, "netheader=%d" % framing]
    if tls:
        lines += ["[SSLConfig]", "UseSSL=1"] + list(tls)
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


def echo_server(listener, framing, errors, tls=None):
    """Answers the first message of the first connection with the same message."""
    try:
        conn, _ = listener.accept()
        if tls:
            conn.settimeout(RUN_LIMIT)
            conn = tls.wrap_socket(conn, server_side=True)
        with conn:
            conn.settimeout(RUN_LIMIT)
            body = read_frame(conn, framing)
            conn.sendall(frame(framing, body))
            while conn.recv(4096):  # until the host closes
                pass
    except Exception as e:  # reported by the caller
        errors.append("echo server, framing %d: %r" % (framing, e))


def host_as_client(emulator, exe, framing, tls_keys=(), tls=None):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(RUN_LIMIT)
    write_ini(os.path.dirname(exe), "TcpClientSession-0", listener.getsockname()[1], framing, tls_keys)
    errors = []
    peer = threading.Thread(target=echo_server, args=(listener, framing, errors, tls))
    peer.start()
    try:
        code, text = finish_host(*start_host(emulator, exe, ["client", str(framing)]))
    finally:
        peer.join(RUN_LIMIT)
        listener.close()
    if code != 0 or "client echo ok" not in text or errors:
        sys.exit("host as client, framing %d: exit %d %s %s" % (framing, code, text, errors))


def free_port():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def host_as_server(emulator, exe, framing):
    port = free_port()
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


def unpack_zip(build_dir, work):
    """The build's ZIP, made by cpack as the Windows build command makes it,
    unpacked into the empty folder work/prefix; returns that folder."""
    packages = os.path.join(work, "zip")
    subprocess.run(["cpack", "-G", "ZIP", "-B", packages], cwd=build_dir, check=True, stdout=subprocess.DEVNULL)
    zips = [name for name in os.listdir(packages) if name.endswith(".zip")]
    if len(zips) != 1:
        sys.exit("cpack made %r, not one ZIP" % zips)
    prefix = os.path.join(work, "prefix")
    with zipfile.ZipFile(os.path.join(packages, zips[0])) as archive:
        archive.extractall(prefix)
    return prefix


def build_host(cmake, build_dir, toolchain, work):
    shutil.rmtree(work, ignore_errors=True)
    prefix = unpack_zip(build_dir, work)
    source = os.path.dirname(os.path.abspath(__file__))
    for step in ([cmake, "-S", source, "-B", os.path.join(work, "host"), "-G", "Ninja",
                  "-DCMAKE_TOOLCHAIN_FILE=" + toolchain, "-DTolvane_DIR=" + prefix + "/lib/cmake/Tolvane"],
                 [cmake, "--build", os.path.join(work, "host")]):
        subprocess.run(step, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(work, "host", "winhost.exe")


def trace(exe):
    """The host's trace files, in Log\\ beside it, as one text."""
    folder = os.path.join(os.path.dirname(exe), "Log")
    names = os.listdir(folder) if os.path.isdir(folder) else []
    return b"".join(open(os.path.join(folder, name), "rb").read() for name in names)


def check_trace(exe):
    data = trace(exe)
    if not data:
        sys.exit("no trace file beside " + exe)
    for record in (b"\r\nTRANSMIT:", b"\r\nRECEIVE:"):
        if record not in data:
            sys.exit("trace has no %r record" % record)
    if data.count(b"\n") != data.count(b"\r\n"):
        sys.exit("trace has line ends without CR")


SUBJECT = "/CN=Tolvane Test Server"
ISSUER = "/CN=Tolvane Test CA"
SERVER_CERT = ("ServerCACert.pem", "ServerKey.pem")


def make_certs(folder):
    """The CA, the server certificate it signed (the library's default file
    names) and a self-signed one of the same subject, as EC P-256 keys."""
    os.makedirs(folder)
    new = ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
           "-days", "2"]
    for args in (["-keyout", "ca.key", "-out", "CACert.pem", "-subj", ISSUER],
                 ["-keyout", "ServerKey.pem", "-out", "ServerCACert.pem", "-subj", SUBJECT,
                  "-CA", "CACert.pem", "-CAkey", "ca.key"],
                 ["-keyout", "stranger.key", "-out", "stranger.pem", "-subj", SUBJECT]):
        subprocess.run(new + args, cwd=folder, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def fresh_trace(exe):
    shutil.rmtree(os.path.join(os.path.dirname(exe), "Log"), ignore_errors=True)


def expect_trace(exe, case, lines):
    text = trace(exe).decode("latin-1").replace("\r\n", "\n")
    for line in lines:
        if line not in text:
            sys.exit("%s: the trace lacks %r:\n%s" % (case, line, text[-3000:]))


def tls_client_refuses(emulator, exe, case, keys, cert, lines):
    """The host as client of openssl s_server presenting `cert` (certificate
    and key file): the handshake fails, the host is told of the connection
    but its send fails without TLS (exit 11), and `lines` are in its trace."""
    certs = os.path.join(os.path.dirname(exe), "certs")
    port = free_port()
    write_ini(os.path.dirname(exe), "TcpClientSession-0", port, 5, ["PeerCerMustBeValid=1"] + keys)
    log = open(os.path.join(os.path.dirname(exe), "s_server.txt"), "w+")
    # Its input stays open: at the end of its input s_server would stop.
    server = subprocess.Popen(["openssl", "s_server", "-accept", "127.0.0.1:%d" % port, "-cert", cert[0],
                               "-key", cert[1]], cwd=certs, stdin=subprocess.PIPE, stdout=log,
                              stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + RUN_LIMIT
        while "ACCEPT" not in open(log.name).read():
            if time.monotonic() > deadline or server.poll() is not None:
                sys.exit("%s: openssl s_server did not start: %s" % (case, open(log.name).read()))
            time.sleep(0.1)
        fresh_trace(exe)
        code, text = finish_host(*start_host(emulator, exe, ["client", "5"]))
    finally:
        server.kill()
        server.wait()
        server.stdin.close()
        log.close()
    if code != 11:
        sys.exit("%s: the host's send did not fail: exit %d %s" % (case, code, text))
    expect_trace(exe, case, lines + ["SSL Connect Failed."])


def tls_host_as_server(emulator, exe):
    """openssl s_client, checking the host's certificate against the CA, sends
    one message in framing 5 and gets it back."""
    folder = os.path.dirname(exe)
    port = free_port()
    write_ini(folder, "TcpServerSession-0", port, 5, ["PeerCerMustBeValid=1"])
    fresh_trace(exe)
    body = b"hello from openssl s_client"
    host, out = start_host(emulator, exe, ["server"])
    answer = b""
    try:
        deadline = time.monotonic() + RUN_LIMIT
        while not answer and time.monotonic() < deadline and host.poll() is None:
            # s_client ends when the host, having answered, stops; until the
            # host listens it ends at once without an answer.
            client = subprocess.run(["openssl", "s_client", "-connect", "127.0.0.1:%d" % port,
                                     "-CAfile", os.path.join(folder, "certs", "CACert.pem"),
                                     "-verify_return_error", "-quiet"], input=frame(5, body),
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=RUN_LIMIT)
            answer = client.stdout
            if not answer:
                time.sleep(0.2)
    finally:
        code, text = finish_host(host, out)
    if answer != frame(5, body) or code != 0 or "server echo ok" not in text:
        sys.exit("TLS host as server: answer %r, exit %d %s" % (answer, code, text))
    expect_trace(exe, "TLS host as server", ["SSL: "])


def tls_cases(emulator, exe):
    certs = os.path.join(os.path.dirname(exe), "certs")
    make_certs(certs)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*(os.path.join(certs, name) for name in SERVER_CERT))
    fresh_trace(exe)
    names = ["PeerCerMustBeValid=1", "PeerCerSubject=" + SUBJECT, "PeerCerIssuer=" + ISSUER]
    host_as_client(emulator, exe, 5, names, context)
    expect_trace(exe, "TLS client", ["Peer server certificate valid!", "SSL: SSL negotiation finished successfully"])
    refused = "Peer server certificate invalid! Connection exit!"
    tls_client_refuses(emulator, exe, "wrong subject", ["PeerCerSubject=/CN=someone else"], SERVER_CERT, [
        "Subject doesn't match!\n\tSubject configured is:/CN=someone else\n\tCertificate subject is:" + SUBJECT,
        refused])
    tls_client_refuses(emulator, exe, "wrong issuer", names[1:2] + ["PeerCerIssuer=/CN=other CA"], SERVER_CERT, [
        "Issuer doesn't match!\n\tIssuer Configured is:/CN=other CA\n\tCertificate Issuer is:" + ISSUER, refused])
    tls_client_refuses(emulator, exe, "unknown CA", [], ("stranger.pem", "stranger.key"),
                       ["OTCPSock::SSL_connect Failed.", ":certificate verify failed(-1)"])
    tls_host_as_server(emulator, exe)


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
    tls_cases(emulator, exe)
    print("TLS: %.1f s" % (time.monotonic() - start), flush=True)
    print("Windows host built from the unpacked ZIP works with Linux peers: client in framings 0-6, server in 5 and 6; over TLS as client"
          " (refusing a wrong subject, a wrong issuer, an unknown CA) and as server of openssl s_client")


if __name__ == "__main__":
    main()
