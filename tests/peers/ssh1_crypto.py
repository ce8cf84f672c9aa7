"""Arithmetic of SSH protocol 1.5: check bytes, session id, session key, ciphers, RSA challenge.

Written from the protocol description ("The SSH (Secure Shell) Remote Login Protocol", 1.5):

- Check bytes: CRC-32 with the reflected polynomial 0xEDB88320, initial value 0 and no final
  inversion (unlike zlib's CRC-32, which starts from and ends with 0xFFFFFFFF).
- Session id: MD5 over the host key modulus and the server key modulus (each as minimal
  unsigned big-endian bytes), then the 8-byte anti-spoofing cookie.
- Session key: 32 random bytes; the client XORs the first 16 with the session id, reads the
  32 bytes as a big-endian number and encrypts it with PKCS#1 v1.5 under the key with the
  smaller modulus first, then under the other one.  Both directions use the plain 32 bytes.
- 3DES ("inner CBC"): three separate DES-CBC streams, each with its own chaining block that
  starts at zero and runs on across packets: encrypt is E(k1) -> D(k2) -> E(k3), decrypt the
  reverse D(k3) -> E(k2) -> D(k1).  Keys are session key bytes 0-7, 8-15, 16-23.
- Blowfish: Blowfish-CBC keyed with all 32 bytes, zero IV, on data whose 4-byte words are
  byte-reversed before and after (the original implementation ran on little-endian words).
- RSA challenge response: MD5 over the decrypted 256-bit challenge as 32 big-endian bytes
  (leading zeros kept) followed by the session id.

Only Debian's python3-cryptography and the standard library are used.
"""

import hashlib
import warnings

from cryptography.hazmat.primitives.asymmetric import padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

CIPHER_NONE = 0
CIPHER_3DES = 3
CIPHER_BLOWFISH = 6
CIPHER_NAMES = {CIPHER_NONE: "none", CIPHER_3DES: "3des", CIPHER_BLOWFISH: "blowfish"}

AUTH_RSA = 2
AUTH_PASSWORD = 3

SESSION_KEY_BYTES = 32
KEY_BITS_RESERVED = 128


def _crc_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    return table


_CRC_TABLE = _crc_table()


def crc32(data, crc=0):
    """SSH-1 check bytes: CRC-32, initial value 0, no final inversion."""
    for byte in data:
        crc = _CRC_TABLE[(crc ^ byte) & 0xFF] ^ (crc >> 8)
    return crc


def int_to_bytes(value):
    """Minimal unsigned big-endian bytes (empty for 0)."""
    return value.to_bytes((value.bit_length() + 7) // 8, "big")


def session_id(host_n, server_n, cookie):
    if len(cookie) != 8:
        raise ValueError("cookie must be 8 bytes")
    return hashlib.md5(int_to_bytes(host_n) + int_to_bytes(server_n) + cookie).digest()


# ---- RSA with PKCS#1 v1.5 on numbers ----

def _modulus_bytes(key):
    return (key.key_size + 7) // 8


def rsa_encrypt_int(public_key, value):
    """PKCS#1 v1.5 encryption of the minimal bytes of `value`; the result as a number."""
    return int.from_bytes(public_key.encrypt(int_to_bytes(value), padding.PKCS1v15()), "big")


def rsa_decrypt_int(private_key, value):
    """PKCS#1 v1.5 decryption of the number `value`; the plaintext bytes read as a number.
    Raises ValueError on bad padding or a number not below the modulus."""
    size = _modulus_bytes(private_key)
    if value < 0 or value >= private_key.public_key().public_numbers().n:
        raise ValueError("RSA input out of range")
    plain = private_key.decrypt(value.to_bytes(size, "big"), padding.PKCS1v15())
    return int.from_bytes(plain, "big")


def wrap_session_key(session_key, sid, server_public, host_public):
    """Client side: the number sent in SSH_CMSG_SESSION_KEY."""
    if len(session_key) != SESSION_KEY_BYTES:
        raise ValueError("session key must be 32 bytes")
    mixed = bytes(k ^ s for k, s in zip(session_key[:16], sid)) + session_key[16:]
    inner, outer = server_public, host_public
    if inner.public_numbers().n > outer.public_numbers().n:
        inner, outer = outer, inner
    if outer.key_size < inner.key_size + KEY_BITS_RESERVED:
        raise ValueError("RSA keys too close in size")
    return rsa_encrypt_int(outer, rsa_encrypt_int(inner, int.from_bytes(mixed, "big")))


def unwrap_session_key(value, sid, server_private, host_private):
    """Server side: the 32-byte session key from the number of SSH_CMSG_SESSION_KEY.
    Raises ValueError when the number does not decrypt to a 256-bit value."""
    inner, outer = server_private, host_private
    if inner.public_key().public_numbers().n > outer.public_key().public_numbers().n:
        inner, outer = outer, inner
    number = rsa_decrypt_int(inner, rsa_decrypt_int(outer, value))
    if number.bit_length() > 8 * SESSION_KEY_BYTES:
        raise ValueError("session key longer than 32 bytes")
    mixed = number.to_bytes(SESSION_KEY_BYTES, "big")
    return bytes(k ^ s for k, s in zip(mixed[:16], sid)) + mixed[16:]


def rsa_challenge_response(challenge, sid):
    """MD5 over the 256-bit challenge as 32 big-endian bytes, then the session id."""
    if challenge < 0 or challenge.bit_length() > 256:
        raise ValueError("challenge must be a 256-bit number")
    return hashlib.md5(challenge.to_bytes(32, "big") + sid).digest()


# ---- ciphers; each object is one direction and keeps its chaining state ----

class NoCipher:
    block = 8

    def process(self, data):
        return bytes(data)


def _des_cbc(key8, encrypt):
    # TripleDES with one 8-byte key is single DES (k1 = k2 = k3).
    c = Cipher(algorithms.TripleDES(key8), modes.CBC(bytes(8)))
    return c.encryptor() if encrypt else c.decryptor()


class TripleDes:
    """SSH-1 3DES, one direction."""
    block = 8

    def __init__(self, key, encrypt):
        if len(key) < 16:
            raise ValueError("3DES needs at least 16 key bytes")
        k1, k2 = key[0:8], key[8:16]
        k3 = key[16:24] if len(key) > 16 else k1
        if encrypt:
            self._passes = [_des_cbc(k1, True), _des_cbc(k2, False), _des_cbc(k3, True)]
        else:
            self._passes = [_des_cbc(k3, False), _des_cbc(k2, True), _des_cbc(k1, False)]

    def process(self, data):
        if len(data) % 8:
            raise ValueError("3DES data must be a multiple of 8 bytes")
        for stage in self._passes:
            data = stage.update(data)
        return data


def swap_words(data):
    """Reverses the bytes of every 4-byte word."""
    out = bytearray(len(data))
    for i in range(0, len(data) - len(data) % 4, 4):
        out[i:i + 4] = data[i:i + 4][::-1]
    return bytes(out)


class Blowfish:
    """SSH-1 Blowfish, one direction."""
    block = 8

    def __init__(self, key, encrypt):
        with warnings.catch_warnings():  # the library only warns that Blowfish is old
            warnings.simplefilter("ignore")
            c = Cipher(algorithms.Blowfish(bytes(key)), modes.CBC(bytes(8)))
        self._stream = c.encryptor() if encrypt else c.decryptor()

    def process(self, data):
        if len(data) % 8:
            raise ValueError("Blowfish data must be a multiple of 8 bytes")
        return swap_words(self._stream.update(swap_words(data)))


def make_cipher(number, key, encrypt):
    if number == CIPHER_NONE:
        return NoCipher()
    if number == CIPHER_3DES:
        return TripleDes(key, encrypt)
    if number == CIPHER_BLOWFISH:
        return Blowfish(key, encrypt)
    raise ValueError("unsupported SSH-1 cipher %d" % number)
