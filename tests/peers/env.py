"""The test-server settings of env.sh for Python tests.

env.sh is the single source: it is sourced by bash here, so Python sees exactly what the shell
scripts see.  Use `load()` (a dict of every QUENLOR_* variable) or the attribute-style
`settings()`; run this file to print the values as JSON.
"""

import json
import os
import subprocess
import sys
import types

ENV_SH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "env.sh")

_cache = None


def load():
    """Returns {name: value} for every QUENLOR_* variable that env.sh exports."""
    global _cache
    if _cache is None:
        out = subprocess.run(
            ["bash", "-c", 'source "$1" && env -0', "env.sh", ENV_SH],
            check=True, capture_output=True, env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                 **{k: os.environ[k] for k in ("QUENLOR_PORT_OFFSET", "QUENLOR_PEERS_STATE")
                    if k in os.environ}},
            timeout=10).stdout
        values = {}
        for item in out.split(b"\0"):
            name, sep, value = item.partition(b"=")
            if sep and name.startswith(b"QUENLOR_"):
                values[name.decode()] = value.decode()
        _cache = values
    return dict(_cache)


def settings():
    """The same values as attributes, without the QUENLOR_ prefix: settings().SSH1_PORT."""
    values = load()
    ns = types.SimpleNamespace(**{k[len("QUENLOR_"):]: v for k, v in values.items()})
    for name, value in vars(ns).items():
        if name.endswith("_PORT"):
            setattr(ns, name, int(value))
    return ns


if __name__ == "__main__":
    json.dump(load(), sys.stdout, indent=2, sort_keys=True)
    sys.stdout.write("\n")
