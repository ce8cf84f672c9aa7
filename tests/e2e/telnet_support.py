"""The peer-session helpers under the name older scripts import them by."""
from harness import (BANNER_END, PEERS, PROMPT, PeerSession, RecordingProxy,  # noqa: F401
                     closed_port, config, strip_telnet)
