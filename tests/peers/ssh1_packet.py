"""SSH-1 wire encodings, binary packet framing and a packet channel over a socket.

Packet on the wire (protocol 1.5):

    uint32  length      L = 1 (type) + payload length + 4 (check bytes); padding not counted
    bytes   padding     8 - (L mod 8) bytes, 1 to 8: zeros while no cipher is set, else random
    byte    type
    bytes   payload     L - 5 bytes
    uint32  check       CRC-32 (ssh1_crypto.crc32) over padding, type and payload

Everything after the length field is encrypted with the session cipher once it is set.
Integers are big-endian; a string is a uint32 length and its bytes; a multiple-precision
integer is a uint16 count of significant bits and then ceil(bits / 8) magnitude bytes.
"""

import os
import socket
import struct

import ssh1_crypto

MSG_DISCONNECT = 1
SMSG_PUBLIC_KEY = 2
CMSG_SESSION_KEY = 3
CMSG_USER = 4
CMSG_AUTH_RHOSTS = 5
CMSG_AUTH_RSA = 6
SMSG_AUTH_RSA_CHALLENGE = 7
CMSG_AUTH_RSA_RESPONSE = 8
CMSG_AUTH_PASSWORD = 9
CMSG_REQUEST_PTY = 10
CMSG_WINDOW_SIZE = 11
CMSG_EXEC_SHELL = 12
CMSG_EXEC_CMD = 13
SMSG_SUCCESS = 14
SMSG_FAILURE = 15
CMSG_STDIN_DATA = 16
SMSG_STDOUT_DATA = 17
SMSG_STDERR_DATA = 18
CMSG_EOF = 19
SMSG_EXITSTATUS = 20
MSG_IGNORE = 32
CMSG_EXIT_CONFIRMATION = 33
MSG_DEBUG = 36

MAX_PACKET_LENGTH = 256 * 1024


class ProtocolError(Exception):
    """The other side broke the protocol; the text is fit for a DISCONNECT message."""


class Disconnected(Exception):
    """The other side sent DISCONNECT or closed the connection."""


# ---- encodings ----

def put_int(value):
    return struct.pack(">I", value & 0xFFFFFFFF)


def put_string(data):
    if isinstance(data, str):
        data = data.encode()
    return put_int(len(data)) + data


def put_mpint(value):
    if value < 0 or value.bit_length() > 0xFFFF:
        raise ValueError("SSH-1 integer out of range")
    return struct.pack(">H", value.bit_length()) + ssh1_crypto.int_to_bytes(value)


class Reader:
    """Reads the fields of one payload; running past its end is a ProtocolError."""

    def __init__(self, data):
        self.data = bytes(data)
        self.pos = 0

    def remaining(self):
        return len(self.data) - self.pos

    def raw(self, n):
        if n < 0 or n > self.remaining():
            raise ProtocolError("packet too short")
        out = self.data[self.pos:self.pos + n]
        self.pos += n
        return out

    def byte(self):
        return self.raw(1)[0]

    def int(self):
        return struct.unpack(">I", self.raw(4))[0]

    def string(self):
        n = self.int()
        if n > MAX_PACKET_LENGTH:
            raise ProtocolError("string too long")
        return self.raw(n)

    def mpint(self):
        bits = struct.unpack(">H", self.raw(2))[0]
        return int.from_bytes(self.raw((bits + 7) // 8), "big")

    def end(self):
        if self.remaining():
            raise ProtocolError("%d unexpected bytes at the end of a packet" % self.remaining())


# ---- framing ----

class Framer:
    """Frames and unframes packets for one connection (one cipher per direction)."""

    def __init__(self):
        self.cipher_number = ssh1_crypto.CIPHER_NONE
        self._send = ssh1_crypto.NoCipher()
        self._recv = ssh1_crypto.NoCipher()
        self._input = bytearray()

    def set_cipher(self, number, key):
        """Both directions switch at once, each with its own chaining state."""
        self.cipher_number = number
        self._send = ssh1_crypto.make_cipher(number, key, encrypt=True)
        self._recv = ssh1_crypto.make_cipher(number, key, encrypt=False)

    def frame(self, msg_type, payload=b""):
        length = 1 + len(payload) + 4
        pad = 8 - length % 8
        padding = os.urandom(pad) if self.cipher_number else bytes(pad)
        body = padding + bytes([msg_type]) + payload
        body += put_int(ssh1_crypto.crc32(body))
        return put_int(length) + self._send.process(body)

    def feed(self, data):
        self._input += data

    def next_packet(self):
        """(type, payload) of the next whole packet in the input, or None."""
        if len(self._input) < 4:
            return None
        length = struct.unpack(">I", self._input[:4])[0]
        if length < 5 or length > MAX_PACKET_LENGTH:
            raise ProtocolError("Bad packet length %d." % length)
        padded = length + 8 - length % 8
        if len(self._input) < 4 + padded:
            return None
        body = self._recv.process(bytes(self._input[4:4 + padded]))
        del self._input[:4 + padded]
        crc = struct.unpack(">I", body[-4:])[0]
        if crc != ssh1_crypto.crc32(body[:-4]):
            raise ProtocolError("Corrupted check bytes on input.")
        body = body[padded - length:-4]
        return body[0], body[1:]


class Channel:
    """A packet connection over a connected socket (blocking, with a time-out)."""

    def __init__(self, sock, log=None):
        self.sock = sock
        self.framer = Framer()
        self.log = log or (lambda text: None)

    def send(self, msg_type, payload=b""):
        self.sock.sendall(self.framer.frame(msg_type, payload))

    def pending(self):
        """A whole packet already buffered (type, payload), or None; no socket read."""
        while True:
            packet = self.framer.next_packet()
            if packet is None or not self._transport(packet):
                return packet

    def feed_from_socket(self):
        """Reads what the socket has; False at end of stream."""
        data = self.sock.recv(65536)
        if not data:
            return False
        self.framer.feed(data)
        return True

    def recv(self):
        """Blocks for the next packet other than IGNORE and DEBUG."""
        while True:
            packet = self.pending()
            if packet is not None:
                return packet
            try:
                alive = self.feed_from_socket()
            except socket.timeout as e:
                raise Disconnected("time-out waiting for a packet") from e
            if not alive:
                raise Disconnected("connection closed")

    def _transport(self, packet):
        """Handles IGNORE, DEBUG and DISCONNECT; True when the packet was used up."""
        msg_type, payload = packet
        if msg_type == MSG_IGNORE:
            return True
        if msg_type == MSG_DEBUG:
            self.log("remote debug: %r" % Reader(payload).string())
            return True
        if msg_type == MSG_DISCONNECT:
            raise Disconnected("remote disconnect: %r" % Reader(payload).string())
        return False

    def disconnect(self, text):
        try:
            self.send(MSG_DISCONNECT, put_string(text))
        except OSError:
            pass


def read_identification(sock, limit=255, max_lines=50):
    """One identification line (without CR LF), read byte by byte so nothing after it is
    taken from the socket.  Up to max_lines lines before the one starting with "SSH-" are
    skipped."""
    for _ in range(max_lines + 1):
        line = bytearray()
        while True:
            ch = sock.recv(1)
            if not ch:
                raise Disconnected("closed during identification")
            if ch == b"\n":
                break
            if len(line) < limit:
                line += ch
        text = bytes(line).rstrip(b"\r").decode("latin-1")
        if text.startswith("SSH-"):
            return text
    raise ProtocolError("no identification line")
