#!/usr/bin/python3
"""Writes the seed inputs of kex_dh_reply_fuzzer and kex_ecdh_reply_fuzzer
(layout: see fuzz/kex_reply_common.h): well-formed replies with real host key
blobs, server values in range and signatures of the right shape, so that
fuzzing starts deep in the checks. The signatures are over other data, so no
seed gets past the verification. Needs python3-cryptography (Debian's)."""

import base64
import os
import secrets
import struct

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import dsa, ec, ed25519, padding, rsa, x25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

HERE = os.path.dirname(os.path.abspath(__file__))

# This side's default lists, in order (the fuzzers index them).
DH_METHODS = ["diffie-hellman-group-exchange-sha256", "diffie-hellman-group16-sha512",
              "diffie-hellman-group18-sha512", "diffie-hellman-group14-sha256",
              "diffie-hellman-group14-sha1", "diffie-hellman-group-exchange-sha1",
              "diffie-hellman-group1-sha1"]
CURVE_METHODS = ["curve25519-sha256", "curve25519-sha256@libssh.org", "ecdh-sha2-nistp256",
                 "ecdh-sha2-nistp384", "ecdh-sha2-nistp521"]
HOST_KEYS = ["ssh-ed25519", "ecdsa-sha2-nistp256", "ecdsa-sha2-nistp384", "ecdsa-sha2-nistp521",
             "rsa-sha2-512", "rsa-sha2-256", "ssh-rsa", "ssh-dss"]

# RFC 3526 group 14.
GROUP14 = int(
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A08798E3404DD"
    "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
    "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE45B3DC2007CB8A163BF0598DA48361C55D39A69163FA8FD24CF5F"
    "83655D23DCA3AD961C62F356208552BB9ED529077096966D670C354E4ABC9804F1746C08CA18217C32905E462E36CE3B"
    "E39E772C180E86039B2783A2EC07A28FB5C55DF06F4C52C9DE2BCBF6955817183995497CEA956AE515D2261898FA0510"
    "15728E5A8AACAA68FFFFFFFFFFFFFFFF", 16)


def string(data):
    return struct.pack(">I", len(data)) + data


def mpint(n):
    data = n.to_bytes((n.bit_length() + 8) // 8, "big") if n else b""
    return string(data)


def message(number, body):
    data = bytes([number]) + body
    return struct.pack(">H", len(data)) + data


def host_key(name):
    """The public key blob and a signature blob of algorithm `name`."""
    data = b"not the exchange hash"
    if name == "ssh-ed25519":
        key = ed25519.Ed25519PrivateKey.generate()
        signature = string(b"ssh-ed25519") + string(key.sign(data))
    elif name.startswith("ecdsa-sha2-"):
        curve, digest = {"nistp256": (ec.SECP256R1(), hashes.SHA256()),
                         "nistp384": (ec.SECP384R1(), hashes.SHA384()),
                         "nistp521": (ec.SECP521R1(), hashes.SHA512())}[name[11:]]
        key = ec.generate_private_key(curve)
        r, s = decode_dss_signature(key.sign(data, ec.ECDSA(digest)))
        signature = string(name.encode()) + string(mpint(r) + mpint(s))
    elif name == "ssh-dss":
        key = dsa.generate_private_key(1024)
        r, s = decode_dss_signature(key.sign(data, hashes.SHA1()))
        signature = string(b"ssh-dss") + string(r.to_bytes(20, "big") + s.to_bytes(20, "big"))
    else:
        key = rsa.generate_private_key(65537, 2048)
        digest = {"rsa-sha2-512": hashes.SHA512(), "rsa-sha2-256": hashes.SHA256(),
                  "ssh-rsa": hashes.SHA1()}[name]
        signature = string(name.encode()) + string(key.sign(data, padding.PKCS1v15(), digest))
    line = key.public_key().public_bytes(serialization.Encoding.OpenSSH,
                                         serialization.PublicFormat.OpenSSH)
    return base64.b64decode(line.split()[1]), signature


def dh_seed(method, key_name):
    blob, signature = host_key(key_name)
    # In range for every group of 1024 bits and more.
    f = secrets.randbits(1000) | (1 << 999)
    p = GROUP14
    head = bytes([DH_METHODS.index(method), HOST_KEYS.index(key_name)])
    if "exchange" in method:
        return (head + message(31, mpint(p) + mpint(2)) +
                message(33, string(blob) + mpint(f) + string(signature)))
    return head + message(31, string(blob) + mpint(f) + string(signature))


def curve_seed(method, key_name):
    blob, signature = host_key(key_name)
    if method.startswith("curve25519"):
        q_s = x25519.X25519PrivateKey.generate().public_key().public_bytes(
            serialization.Encoding.Raw, serialization.PublicFormat.Raw)
    else:
        curve = {"nistp256": ec.SECP256R1(), "nistp384": ec.SECP384R1(),
                 "nistp521": ec.SECP521R1()}[method[10:]]
        q_s = ec.generate_private_key(curve).public_key().public_bytes(
            serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
    head = bytes([CURVE_METHODS.index(method), HOST_KEYS.index(key_name)])
    return head + message(31, string(blob) + string(q_s) + string(signature))


def write(folder, name, data):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    with open(os.path.join(HERE, folder, name), "wb") as f:
        f.write(data)


if __name__ == "__main__":
    write("kex_dh_reply", "group14_sha256_ed25519",
          dh_seed("diffie-hellman-group14-sha256", "ssh-ed25519"))
    write("kex_dh_reply", "group1_ssh_rsa",
          dh_seed("diffie-hellman-group1-sha1", "ssh-rsa"))
    write("kex_dh_reply", "group14_sha1_dss", dh_seed("diffie-hellman-group14-sha1", "ssh-dss"))
    write("kex_dh_reply", "gex_sha256_rsa512",
          dh_seed("diffie-hellman-group-exchange-sha256", "rsa-sha2-512"))
    write("kex_dh_reply", "gex_sha1_ecdsa256",
          dh_seed("diffie-hellman-group-exchange-sha1", "ecdsa-sha2-nistp256"))
    write("kex_ecdh_reply", "x25519_ed25519", curve_seed("curve25519-sha256", "ssh-ed25519"))
    write("kex_ecdh_reply", "x25519_libssh_rsa256",
          curve_seed("curve25519-sha256@libssh.org", "rsa-sha2-256"))
    write("kex_ecdh_reply", "nistp256_ecdsa256",
          curve_seed("ecdh-sha2-nistp256", "ecdsa-sha2-nistp256"))
    write("kex_ecdh_reply", "nistp384_ecdsa384",
          curve_seed("ecdh-sha2-nistp384", "ecdsa-sha2-nistp384"))
    write("kex_ecdh_reply", "nistp521_ecdsa521",
          curve_seed("ecdh-sha2-nistp521", "ecdsa-sha2-nistp521"))
