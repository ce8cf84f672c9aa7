"""A hostile SSH-2 server for the end-to-end tests, on 127.0.0.1 only.

It speaks just enough SSH-2 (RFC 4253, 4252, 4254; curve25519-sha256 of
RFC 8731, an ssh-ed25519 host key, aes128-ctr with hmac-sha2-256) to log any
client in, and then grants the largest window the protocol can carry,
2^32-1, twice (in the channel confirmation and again by a WINDOW_ADJUST, so a
client that adds without a bound wraps) and sends data for ever, within the
window the client grants. Everything the client sends is read and dropped.

Use:  with WindowFlood() as peer: ... peer.port ... peer.sent
"""

import hashlib
import hmac
import os
import socket
import struct
import threading

from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey, X25519PublicKey
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat

from hostile_peer import Peer

VERSION = b"SSH-2.0-QuenlorWindowFlood_1.0"
MAX_WINDOW = 0xFFFFFFFF

KEXINIT, NEWKEYS, KEX_ECDH_INIT, KEX_ECDH_REPLY = 20, 21, 30, 31
SERVICE_REQUEST, SERVICE_ACCEPT = 5, 6
USERAUTH_REQUEST, USERAUTH_SUCCESS = 50, 52
CHANNEL_OPEN, CHANNEL_OPEN_CONFIRMATION, CHANNEL_WINDOW_ADJUST = 90, 91, 93
CHANNEL_DATA, CHANNEL_EOF, CHANNEL_CLOSE, CHANNEL_REQUEST, CHANNEL_SUCCESS = 94, 96, 97, 98, 99


def u32(n):
    return struct.pack(">I", n)


def string(b):
    return u32(len(b)) + b


def mpint(b):
    b = b.lstrip(b"\0")
    if b and b[0] & 0x80:
        b = b"\0" + b
    return string(b)


def name_list(*names):
    return string(",".join(names).encode())


class Reader:
    """Takes fields off a payload in order."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def u32(self):
        self.pos += 4
        return struct.unpack(">I", self.data[self.pos - 4:self.pos])[0]

    def string(self):
        n = self.u32()
        self.pos += n
        return self.data[self.pos - n:self.pos]

    def byte(self):
        self.pos += 1
        return self.data[self.pos - 1]


class Direction:
    """One direction's packet layer: plain until keys are set."""

    def __init__(self):
        self.seq = 0
        self.cipher = None
        self.mac_key = None

    def keys(self, key, iv, mac_key, encrypt):
        c = Cipher(algorithms.AES(key), modes.CTR(iv))
        self.cipher = c.encryptor() if encrypt else c.decryptor()
        self.mac_key = mac_key

    def mac(self, packet):
        return hmac.new(self.mac_key, u32(self.seq) + packet, hashlib.sha256).digest()


class Transport:
    def __init__(self, conn):
        self.conn = conn
        self.out = Direction()
        self.inn = Direction()
        self.send_lock = threading.Lock()
        self.pending = b""

    def recv_exact(self, n):
        while len(self.pending) < n:
            chunk = self.conn.recv(65536)
            if not chunk:
                raise OSError("closed by the client")
            self.pending += chunk
        data, self.pending = self.pending[:n], self.pending[n:]
        return data

    def recv_line(self):
        while b"\n" not in self.pending:
            chunk = self.conn.recv(4096)
            if not chunk:
                raise OSError("closed by the client")
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.rstrip(b"\r")

    def send(self, payload):
        with self.send_lock:
            block = 16 if self.out.cipher else 8
            pad = block - (5 + len(payload)) % block
            if pad < 4:
                pad += block
            packet = u32(1 + len(payload) + pad) + bytes([pad]) + payload + os.urandom(pad)
            if self.out.cipher:
                wire = self.out.cipher.update(packet) + self.out.mac(packet)
            else:
                wire = packet
            self.out.seq = (self.out.seq + 1) & 0xFFFFFFFF
            self.conn.sendall(wire)

    def read(self):
        d = self.inn
        first = self.recv_exact(16 if d.cipher else 8)
        if d.cipher:
            first = d.cipher.update(first)
        length = struct.unpack(">I", first[:4])[0]
        if length > 256 * 1024:
            raise OSError("bad packet length")
        rest = self.recv_exact(length + 4 - len(first))
        if d.cipher:
            rest = d.cipher.update(rest)
        packet = first + rest
        if d.cipher and not hmac.compare_digest(self.recv_exact(32), d.mac(packet)):
            raise OSError("bad MAC")
        d.seq = (d.seq + 1) & 0xFFFFFFFF
        return packet[5:5 + length - 1 - packet[4]]


class WindowFlood(Peer):
    """Logs the client in, grants a window of 2^32-1 and floods."""

    LINE = b"window flood line %08d: the server grants 2^32-1 and never stops\r\n"

    def __init__(self):
        super().__init__()
        self.sent = 0  # data bytes sent
        self.window = 0  # what the client lets us send
        self.max_packet = 0
        self.client_channel = 0
        self.cond = threading.Condition()

    def run(self, conn):
        conn.settimeout(None)
        t = Transport(conn)
        conn.sendall(VERSION + b"\r\n")
        client_version = t.recv_line()
        while not client_version.startswith(b"SSH-"):
            client_version = t.recv_line()
        self.key_exchange(t, client_version)
        self.login(t)
        reader = threading.Thread(target=self.read_client, args=(t,), daemon=True)
        reader.start()
        self.flood(t)

    def key_exchange(self, t, client_version):
        server_kexinit = (bytes([KEXINIT]) + os.urandom(16)
                          + name_list("curve25519-sha256", "curve25519-sha256@libssh.org")
                          + name_list("ssh-ed25519")
                          + name_list("aes128-ctr") * 2 + name_list("hmac-sha2-256") * 2
                          + name_list("none") * 2 + name_list() * 2 + b"\0" + u32(0))
        t.send(server_kexinit)
        client_kexinit = None
        while True:
            payload = t.read()
            if payload[0] == KEXINIT:
                client_kexinit = payload
            elif payload[0] == KEX_ECDH_INIT and client_kexinit is not None:
                break
        q_c = Reader(payload[1:]).string()
        ephemeral = X25519PrivateKey.generate()
        q_s = ephemeral.public_key().public_bytes(Encoding.Raw, PublicFormat.Raw)
        k = mpint(ephemeral.exchange(X25519PublicKey.from_public_bytes(q_c)))
        host = Ed25519PrivateKey.generate()
        host_pub = host.public_key().public_bytes(Encoding.Raw, PublicFormat.Raw)
        k_s = string(b"ssh-ed25519") + string(host_pub)
        h = hashlib.sha256(string(client_version) + string(VERSION) + string(client_kexinit)
                           + string(server_kexinit) + string(k_s) + string(q_c) + string(q_s)
                           + k).digest()
        signature = string(b"ssh-ed25519") + string(host.sign(h))
        t.send(bytes([KEX_ECDH_REPLY]) + string(k_s) + string(q_s) + string(signature))
        t.send(bytes([NEWKEYS]))

        def derive(letter, size):
            return hashlib.sha256(k + h + letter + h).digest()[:size]

        t.out.keys(derive(b"D", 16), derive(b"B", 16), derive(b"F", 32), True)
        while t.read()[0] != NEWKEYS:
            pass
        t.inn.keys(derive(b"C", 16), derive(b"A", 16), derive(b"E", 32), False)

    def login(self, t):
        """Any service, any user, any method; one session channel."""
        while True:
            payload = t.read()
            kind, r = payload[0], Reader(payload[1:])
            if kind == SERVICE_REQUEST:
                t.send(bytes([SERVICE_ACCEPT]) + string(r.string()))
            elif kind == USERAUTH_REQUEST:
                t.send(bytes([USERAUTH_SUCCESS]))
            elif kind == CHANNEL_OPEN:
                r.string()
                self.client_channel, window, self.max_packet = r.u32(), r.u32(), r.u32()
                with self.cond:
                    self.window = window
                t.send(bytes([CHANNEL_OPEN_CONFIRMATION]) + u32(self.client_channel) + u32(0)
                       + u32(MAX_WINDOW) + u32(32768))
            elif kind == CHANNEL_REQUEST:
                r.u32()
                request, want_reply = r.string(), r.byte()
                if want_reply:
                    t.send(bytes([CHANNEL_SUCCESS]) + u32(self.client_channel))
                if request == b"shell":
                    # The window is at its largest already: one more adjust
                    # takes a client that adds without a bound past 2^32.
                    t.send(bytes([CHANNEL_WINDOW_ADJUST]) + u32(self.client_channel)
                           + u32(MAX_WINDOW))
                    return

    def read_client(self, t):
        try:
            while not self.done.is_set():
                payload = t.read()
                if payload[0] == CHANNEL_WINDOW_ADJUST:
                    r = Reader(payload[1:])
                    r.u32()
                    with self.cond:
                        self.window += r.u32()
                        self.cond.notify()
                elif payload[0] in (CHANNEL_EOF, CHANNEL_CLOSE):
                    break
        except (OSError, IndexError, struct.error):
            pass
        self.done.set()
        with self.cond:
            self.cond.notify()

    def flood(self, t):
        n = 0
        block = b""
        while not self.done.is_set():
            while len(block) < 16384:
                block += self.LINE % n
                n += 1
            with self.cond:
                while self.window == 0 and not self.done.is_set():
                    self.cond.wait(0.5)
                size = min(len(block), self.window, self.max_packet - 64)
                self.window -= size
            if size <= 0:
                continue
            t.send(bytes([CHANNEL_DATA]) + u32(self.client_channel) + string(block[:size]))
            self.sent += size
            block = block[size:]
