"""SSH-1 RSA key files: the private "SSH PRIVATE KEY FILE FORMAT 1.1" and the public line.

Current ssh-keygen no longer writes protocol-1 keys, so the test set-up writes them here.

Private key file, integers big-endian, "mpint" = uint16 bit count + magnitude bytes,
"string" = uint32 length + bytes:

    33 bytes  "SSH PRIVATE KEY FILE FORMAT 1.1\\n" followed by one zero byte
    byte      cipher protecting the private part (0 = none; this writer uses 0 only)
    uint32    reserved, 0
    uint32    modulus size in bits
    mpint     n (public modulus)
    mpint     e (public exponent)
    string    comment
    -- private part, encrypted with the cipher keyed by MD5(passphrase); plain for cipher 0 --
    4 bytes   check: two random bytes c1 c2, then c1 c2 again (a wrong passphrase shows here)
    mpint     d (private exponent)
    mpint     u = q^-1 mod p, in the usual p/q naming of RSA libraries (SSH-1 itself calls
              the primes the other way round, which is why q comes before p below)
    mpint     q
    mpint     p
    zeros     padding of the private part to a multiple of 8 bytes (block ciphers need it)

Public key line (the protocol-1 identity.pub and authorized-keys form):

    <bits> <e in decimal> <n in decimal> <comment>
"""

import argparse
import os
import struct
import sys

from cryptography.hazmat.primitives.asymmetric import rsa

import ssh1_packet

MAGIC = b"SSH PRIVATE KEY FILE FORMAT 1.1\n\0"


def encode_private(key, comment):
    """The bytes of a protocol-1 key file, private part unencrypted (cipher 0)."""
    priv = key.private_numbers()
    pub = priv.public_numbers
    head = (MAGIC + bytes([0]) + struct.pack(">I", 0) + struct.pack(">I", pub.n.bit_length())
            + ssh1_packet.put_mpint(pub.n) + ssh1_packet.put_mpint(pub.e)
            + ssh1_packet.put_string(comment))
    check = os.urandom(2)
    private = (check + check + ssh1_packet.put_mpint(priv.d) + ssh1_packet.put_mpint(priv.iqmp)
               + ssh1_packet.put_mpint(priv.q) + ssh1_packet.put_mpint(priv.p))
    private += bytes(-len(private) % 8)
    return head + private


def decode_private(data):
    """(private key, comment) from the bytes of a cipher-0 protocol-1 key file.
    Raises ValueError for anything else."""
    if len(data) < len(MAGIC) or data[:len(MAGIC)] != MAGIC:
        raise ValueError("not an SSH-1 private key file")
    r = ssh1_packet.Reader(data[len(MAGIC):])
    try:
        cipher = r.byte()
        r.int()
        r.int()
        n = r.mpint()
        e = r.mpint()
        comment = r.string().decode("utf-8", "replace")
        if cipher != 0:
            raise ValueError("encrypted key files are not read here (cipher %d)" % cipher)
        check = r.raw(4)
        if check[0:2] != check[2:4]:
            raise ValueError("bad check bytes")
        d = r.mpint()
        iqmp = r.mpint()
        q = r.mpint()
        p = r.mpint()
    except ssh1_packet.ProtocolError as err:
        raise ValueError("truncated key file") from err
    if p * q != n:
        raise ValueError("inconsistent key file")
    numbers = rsa.RSAPrivateNumbers(p, q, d, d % (p - 1), d % (q - 1), iqmp,
                                    rsa.RSAPublicNumbers(e, n))
    return numbers.private_key(), comment


def public_line(public_key, comment):
    nums = public_key.public_numbers()
    return "%d %d %d %s\n" % (nums.n.bit_length(), nums.e, nums.n, comment)


def parse_public_line(line):
    """(e, n, comment) of a public key line, or None for blank and comment lines."""
    line = line.strip()
    if not line or line.startswith("#"):
        return None
    fields = line.split(None, 3)
    if len(fields) < 3:
        raise ValueError("bad SSH-1 public key line")
    bits, e, n = (int(f) for f in fields[:3])
    if n.bit_length() != bits:
        raise ValueError("key size does not match the modulus")
    return e, n, fields[3] if len(fields) > 3 else ""


def _write(path, data, mode):
    fd = os.open(path + ".tmp", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    os.chmod(path + ".tmp", mode)
    os.replace(path + ".tmp", path)


def main(argv):
    ap = argparse.ArgumentParser(description="Write a new protocol-1 RSA key pair.")
    ap.add_argument("private_file")
    ap.add_argument("public_file")
    ap.add_argument("--bits", type=int, default=1024)
    ap.add_argument("--comment", default="quenlor-test")
    args = ap.parse_args(argv)
    key = rsa.generate_private_key(65537, args.bits)
    _write(args.private_file, encode_private(key, args.comment), 0o600)
    _write(args.public_file, public_line(key.public_key(), args.comment).encode(), 0o644)


if __name__ == "__main__":
    main(sys.argv[1:])
