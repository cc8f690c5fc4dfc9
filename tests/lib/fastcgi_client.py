"""A FastCGI client for the tests: records, name-value pairs, a request's
bytes, and the answers read back. Names and values may be str (sent as
Latin-1, as the suites write data files) or bytes."""

import socket
import struct

BEGIN, ABORT, END, PARAMS, STDIN, STDOUT = 1, 2, 3, 4, 5, 6


def record(kind, request_id, content=b""):
    padding = -len(content) % 8
    return (struct.pack(">BBHHBx", 1, kind, request_id, len(content), padding)
            + content + b"\0" * padding)


def _bytes(text):
    return text if isinstance(text, bytes) else text.encode("latin-1")


def pairs(params):
    def length(text):
        return (bytes([len(text)]) if len(text) < 128
                else struct.pack(">I", len(text) | 1 << 31))
    return b"".join(length(k) + length(v) + k + v for k, v in
                    ((_bytes(k), _bytes(v)) for k, v in params.items()))


def request_bytes(request_id, params, keep=True, body=b"", role=1):
    return (record(BEGIN, request_id, struct.pack(">HB5x", role, int(keep)))
            + record(PARAMS, request_id, pairs(params)) + record(PARAMS, request_id)
            + (record(STDIN, request_id, body) if body else b"")
            + record(STDIN, request_id))


def read_records(conn, until_ended=(), timeout=30):
    """{id: stdout bytes}, {id: protocol status} until every id in
    `until_ended` has ended or the peer closes the connection."""
    conn.settimeout(timeout)
    data, stdout, ended = b"", {}, {}
    while not (until_ended and set(until_ended) <= set(ended)):
        chunk = conn.recv(65536)
        if not chunk:
            break
        data += chunk
        while len(data) >= 8:
            _, kind, rid, size, padding = struct.unpack(">BBHHBx", data[:8])
            if len(data) < 8 + size + padding:
                break
            content, data = data[8:8 + size], data[8 + size + padding:]
            if kind == STDOUT:
                stdout[rid] = stdout.get(rid, b"") + content
            elif kind == END:
                ended[rid] = content[4]
    return stdout, ended


def ask(socket_path, params, timeout=30):
    """One request on a connection of its own to a unix socket: its stdout
    bytes and its protocol status (None when the connection closed first)."""
    with socket.socket(socket.AF_UNIX) as conn:
        conn.connect(socket_path)
        conn.sendall(request_bytes(1, params, keep=False))
        stdout, ended = read_records(conn, until_ended=[1], timeout=timeout)
    return stdout.get(1, b""), ended.get(1)
