"""A minimal SSH-1.5 client, only for checking the SSH-1 test peer (tests in this folder).

It speaks the client half of the same protocol steps the peer serves: public key, session
key, user, one password or RSA attempt, pty, window size, shell or command, data, exit
status and exit confirmation.
"""

import os
import socket
import time

from cryptography.hazmat.primitives.asymmetric import rsa

import ssh1_crypto
import ssh1_packet as P


class PublicKeyMessage:
    def __init__(self, payload):
        r = P.Reader(payload)
        self.cookie = r.raw(8)
        self.server_bits = r.int()
        self.server_e, self.server_n = r.mpint(), r.mpint()
        self.host_bits = r.int()
        self.host_e, self.host_n = r.mpint(), r.mpint()
        self.protocol_flags = r.int()
        self.cipher_mask = r.int()
        self.auth_mask = r.int()
        r.end()


class Client:
    def __init__(self, port, host="127.0.0.1", timeout=10.0, ident="SSH-1.5-QuenlorPeerCheck"):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.settimeout(timeout)
        self.server_ident = P.read_identification(self.sock)
        self.sock.sendall((ident + "\n").encode())
        self.chan = P.Channel(self.sock)
        self.keys = None
        self.sid = None

    def close(self):
        self.sock.close()

    def expect(self, *types):
        msg_type, payload = self.chan.recv()
        if msg_type not in types:
            raise P.ProtocolError("expected %s, got %d" % (types, msg_type))
        return msg_type, payload

    def read_public_key(self):
        _, payload = self.expect(P.SMSG_PUBLIC_KEY)
        self.keys = PublicKeyMessage(payload)
        return self.keys

    def start_encryption(self, cipher=ssh1_crypto.CIPHER_3DES):
        k = self.keys or self.read_public_key()
        self.sid = ssh1_crypto.session_id(k.host_n, k.server_n, k.cookie)
        session_key = os.urandom(32)
        number = ssh1_crypto.wrap_session_key(
            session_key, self.sid,
            rsa.RSAPublicNumbers(k.server_e, k.server_n).public_key(),
            rsa.RSAPublicNumbers(k.host_e, k.host_n).public_key())
        self.chan.send(P.CMSG_SESSION_KEY,
                       bytes([cipher]) + k.cookie + P.put_mpint(number) + P.put_int(3))
        self.chan.framer.set_cipher(cipher, session_key)
        self.expect(P.SMSG_SUCCESS)

    def user(self, name):
        """True when the server needs no authentication for this user."""
        self.chan.send(P.CMSG_USER, P.put_string(name))
        return self.expect(P.SMSG_SUCCESS, P.SMSG_FAILURE)[0] == P.SMSG_SUCCESS

    def password(self, text):
        self.chan.send(P.CMSG_AUTH_PASSWORD, P.put_string(text))
        return self.expect(P.SMSG_SUCCESS, P.SMSG_FAILURE)[0] == P.SMSG_SUCCESS

    def rsa(self, private_key):
        """One RSA attempt; the decrypted challenge is kept in self.last_challenge."""
        n = private_key.public_key().public_numbers().n
        self.chan.send(P.CMSG_AUTH_RSA, P.put_mpint(n))
        msg_type, payload = self.expect(P.SMSG_AUTH_RSA_CHALLENGE, P.SMSG_FAILURE)
        if msg_type == P.SMSG_FAILURE:
            return False
        r = P.Reader(payload)
        self.last_challenge = ssh1_crypto.rsa_decrypt_int(private_key, r.mpint())
        r.end()
        self.chan.send(P.CMSG_AUTH_RSA_RESPONSE,
                       ssh1_crypto.rsa_challenge_response(self.last_challenge, self.sid))
        return self.expect(P.SMSG_SUCCESS, P.SMSG_FAILURE)[0] == P.SMSG_SUCCESS

    def request_pty(self, term, rows, cols):
        self.chan.send(P.CMSG_REQUEST_PTY, P.put_string(term) + P.put_int(rows) + P.put_int(cols)
                       + P.put_int(0) + P.put_int(0) + b"\0")
        return self.expect(P.SMSG_SUCCESS, P.SMSG_FAILURE)[0] == P.SMSG_SUCCESS

    def window_size(self, rows, cols):
        self.chan.send(P.CMSG_WINDOW_SIZE,
                       P.put_int(rows) + P.put_int(cols) + P.put_int(0) + P.put_int(0))

    def exec_shell(self):
        self.chan.send(P.CMSG_EXEC_SHELL)

    def exec_command(self, command):
        self.chan.send(P.CMSG_EXEC_CMD, P.put_string(command))

    def stdin(self, data):
        self.chan.send(P.CMSG_STDIN_DATA, P.put_string(data))

    def read_until_exit(self, deadline=20.0):
        """(stdout bytes, stderr bytes, exit status); confirms the exit to the server."""
        out, err = bytearray(), bytearray()
        end = time.monotonic() + deadline
        while time.monotonic() < end:
            msg_type, payload = self.expect(P.SMSG_STDOUT_DATA, P.SMSG_STDERR_DATA,
                                            P.SMSG_EXITSTATUS)
            r = P.Reader(payload)
            if msg_type == P.SMSG_EXITSTATUS:
                status = r.int()
                self.chan.send(P.CMSG_EXIT_CONFIRMATION)
                return bytes(out), bytes(err), status
            (out if msg_type == P.SMSG_STDOUT_DATA else err).extend(r.string())
        raise TimeoutError("no exit status within %.0f s" % deadline)
