"""Checks the SSH-1 test peer against the protocol's own definitions with known values.

The peer is our only SSH-1 server, so a fault in its arithmetic would make the client's
tests pass against a wrong peer.  Each check here builds the expected value independently
(bitwise CRC, hashlib on literal bytes, DES passes chained by hand) instead of reusing the
peer's code.  The last group starts the peer on a free loopback port and logs in.
"""

import hashlib
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import warnings
import zlib

from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import rsa1_keyfile  # noqa: E402
import ssh1_client  # noqa: E402
import ssh1_crypto  # noqa: E402
import ssh1_packet  # noqa: E402


def crc_bitwise(data):
    """CRC-32 bit by bit: reflected polynomial 0xEDB88320, register starts at 0, no inversion."""
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ (0xEDB88320 if crc & 1 else 0)
    return crc


def ecb_block(algorithm, key, block, encrypt):
    with warnings.catch_warnings():  # Blowfish is deprecated, and still what SSH-1 needs
        warnings.simplefilter("ignore")
        c = Cipher(algorithm(key), modes.ECB())
    op = c.encryptor() if encrypt else c.decryptor()
    return op.update(block) + op.finalize()


def des_block(key, block, encrypt):
    return ecb_block(algorithms.TripleDES, key, block, encrypt)


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


class CbcByHand:
    """One CBC stream built from single-block operations; its chaining block carries over."""

    def __init__(self, block_fn, encrypt):
        self.block_fn = block_fn
        self.encrypt = encrypt
        self.iv = bytes(8)

    def run(self, data):
        out = b""
        for i in range(0, len(data), 8):
            block = data[i:i + 8]
            if self.encrypt:
                self.iv = self.block_fn(xor(block, self.iv), True)
                out += self.iv
            else:
                out += xor(self.block_fn(block, False), self.iv)
                self.iv = block
        return out


def ssh1_3des_by_hand(key, encrypt):
    k1, k2, k3 = key[0:8], key[8:16], key[16:24] if len(key) > 16 else key[0:8]

    def stream(k, enc):
        return CbcByHand(lambda b, e: des_block(k, b, e), enc)

    if encrypt:
        passes = [stream(k1, True), stream(k2, False), stream(k3, True)]
    else:
        passes = [stream(k3, False), stream(k2, True), stream(k1, False)]

    def run(data):
        for p in passes:
            data = p.run(data)
        return data
    return run


class CrcTest(unittest.TestCase):
    def test_known_values(self):
        self.assertEqual(ssh1_crypto.crc32(b""), 0)
        # Starting from 0 without final inversion, zero bytes leave the register at 0.
        self.assertEqual(ssh1_crypto.crc32(bytes(16)), 0)
        # One byte b gives table[b]: table[1] is the well-known 0x77073096 and table[0x80],
        # after seven plain shifts and one with the polynomial, is the polynomial itself.
        self.assertEqual(ssh1_crypto.crc32(b"\x01"), 0x77073096)
        self.assertEqual(ssh1_crypto.crc32(b"\x80"), 0xEDB88320)
        # Two bytes by hand: table[(0x77073096 ^ 0x00) & 0xff] ^ (0x77073096 >> 8),
        # where table[0x96] = crc_bitwise(b"\x96").
        self.assertEqual(ssh1_crypto.crc32(b"\x01\x00"),
                         crc_bitwise(b"\x96") ^ 0x00770730)

    def test_matches_bitwise_and_zlib_definitions(self):
        for data in (b"123456789", os.urandom(1), os.urandom(61), os.urandom(1000)):
            self.assertEqual(ssh1_crypto.crc32(data), crc_bitwise(data))
            # zlib.crc32(d, v) starts its register at ~v and inverts the result.
            self.assertEqual(ssh1_crypto.crc32(data), ~zlib.crc32(data, 0xFFFFFFFF) & 0xFFFFFFFF)
        self.assertNotEqual(ssh1_crypto.crc32(b"123456789"), 0xCBF43926)  # the zlib value


class SessionIdTest(unittest.TestCase):
    def test_md5_of_host_modulus_server_modulus_cookie(self):
        host_n = int("c5" + "17" * 127, 16)    # 1024 bits
        server_n = int("0b" + "e3" * 95, 16)   # 764 bits: its minimal form has 96 bytes
        cookie = bytes.fromhex("0102030405060708")
        expected = hashlib.md5(bytes.fromhex("c5" + "17" * 127) + bytes.fromhex("0b" + "e3" * 95)
                               + cookie).digest()
        self.assertEqual(ssh1_crypto.session_id(host_n, server_n, cookie), expected)
        # The order is host first: swapping the moduli must change the id.
        self.assertNotEqual(ssh1_crypto.session_id(server_n, host_n, cookie), expected)

    def test_challenge_response_pads_short_challenges(self):
        sid = bytes(range(16))
        challenge = int("00" * 3 + "ab" * 29, 16)  # 29 significant bytes
        expected = hashlib.md5(bytes(3) + b"\xab" * 29 + sid).digest()
        self.assertEqual(ssh1_crypto.rsa_challenge_response(challenge, sid), expected)
        with self.assertRaises(ValueError):
            ssh1_crypto.rsa_challenge_response(1 << 256, sid)


class SessionKeyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = rsa.generate_private_key(65537, 768)
        cls.host = rsa.generate_private_key(65537, 1024)

    def wrap_by_definition(self, session_key, sid, inner, outer):
        mixed = xor(session_key[:16], sid) + session_key[16:]
        number = int.from_bytes(mixed, "big")
        first = inner.encrypt(number.to_bytes((number.bit_length() + 7) // 8, "big"),
                              padding.PKCS1v15())
        first_n = int.from_bytes(first, "big")
        second = outer.encrypt(first_n.to_bytes((first_n.bit_length() + 7) // 8, "big"),
                               padding.PKCS1v15())
        return int.from_bytes(second, "big")

    def test_server_unwraps_key_built_by_definition(self):
        sid = os.urandom(16)
        # A key whose XOR with the id starts with a zero byte: the number is then shorter
        # than 32 bytes and must be right-aligned again.
        session_key = bytes([sid[0]]) + os.urandom(31)
        number = self.wrap_by_definition(session_key, sid, self.server.public_key(),
                                         self.host.public_key())
        self.assertEqual(ssh1_crypto.unwrap_session_key(number, sid, self.server, self.host),
                         session_key)

    def test_smaller_key_is_applied_first_whichever_it_is(self):
        sid = os.urandom(16)
        session_key = os.urandom(32)
        # Here the "server" key is the larger one, so it is the outer layer.
        number = self.wrap_by_definition(session_key, sid, self.server.public_key(),
                                         self.host.public_key())
        self.assertEqual(ssh1_crypto.unwrap_session_key(number, sid, self.host, self.server),
                         session_key)
        wrapped = ssh1_crypto.wrap_session_key(session_key, sid, self.host.public_key(),
                                               self.server.public_key())
        self.assertEqual(ssh1_crypto.unwrap_session_key(wrapped, sid, self.server, self.host),
                         session_key)

    def test_garbage_is_refused(self):
        with self.assertRaises(ValueError):
            ssh1_crypto.unwrap_session_key(12345, bytes(16), self.server, self.host)


class CipherTest(unittest.TestCase):
    def test_des_primitive_known_answer(self):
        # The classic DES example: key 0123456789abcdef, "Now is t" -> 3fa40e8a984d4815.
        self.assertEqual(des_block(bytes.fromhex("0123456789abcdef"), b"Now is t", True).hex(),
                         "3fa40e8a984d4815")

    def test_blowfish_primitive_known_answer(self):
        # Schneier's first test vector: zero key, zero block.
        self.assertEqual(ecb_block(algorithms.Blowfish, bytes(8), bytes(8), True).hex(),
                         "4ef997456198dd78")

    def test_3des_is_three_chained_single_des_passes(self):
        for key in (os.urandom(32), os.urandom(16)):
            peer_enc = ssh1_crypto.TripleDes(key, encrypt=True)
            hand_enc = ssh1_3des_by_hand(key, encrypt=True)
            peer_dec = ssh1_crypto.TripleDes(key, encrypt=False)
            hand_dec = ssh1_3des_by_hand(key, encrypt=False)
            # Several packets in a row: the chaining blocks must carry over between calls.
            for size in (8, 24, 16, 64):
                plain = os.urandom(size)
                cipher = peer_enc.process(plain)
                self.assertEqual(cipher, hand_enc(plain))
                self.assertEqual(hand_dec(cipher), plain)
                self.assertEqual(peer_dec.process(cipher), plain)

    def test_3des_with_16_byte_key_reuses_first_key(self):
        key16 = os.urandom(16)
        plain = os.urandom(32)
        self.assertEqual(ssh1_crypto.TripleDes(key16, True).process(plain),
                         ssh1_crypto.TripleDes(key16 + key16[:8], True).process(plain))

    def test_blowfish_runs_on_byte_reversed_words(self):
        key = os.urandom(32)
        enc = ssh1_crypto.Blowfish(key, encrypt=True)
        dec = ssh1_crypto.Blowfish(key, encrypt=False)
        hand = CbcByHand(lambda b, e: ecb_block(algorithms.Blowfish, key, b, e), True)
        for size in (8, 40):
            plain = os.urandom(size)
            words_reversed = b"".join(plain[i:i + 4][::-1] for i in range(0, size, 4))
            expected = hand.run(words_reversed)
            expected = b"".join(expected[i:i + 4][::-1] for i in range(0, size, 4))
            cipher = enc.process(plain)
            self.assertEqual(cipher, expected)
            self.assertEqual(dec.process(cipher), plain)


class FramingTest(unittest.TestCase):
    def test_plain_frames_have_the_protocol_layout(self):
        framer = ssh1_packet.Framer()
        wire = framer.frame(16, b"abc")
        # L = 1 + 3 + 4 = 8, padding 8 - 8 % 8 = 8 zero bytes: 4 + 8 + 8 = 20 bytes.
        self.assertEqual(len(wire), 20)
        self.assertEqual(wire[:4], b"\0\0\0\x08")
        self.assertEqual(wire[4:12], bytes(8))
        self.assertEqual(wire[12:16], b"\x10abc")
        self.assertEqual(int.from_bytes(wire[16:], "big"), crc_bitwise(wire[4:16]))
        # L = 7: one padding byte, 12 bytes in all.
        self.assertEqual(len(framer.frame(16, b"ab")), 12)

    def test_round_trip_through_both_ciphers_in_pieces(self):
        for cipher in (ssh1_crypto.CIPHER_3DES, ssh1_crypto.CIPHER_BLOWFISH):
            key = os.urandom(32)
            sender, receiver = ssh1_packet.Framer(), ssh1_packet.Framer()
            sender.set_cipher(cipher, key)
            receiver.set_cipher(cipher, key)
            messages = [(17, os.urandom(n)) for n in (0, 1, 7, 8, 300, 5000)]
            wire = b"".join(sender.frame(t, p) for t, p in messages)
            got = []
            for i in range(0, len(wire), 13):  # arrives in odd-sized pieces
                receiver.feed(wire[i:i + 13])
                while (packet := receiver.next_packet()) is not None:
                    got.append(packet)
            self.assertEqual(got, messages)

    def test_damaged_or_oversized_packets_are_refused(self):
        sender, receiver = ssh1_packet.Framer(), ssh1_packet.Framer()
        key = os.urandom(32)
        sender.set_cipher(3, key)
        receiver.set_cipher(3, key)
        wire = bytearray(sender.frame(17, b"payload"))
        wire[10] ^= 1
        receiver.feed(bytes(wire))
        with self.assertRaisesRegex(ssh1_packet.ProtocolError, "Corrupted check bytes"):
            receiver.next_packet()
        big = ssh1_packet.Framer()
        big.feed((256 * 1024 + 1).to_bytes(4, "big"))
        with self.assertRaisesRegex(ssh1_packet.ProtocolError, "Bad packet length"):
            big.next_packet()

    def test_encodings(self):
        self.assertEqual(ssh1_packet.put_mpint(1), b"\x00\x01\x01")
        self.assertEqual(ssh1_packet.put_mpint(256), b"\x00\x09\x01\x00")
        r = ssh1_packet.Reader(ssh1_packet.put_mpint(2 ** 700 + 5) + ssh1_packet.put_string("x"))
        self.assertEqual(r.mpint(), 2 ** 700 + 5)
        self.assertEqual(r.string(), b"x")
        r.end()
        with self.assertRaises(ssh1_packet.ProtocolError):
            ssh1_packet.Reader(b"\0\0\0\x05ab").string()


class KeyFileTest(unittest.TestCase):
    def test_layout_and_round_trip(self):
        key = rsa.generate_private_key(65537, 1024)
        data = rsa1_keyfile.encode_private(key, "test comment")
        self.assertEqual(data[:33], b"SSH PRIVATE KEY FILE FORMAT 1.1\n\0")
        self.assertEqual(data[33], 0)                                # cipher none
        self.assertEqual(int.from_bytes(data[38:42], "big"), 1024)   # bits
        r = ssh1_packet.Reader(data[42:])
        nums = key.private_numbers()
        self.assertEqual(r.mpint(), nums.public_numbers.n)
        self.assertEqual(r.mpint(), nums.public_numbers.e)
        self.assertEqual(r.string(), b"test comment")
        private = r.raw(r.remaining())
        self.assertEqual(len(private) % 8, 0)
        self.assertEqual(private[0:2], private[2:4])
        r = ssh1_packet.Reader(private[4:])
        self.assertEqual([r.mpint() for _ in range(4)], [nums.d, nums.iqmp, nums.q, nums.p])
        # iqmp is the inverse of q modulo p.
        self.assertEqual(nums.iqmp * nums.q % nums.p, 1)
        back, comment = rsa1_keyfile.decode_private(data)
        self.assertEqual(back.private_numbers(), nums)
        self.assertEqual(comment, "test comment")
        with self.assertRaises(ValueError):
            rsa1_keyfile.decode_private(data[:60])

    def test_public_line(self):
        key = rsa.generate_private_key(65537, 768).public_key()
        line = rsa1_keyfile.public_line(key, "a b")
        e, n, comment = rsa1_keyfile.parse_public_line(line)
        self.assertEqual((e, n, comment), (65537, key.public_numbers().n, "a b"))
        self.assertTrue(line.startswith("768 65537 "))
        self.assertIsNone(rsa1_keyfile.parse_public_line("# comment"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class LiveServerTest(unittest.TestCase):
    """The peer as a process on a free loopback port, running commands as this user."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.tmp.name
        cls.user_key = rsa.generate_private_key(65537, 1024)
        with open(os.path.join(d, "authorized"), "w") as f:
            f.write(rsa1_keyfile.public_line(cls.user_key.public_key(), "u"))
        cls.pty_file = os.path.join(d, "pty.txt")
        cls.port = free_port()
        cls.proc = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "ssh1_peer.py"), "--port", str(cls.port),
             "--user", "tester", "--password", "secret", "--authorized",
             os.path.join(d, "authorized"), "--host-key", os.path.join(d, "host.pem"),
             "--pty-record", cls.pty_file, "--stderr-banner", "banner",
             "--challenge-leading-zero", "--log", os.path.join(d, "log")])
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", cls.port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        else:
            cls.proc.kill()
            raise RuntimeError("the SSH-1 peer did not start")

    @classmethod
    def tearDownClass(cls):
        cls.proc.terminate()
        cls.proc.wait(timeout=10)
        cls.tmp.cleanup()

    def client(self, cipher=ssh1_crypto.CIPHER_3DES):
        c = ssh1_client.Client(self.port)
        self.addCleanup(c.close)
        c.start_encryption(cipher)
        return c

    def test_public_key_message(self):
        c = ssh1_client.Client(self.port)
        self.addCleanup(c.close)
        self.assertEqual(c.server_ident, "SSH-1.5-QuenlorTestPeer_1.0")
        k = c.read_public_key()
        self.assertEqual((k.server_bits, k.host_bits), (768, 1024))
        self.assertEqual(k.server_n.bit_length(), 768)
        self.assertEqual(k.cipher_mask, (1 << 3) | (1 << 6))
        self.assertEqual(k.auth_mask, (1 << 2) | (1 << 3))

    def test_password_login_shell_window_size_and_exit_status(self):
        c = self.client()
        self.assertFalse(c.user("tester"))
        self.assertFalse(c.password("wrong"))
        self.assertTrue(c.password("secret"))
        self.assertTrue(c.request_pty("vt100", 25, 80))
        c.exec_shell()
        c.window_size(10, 80)
        c.stdin(b"stty size; echo T=$TERM; exit 3\n")
        out, err, status = c.read_until_exit()
        self.assertEqual(status, 3)
        self.assertRegex(out, rb"[\r\n]10 80\r\n")
        self.assertIn(b"T=vt100", out)
        self.assertEqual(err, b"banner\r\n")
        with open(self.pty_file) as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[-2:], ["pty vt100 25 80", "window 10 80"])

    def test_rsa_login_with_blowfish_and_short_challenge(self):
        c = self.client(ssh1_crypto.CIPHER_BLOWFISH)
        self.assertFalse(c.user("tester"))
        self.assertFalse(c.rsa(rsa.generate_private_key(65537, 1024)))  # not authorized
        self.assertTrue(c.rsa(self.user_key))
        self.assertLess(c.last_challenge.bit_length(), 249)
        c.exec_command("echo out; exit 0")
        out, _, status = c.read_until_exit()
        self.assertEqual((out, status), (b"out\r\n", 0))

    def test_connections_are_served_at_the_same_time(self):
        first = self.client()
        second = self.client(ssh1_crypto.CIPHER_BLOWFISH)  # while the first one waits
        for c in (second, first):
            self.assertFalse(c.user("tester"))
            self.assertTrue(c.password("secret"))
        first.exec_command("exit 1")
        second.exec_command("exit 2")
        self.assertEqual(second.read_until_exit()[2], 2)
        self.assertEqual(first.read_until_exit()[2], 1)

    def test_wrong_cookie_and_unoffered_cipher_are_refused(self):
        for cipher, cookie_flip, message in ((5, 0, "unsupported cipher"),
                                             (3, 1, "Spoofing check bytes")):
            c = ssh1_client.Client(self.port)
            self.addCleanup(c.close)
            cookie = bytearray(c.read_public_key().cookie)
            cookie[0] ^= cookie_flip
            c.chan.send(ssh1_packet.CMSG_SESSION_KEY, bytes([cipher]) + bytes(cookie)
                        + ssh1_packet.put_mpint(12345) + ssh1_packet.put_int(3))
            with self.assertRaisesRegex(ssh1_packet.Disconnected, message):
                c.chan.recv()

if __name__ == "__main__":
    unittest.main()
