#!/usr/bin/python3
"""An SSH protocol 1.5 server for tests: the stand-in for the old devices that only speak SSH-1.

Written from the protocol description ("The SSH (Secure Shell) Remote Login Protocol", 1.5).
Runs on Debian's /usr/bin/python3 with python3-cryptography.

What it does, per connection (one forked process each):
  1. sends "SSH-1.5-QuenlorTestPeer_1.0", reads the client's identification (major 1 only);
  2. SSH_SMSG_PUBLIC_KEY: cookie, server key (768 bits, made at start-up), host key (1024 bits,
     kept in a PEM file), protocol flags 0, cipher mask (3DES and Blowfish, or Blowfish only
     with --no-3des), authentication mask (RSA and password);
  3. SSH_CMSG_SESSION_KEY: checks the cookie and the cipher, decrypts the session key (larger
     key first), XORs it with the session id, switches both directions to the cipher and sends
     SSH_SMSG_SUCCESS encrypted;
  4. SSH_CMSG_USER, then password (SSH_CMSG_AUTH_PASSWORD) or RSA (SSH_CMSG_AUTH_RSA with a
     challenge under a key of the authorized list) attempts, at most 6;
  5. REQUEST_PTY (recorded), WINDOW_SIZE (recorded), EXEC_SHELL or EXEC_CMD;
  6. the command on a pseudo-terminal: STDIN_DATA in, STDOUT_DATA out, WINDOW_SIZE resizes;
     when it ends, SSH_SMSG_EXITSTATUS and a (bounded) wait for SSH_CMSG_EXIT_CONFIRMATION.

The shell runs as the account named by --shell-user when the server runs as root, otherwise
as the user running the server.  It always gets a pseudo-terminal (80x24 unless REQUEST_PTY
said otherwise), so its standard error arrives as STDOUT_DATA too; --stderr-banner sends one
SSH_SMSG_STDERR_DATA message before the shell's output so that clients meet that message.

The pty record file gets one line per event, in arrival order:
  "pty TERM ROWS COLS" for REQUEST_PTY and "window ROWS COLS" for WINDOW_SIZE.
"""

import argparse
import errno
import fcntl
import hmac
import ipaddress
import logging
import os
import pwd
import re
import select
import signal
import socket
import struct
import sys
import termios

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import rsa

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import rsa1_keyfile  # noqa: E402
import ssh1_crypto  # noqa: E402
import ssh1_packet as P  # noqa: E402

SOFTWARE = "QuenlorTestPeer_1.0"
MAX_AUTH_ATTEMPTS = 6
MAX_CONNECTIONS = 32
PREAUTH_TIMEOUT = 60.0
EXIT_CONFIRMATION_TIMEOUT = 10.0
READ_CHUNK = 8192

log = logging.getLogger("ssh1_peer")


class Config:
    def __init__(self, args):
        self.user = args.user
        self.password = args.password
        self.authorized = args.authorized
        self.shell_user = args.shell_user or args.user
        self.cipher_mask = 1 << ssh1_crypto.CIPHER_BLOWFISH
        if not args.no_3des:
            self.cipher_mask |= 1 << ssh1_crypto.CIPHER_3DES
        self.auth_mask = args.auth_mask
        self.no_auth = args.no_auth
        self.pty_record = args.pty_record
        self.version = args.version
        self.stderr_banner = args.stderr_banner
        self.challenge_leading_zero = args.challenge_leading_zero


def load_or_make_host_key(path, bits):
    if path and os.path.exists(path):
        with open(path, "rb") as f:
            return serialization.load_pem_private_key(f.read(), password=None)
    key = rsa.generate_private_key(65537, bits)
    if path:
        data = key.private_bytes(serialization.Encoding.PEM,
                                 serialization.PrivateFormat.TraditionalOpenSSL,
                                 serialization.NoEncryption())
        fd = os.open(path + ".tmp", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)
    return key


def authorized_key(path, modulus):
    """The public key with this modulus from the authorized list, or None."""
    if not path:
        return None
    try:
        with open(path, encoding="ascii", errors="replace") as f:
            lines = f.readlines()
    except OSError as err:
        log.info("cannot read authorized keys %s: %s", path, err)
        return None
    for line in lines:
        try:
            parsed = rsa1_keyfile.parse_public_line(line)
        except ValueError:
            continue
        if parsed and parsed[1] == modulus:
            return rsa.RSAPublicNumbers(parsed[0], parsed[1]).public_key()
    return None


def record(path, line):
    if not path:
        return
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    try:
        os.write(fd, (line + "\n").encode())
    finally:
        os.close(fd)


class Session:
    """One client connection, from identification to exit status."""

    def __init__(self, sock, config, host_key, server_key):
        self.sock = sock
        self.cfg = config
        self.host_key = host_key
        self.server_key = server_key
        self.chan = P.Channel(sock, log=log.info)
        self.sid = None
        self.user = None
        self.term = "dumb"
        self.winsize = (24, 80, 0, 0)

    def run(self):
        self.sock.settimeout(PREAUTH_TIMEOUT)
        try:
            if not self.identify():
                return
            self.key_exchange()
            if not self.authenticate():
                return
            self.preparatory_phase()
        except P.ProtocolError as err:
            log.info("protocol error: %s", err)
            self.chan.disconnect(str(err))
        except P.Disconnected as err:
            log.info("%s", err)
        except OSError as err:
            log.info("socket error: %s", err)

    # ---- identification and key exchange ----

    def identify(self):
        self.sock.sendall(("SSH-%s-%s\n" % (self.cfg.version, SOFTWARE)).encode())
        ident = P.read_identification(self.sock)
        log.info("client identification: %r", ident)
        m = re.match(r"SSH-(\d+)\.(\d+)-", ident)
        if not m or m.group(1) != "1":
            self.sock.sendall(b"Protocol major versions differ.\n")
            log.info("refused: not a protocol-1 client")
            return False
        return True

    def key_exchange(self):
        cookie = os.urandom(8)
        srv = self.server_key.public_key().public_numbers()
        hst = self.host_key.public_key().public_numbers()
        self.chan.send(P.SMSG_PUBLIC_KEY,
                       cookie
                       + P.put_int(srv.n.bit_length()) + P.put_mpint(srv.e) + P.put_mpint(srv.n)
                       + P.put_int(hst.n.bit_length()) + P.put_mpint(hst.e) + P.put_mpint(hst.n)
                       + P.put_int(0) + P.put_int(self.cfg.cipher_mask)
                       + P.put_int(self.cfg.auth_mask))
        msg_type, payload = self.chan.recv()
        if msg_type != P.CMSG_SESSION_KEY:
            raise P.ProtocolError("expected SSH_CMSG_SESSION_KEY, got %d" % msg_type)
        r = P.Reader(payload)
        cipher = r.byte()
        their_cookie = r.raw(8)
        number = r.mpint()
        flags = r.int()
        r.end()
        if their_cookie != cookie:
            raise P.ProtocolError("IP Spoofing check bytes do not match.")
        if cipher >= 32 or not self.cfg.cipher_mask & (1 << cipher):
            raise P.ProtocolError("Warning: client selects unsupported cipher.")
        self.sid = ssh1_crypto.session_id(hst.n, srv.n, cookie)
        try:
            key = ssh1_crypto.unwrap_session_key(number, self.sid, self.server_key, self.host_key)
        except ValueError as err:
            raise P.ProtocolError("bad session key: %s" % err) from err
        self.chan.framer.set_cipher(cipher, key)
        log.info("cipher %s, client protocol flags %d", ssh1_crypto.CIPHER_NAMES[cipher], flags)
        self.chan.send(P.SMSG_SUCCESS)

    # ---- authentication ----

    def authenticate(self):
        msg_type, payload = self.chan.recv()
        if msg_type != P.CMSG_USER:
            raise P.ProtocolError("expected SSH_CMSG_USER, got %d" % msg_type)
        r = P.Reader(payload)
        self.user = r.string().decode("utf-8", "replace")
        r.end()
        log.info("user %r", self.user)
        if self.cfg.no_auth:
            log.info("no authentication required")
            self.chan.send(P.SMSG_SUCCESS)
            return True
        self.chan.send(P.SMSG_FAILURE)
        for _ in range(MAX_AUTH_ATTEMPTS):
            msg_type, payload = self.chan.recv()
            accepted = False
            if msg_type == P.CMSG_AUTH_PASSWORD and self._offers(ssh1_crypto.AUTH_PASSWORD):
                accepted = self.try_password(payload)
            elif msg_type == P.CMSG_AUTH_RSA and self._offers(ssh1_crypto.AUTH_RSA):
                accepted = self.try_rsa(payload)
            else:
                log.info("authentication message %d refused", msg_type)
            if accepted:
                self.chan.send(P.SMSG_SUCCESS)
                return True
            self.chan.send(P.SMSG_FAILURE)
        self.chan.disconnect("Too many authentication failures for %s" % self.user)
        log.info("too many authentication failures")
        return False

    def _offers(self, method):
        return bool(self.cfg.auth_mask & (1 << method))

    def try_password(self, payload):
        r = P.Reader(payload)
        password = r.string()
        r.end()
        ok = (self.user == self.cfg.user
              and hmac.compare_digest(password, self.cfg.password.encode()))
        log.info("password authentication %s", "accepted" if ok else "refused")
        return ok

    def try_rsa(self, payload):
        r = P.Reader(payload)
        modulus = r.mpint()
        r.end()
        key = authorized_key(self.cfg.authorized, modulus) if self.user == self.cfg.user else None
        if key is None:
            log.info("RSA key (%d bits) not authorized", modulus.bit_length())
            return False
        challenge = int.from_bytes(os.urandom(32), "big")
        if self.cfg.challenge_leading_zero:
            challenge &= (1 << 248) - 1
        self.chan.send(P.SMSG_AUTH_RSA_CHALLENGE,
                       P.put_mpint(ssh1_crypto.rsa_encrypt_int(key, challenge)))
        msg_type, payload = self.chan.recv()
        if msg_type != P.CMSG_AUTH_RSA_RESPONSE:
            raise P.ProtocolError("expected SSH_CMSG_AUTH_RSA_RESPONSE, got %d" % msg_type)
        r = P.Reader(payload)
        response = r.raw(16)
        r.end()
        ok = hmac.compare_digest(response, ssh1_crypto.rsa_challenge_response(challenge, self.sid))
        log.info("RSA authentication %s", "accepted" if ok else "refused (wrong response)")
        return ok

    # ---- preparatory phase ----

    def preparatory_phase(self):
        while True:
            msg_type, payload = self.chan.recv()
            r = P.Reader(payload)
            if msg_type == P.CMSG_REQUEST_PTY:
                # Only the characters of terminal names: the name goes into the environment
                # and into the one-line records.
                self.term = re.sub(r"[^A-Za-z0-9._+-]", "?", r.string().decode("latin-1"))
                rows, cols, xpix, ypix = r.int(), r.int(), r.int(), r.int()
                # The rest are terminal modes (opcode, argument ... 0); not used here.
                self.winsize = (rows, cols, xpix, ypix)
                record(self.cfg.pty_record, "pty %s %d %d" % (self.term, rows, cols))
                log.info("pty %s %dx%d", self.term, cols, rows)
                self.chan.send(P.SMSG_SUCCESS)
            elif msg_type == P.CMSG_WINDOW_SIZE:
                self.window_size(r)
            elif msg_type == P.CMSG_EXEC_SHELL:
                r.end()
                self.interactive(None)
                return
            elif msg_type == P.CMSG_EXEC_CMD:
                command = r.string().decode("utf-8", "replace")
                r.end()
                self.interactive(command)
                return
            else:
                log.info("preparatory message %d refused", msg_type)
                self.chan.send(P.SMSG_FAILURE)

    def window_size(self, r, master=None):
        rows, cols, xpix, ypix = r.int(), r.int(), r.int(), r.int()
        r.end()
        self.winsize = (rows, cols, xpix, ypix)
        record(self.cfg.pty_record, "window %d %d" % (rows, cols))
        log.info("window %dx%d", cols, rows)
        if master is not None:
            set_winsize(master, self.winsize)

    # ---- interactive session ----

    def interactive(self, command):
        pid, master = spawn_on_pty(self.cfg.shell_user, self.term, self.winsize, command)
        log.info("started %s (pid %d)", "shell" if command is None else repr(command), pid)
        if command is None and self.cfg.stderr_banner:
            self.chan.send(P.SMSG_STDERR_DATA, P.put_string(self.cfg.stderr_banner + "\r\n"))
        try:
            status = self.pump(pid, master)
        finally:
            os.close(master)
        log.info("exit status %d", status)
        self.chan.send(P.SMSG_EXITSTATUS, P.put_int(status))
        self.sock.settimeout(EXIT_CONFIRMATION_TIMEOUT)
        while True:
            msg_type, _ = self.chan.recv()
            if msg_type == P.CMSG_EXIT_CONFIRMATION:
                log.info("exit confirmed")
                return
            log.info("message %d after exit status ignored", msg_type)

    def pump(self, pid, master):
        """Moves data until the child has ended and its output is drained; its exit code."""
        os.set_blocking(master, False)
        self.sock.settimeout(None)
        to_child = bytearray()
        status = None
        while True:
            packet = self.chan.pending()
            if packet is not None:
                self.interactive_message(packet, master, to_child)
                continue
            wanted_write = [master] if to_child else []
            readable, writable, _ = select.select([self.sock, master], wanted_write, [], 0.5)
            if self.sock in readable and not self.chan.feed_from_socket():
                log.info("client closed the connection")
                if status is None:  # not reaped yet, so the PID is still the child's
                    os.kill(pid, signal.SIGHUP)
                    os.waitpid(pid, 0)
                raise P.Disconnected("connection closed during the session")
            if master in writable:
                try:
                    del to_child[:os.write(master, to_child)]
                except BlockingIOError:
                    pass
            if master in readable:
                data = read_master(master)
                if data is None:  # every slave descriptor is closed
                    break
                if data:
                    self.chan.send(P.SMSG_STDOUT_DATA, P.put_string(data))
            if status is None:
                done, raw = os.waitpid(pid, os.WNOHANG)
                if done:
                    status = raw
            if status is not None and master not in readable:
                break  # the child is gone and nothing more is waiting
        if status is None:
            _, status = os.waitpid(pid, 0)
        code = os.waitstatus_to_exitcode(status)
        return code if code >= 0 else 128 - code

    def interactive_message(self, packet, master, to_child):
        msg_type, payload = packet
        r = P.Reader(payload)
        if msg_type == P.CMSG_STDIN_DATA:
            to_child += r.string()
        elif msg_type == P.CMSG_WINDOW_SIZE:
            self.window_size(r, master)
        elif msg_type == P.CMSG_EOF:
            log.info("client sent EOF")
        else:
            log.info("interactive message %d ignored", msg_type)


def read_master(master):
    """Bytes from the pty master; b"" when nothing is ready, None once the slave side is gone."""
    try:
        data = os.read(master, READ_CHUNK)
    except BlockingIOError:
        return b""
    except OSError as err:
        if err.errno == errno.EIO:
            return None
        raise
    return data if data else None


def set_winsize(fd, winsize):
    rows, cols, xpix, ypix = (min(max(v, 0), 0xFFFF) for v in winsize)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, xpix, ypix))


def spawn_on_pty(shell_user, term, winsize, command):
    """(pid, master fd) of the command started on a new pseudo-terminal.  The size is set
    before the fork so that no later WINDOW_SIZE can be overtaken by the child."""
    master, slave = os.openpty()
    set_winsize(slave, winsize if winsize[0] and winsize[1] else (24, 80, 0, 0))
    pid = os.fork()
    if pid == 0:
        try:
            os.close(master)
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
            for fd in (0, 1, 2):
                os.dup2(slave, fd)
            if slave > 2:
                os.close(slave)
        except BaseException:  # never return into the server's code
            os._exit(127)
        exec_child(shell_user, term, command)
    os.close(slave)
    return pid, master


def exec_child(shell_user, term, command):
    """In the forked child on the pty slave: become the test account and run the command."""
    try:
        account = None
        if os.getuid() == 0:
            try:
                account = pwd.getpwnam(shell_user)
            except KeyError:
                account = None
        if account is not None:
            os.initgroups(account.pw_name, account.pw_gid)
            os.setgid(account.pw_gid)
            os.setuid(account.pw_uid)
        else:
            account = pwd.getpwuid(os.getuid())
        shell = account.pw_shell or "/bin/sh"
        env = {"HOME": account.pw_dir, "USER": account.pw_name, "LOGNAME": account.pw_name,
               "SHELL": shell, "TERM": term or "dumb",
               "PATH": "/usr/local/bin:/usr/bin:/bin"}
        try:
            os.chdir(account.pw_dir)
        except OSError:
            os.chdir("/")
        if command is None:
            os.execve(shell, ["-" + os.path.basename(shell)], env)
        os.execve(shell, [shell, "-c", command], env)
    except BaseException as err:  # never return into the server's code
        os.write(2, ("ssh1_peer: cannot start the shell: %s\r\n" % err).encode())
    os._exit(127)


# ---- listener ----

def serve(args, config):
    host_key = load_or_make_host_key(args.host_key, args.host_bits)
    server_key = rsa.generate_private_key(65537, args.server_bits)
    host_bits = host_key.key_size
    if abs(host_bits - args.server_bits) < ssh1_crypto.KEY_BITS_RESERVED:
        log.info("warning: host key %d and server key %d bits are closer than %d bits",
                 host_bits, args.server_bits, ssh1_crypto.KEY_BITS_RESERVED)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.bind, args.port))
    listener.listen(16)
    listener.settimeout(0.25)  # how soon a stop request is seen
    log.info("listening on %s:%d (host key %d bits, server key %d bits, ciphers 0x%x, auth 0x%x)",
             args.bind, args.port, host_bits, args.server_bits, config.cipher_mask,
             config.auth_mask)

    children = set()
    stopping = []

    def on_term(signum, frame):
        del frame
        stopping.append(signum)

    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGINT, on_term)

    while not stopping:
        reap(children)
        try:
            sock, addr = listener.accept()
        except (socket.timeout, InterruptedError):
            continue
        if len(children) >= MAX_CONNECTIONS:
            log.info("too many connections; refusing %s:%d", *addr)
            sock.close()
            continue
        pid = os.fork()
        if pid == 0:
            listener.close()
            signal.signal(signal.SIGTERM, signal.SIG_DFL)
            signal.signal(signal.SIGINT, signal.SIG_DFL)
            log.info("connection from %s:%d", *addr)
            try:
                Session(sock, config, host_key, server_key).run()
            except Exception:  # the log is the only place a peer failure can be seen
                log.exception("session failed")
            finally:
                sock.close()
            log.info("connection closed")
            logging.shutdown()
            os._exit(0)
        children.add(pid)
        sock.close()

    log.info("stopping (signal %d); ending %d connection(s)", stopping[0], len(children))
    listener.close()
    for pid in children:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    for pid in children:
        try:
            os.waitpid(pid, 0)
        except ChildProcessError:
            pass


def reap(children):
    for pid in list(children):
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            done = pid
        if done:
            children.discard(pid)


def loopback(text):
    if text == "localhost":
        return "127.0.0.1"
    if not ipaddress.ip_address(text).is_loopback:
        raise argparse.ArgumentTypeError("the test peer binds loopback addresses only")
    return text


def parse_args(argv):
    ap = argparse.ArgumentParser(description="SSH-1.5 test server")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--bind", type=loopback, default="127.0.0.1")
    ap.add_argument("--user", required=True, help="the account that may log in")
    ap.add_argument("--password", required=True, help="its password")
    ap.add_argument("--authorized", help="file of SSH-1 public key lines (bits e n comment)")
    ap.add_argument("--shell-user", help="account the shell runs as (default: --user)")
    ap.add_argument("--host-key", help="PEM file of the RSA host key; made when missing")
    ap.add_argument("--host-bits", type=int, default=1024)
    ap.add_argument("--server-bits", type=int, default=768)
    ap.add_argument("--no-3des", action="store_true", help="offer Blowfish only")
    ap.add_argument("--auth-mask", type=lambda s: int(s, 0),
                    default=(1 << ssh1_crypto.AUTH_RSA) | (1 << ssh1_crypto.AUTH_PASSWORD),
                    help="supported authentications (bit 2 RSA, bit 3 password)")
    ap.add_argument("--no-auth", action="store_true", help="answer SSH_CMSG_USER with SUCCESS")
    ap.add_argument("--version", default="1.5", help="protocol version announced")
    ap.add_argument("--pty-record", help="file that records REQUEST_PTY and WINDOW_SIZE")
    ap.add_argument("--stderr-banner", help="text sent as SSH_SMSG_STDERR_DATA at shell start")
    ap.add_argument("--challenge-leading-zero", action="store_true",
                    help="RSA challenges with a zero top byte (shorter than 32 bytes)")
    ap.add_argument("--log", help="log file (default: standard error)")
    return ap.parse_args(argv)


def main(argv):
    args = parse_args(argv)
    handler = logging.FileHandler(args.log) if args.log else logging.StreamHandler()
    handler.setFormatter(logging.Formatter("%(asctime)s [%(process)d] %(message)s"))
    log.addHandler(handler)
    log.setLevel(logging.INFO)
    serve(args, Config(args))


if __name__ == "__main__":
    main(sys.argv[1:])
