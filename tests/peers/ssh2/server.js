'use strict';
// SSH-2 test server on the npm package ssh2, for the algorithms Debian's openssh-server no
// longer has: blowfish-cbc, cast128-cbc and arcfour (and 3des-cbc), with
// diffie-hellman-group1-sha1, an ssh-dss host key, hmac-sha1 and hmac-md5.
// Run with `node --openssl-legacy-provider server.js` (start-ssh2js.sh does), settings from
// the QUENLOR_* variables of ../env.sh.
//
// A client's proposal decides which of the offered algorithms is used, so each listener
// offers a different set: one offers everything, the others one cipher (or one MAC) only.
// Logins: the test account by password or by its DSA key.  The shell runs on a
// pseudo-terminal made by util-linux `script -qefc`, so its standard error stays inside the
// terminal stream (no extended data reaches the client).

const fs = require('fs');
const crypto = require('crypto');
const { spawn } = require('child_process');
const { Server, utils } = require('ssh2');

const env = process.env;
const ALL_CIPHERS = ['blowfish-cbc', 'cast128-cbc', 'arcfour', '3des-cbc'];
const ALL_MACS = ['hmac-sha1', 'hmac-md5'];

const listeners = [
  { port: env.QUENLOR_SSH2JS_PORT, cipher: ALL_CIPHERS, hmac: ALL_MACS },
  { port: env.QUENLOR_SSH2JS_BLOWFISH_PORT, cipher: ['blowfish-cbc'], hmac: ALL_MACS },
  { port: env.QUENLOR_SSH2JS_CAST128_PORT, cipher: ['cast128-cbc'], hmac: ALL_MACS },
  { port: env.QUENLOR_SSH2JS_ARCFOUR_PORT, cipher: ['arcfour'], hmac: ALL_MACS },
  { port: env.QUENLOR_SSH2JS_HMACMD5_PORT, cipher: ALL_CIPHERS, hmac: ['hmac-md5'] },
  // Starts a new key exchange after every 256 KB of shell output.
  { port: env.QUENLOR_SSH2JS_REKEY_PORT, cipher: ['3des-cbc'], hmac: ['hmac-sha1'],
    rekeyEvery: 256 * 1024 },
];

function log(...args) {
  console.log(new Date().toISOString(), ...args);
}

function required(name) {
  if (!env[name]) throw new Error(`${name} is not set (source ../env.sh)`);
  return env[name];
}

const user = required('QUENLOR_TEST_USER');
const password = Buffer.from(required('QUENLOR_TEST_PASSWORD'));
const hostKey = fs.readFileSync(required('QUENLOR_HOST_DSA_KEY'));
const allowedKey = utils.parseKey(fs.readFileSync(required('QUENLOR_USER_DSA_PUB')));
if (allowedKey instanceof Error) throw allowedKey;

function sameBytes(a, b) {
  const x = Buffer.from(a);
  const y = Buffer.from(b);
  return x.length === y.length && crypto.timingSafeEqual(x, y);
}

// uid, gid, home and shell of the test account; the shell runs as that account when this
// server runs as root, else as the user running the server.
function account(name) {
  for (const line of fs.readFileSync('/etc/passwd', 'utf8').split('\n')) {
    const f = line.split(':');
    if (f[0] === name && f.length >= 7) {
      return { uid: Number(f[2]), gid: Number(f[3]), home: f[5], shell: f[6] || '/bin/sh' };
    }
  }
  throw new Error(`no account ${name}`);
}

function shellQuote(text) {
  return `'${String(text).replace(/'/g, `'\\''`)}'`;
}

function startShell(stream, pty, tag, client, rekeyEvery) {
  const acct = account(user);
  const asRoot = process.getuid() === 0;
  // A client without a terminal of its own may ask for 0x0; give the shell a usable size.
  const rows = (pty && pty.rows) || 24;
  const cols = (pty && pty.cols) || 80;
  const shellEnv = {
    HOME: acct.home, USER: user, LOGNAME: user, SHELL: acct.shell,
    PATH: '/usr/local/bin:/usr/bin:/bin', TERM: (pty && pty.term) || 'dumb',
  };
  // `script` gives the shell a pseudo-terminal; its size is set before the login shell starts.
  const inner = `stty rows ${Number(rows) | 0} cols ${Number(cols) | 0} 2>/dev/null; `
    + `exec -l ${shellQuote(acct.shell)}`;
  // -e: the exit status of `script` is the shell's, which becomes the channel's exit-status.
  const child = spawn('script', ['-qefc', inner, '/dev/null'], {
    cwd: acct.home,
    env: shellEnv,
    uid: asRoot ? acct.uid : undefined,
    gid: asRoot ? acct.gid : undefined,
    stdio: ['pipe', 'pipe', 'pipe'],
  });
  log(tag, `shell started (pid ${child.pid}), ${cols}x${rows} ${shellEnv.TERM}`);
  stream.pipe(child.stdin);
  child.stdout.pipe(stream, { end: false });
  if (rekeyEvery) {
    let sent = 0;
    let rekeys = 0;
    child.stdout.on('data', (data) => {
      sent += data.length;
      if (sent < rekeyEvery) return;
      sent = 0;
      client.rekey(() => log(tag, `rekey ${++rekeys} done`));
    });
  }
  // Messages of `script` itself go to the log, never to the client as extended data.
  child.stderr.on('data', (data) => log(tag, 'script:', data.toString().trim()));
  child.on('error', (err) => {
    log(tag, 'cannot start the shell:', err.message);
    stream.exit(127);
    stream.end();
  });
  child.on('close', (code, signal) => {
    const status = code === null ? 128 + (require('os').constants.signals[signal] || 0) : code;
    log(tag, `shell ended, exit status ${status}`);
    stream.exit(status);
    stream.end();
  });
  stream.on('close', () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGHUP');
  });
}

let connections = 0;

function onClient(client, info, where, rekeyEvery) {
  const tag = `[${where} #${++connections} ${info.ip}:${info.port}]`;
  log(tag, 'connection', info.header ? info.header.identRaw : '');
  client.on('handshake', (neg) => {
    log(tag, 'negotiated', JSON.stringify(neg));
  });
  client.on('authentication', (ctx) => {
    if (ctx.username !== user) {
      log(tag, `${ctx.method} for unknown user ${ctx.username}`);
      return ctx.reject();
    }
    switch (ctx.method) {
      case 'password': {
        const ok = sameBytes(ctx.password, password);
        log(tag, `password ${ok ? 'accepted' : 'refused'}`);
        return ok ? ctx.accept() : ctx.reject();
      }
      case 'publickey': {
        if (ctx.key.algo !== allowedKey.type || !sameBytes(ctx.key.data, allowedKey.getPublicSSH())) {
          log(tag, `public key ${ctx.key.algo} not authorized`);
          return ctx.reject();
        }
        if (!ctx.signature) return ctx.accept(); // the key would do; a signed request follows
        const ok = allowedKey.verify(ctx.blob, ctx.signature, ctx.hashAlgo) === true;
        log(tag, `public key signature ${ok ? 'accepted' : 'refused'}`);
        return ok ? ctx.accept() : ctx.reject();
      }
      default:
        return ctx.reject(['password', 'publickey']);
    }
  });
  client.on('ready', () => {
    log(tag, 'authenticated');
    client.on('session', (acceptSession) => {
      const session = acceptSession();
      let pty = null;
      session.on('pty', (accept, reject, ptyInfo) => {
        pty = ptyInfo;
        log(tag, `pty-req ${ptyInfo.term} ${ptyInfo.cols}x${ptyInfo.rows}`);
        if (accept) accept();
      });
      session.on('shell', (accept) => startShell(accept(), pty, tag, client, rekeyEvery));
    });
  });
  client.on('error', (err) => log(tag, 'error:', err.message));
  client.on('close', () => log(tag, 'closed'));
}

for (const l of listeners) {
  const port = Number(l.port);
  if (!port) throw new Error('a listener port is not set (source ../env.sh)');
  const where = `:${port} ${l.cipher.length === 1 ? l.cipher[0] : ''}${l.hmac.length === 1 ? l.hmac[0] : ''}${l.rekeyEvery ? ' rekey' : ''}`.trim();
  const server = new Server({
    hostKeys: [hostKey],
    ident: 'QuenlorTestPeer_1.0',
    algorithms: {
      kex: ['diffie-hellman-group1-sha1'],
      serverHostKey: ['ssh-dss'],
      cipher: l.cipher,
      hmac: l.hmac,
      compress: ['none'],
    },
  }, (client, info) => onClient(client, info, where, l.rekeyEvery));
  server.listen(port, '127.0.0.1', () => {
    log(`listening on 127.0.0.1:${port}: ${l.cipher.join(',')} / ${l.hmac.join(',')}`);
  });
}

for (const sig of ['SIGTERM', 'SIGINT']) {
  process.on(sig, () => {
    log(`stopping (${sig})`);
    process.exit(0);
  });
}
