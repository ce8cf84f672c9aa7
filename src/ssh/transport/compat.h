// Compatibility bits for SSH-2 servers whose software version is known to
// deviate from the protocol. The word lives in each connection's
// PacketContext (`datafellows`), never in process-wide state, so that two
// logins running at once never see each other's bits.
#pragma once

enum CompatBits {
    SSH_BUG_SIGBLOB = 0x01,     // DSA signatures are the bare 40-byte r||s
    SSH_BUG_PKSERVICE = 0x02,   // publickey signatures name "ssh-userauth"
    SSH_BUG_HMACKEY = 0x04,     // MAC keys are 16 bytes whatever the digest
    SSH_BUG_X11FWD = 0x08,      // recorded for 2.0.1 servers; nothing acts on it
    SSH_BUG_SESSIONSTR = 0x10,  // the session id is signed as a string, not bare
};

// The bits for a server whose software version (the text after the second
// dash of its identification line) is `version`; 0 for unknown software.
int compat_datafellows(const char* version);
