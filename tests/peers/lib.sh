# shellcheck shell=bash
# Helpers of the start and stop scripts (sourced, after env.sh).
# Every server runs in the background with its output in $QUENLOR_PEERS_STATE/NAME.log and
# its PID in NAME.pid ("PID START-TIME", the start time from /proc so that a PID reused by an
# unrelated process is never signalled).

STATE=$QUENLOR_PEERS_STATE
START_TIMEOUT=${START_TIMEOUT:-20}   # seconds a server may take to open its port
STOP_TIMEOUT=10

proc_start_time() {  # pid -> start time in clock ticks (field 22 of /proc/PID/stat)
  local stat fields
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }        # the command name may hold spaces; fields resume after ") "
  read -r -a fields <<<"$stat"
  echo "${fields[19]}"
}

# The PID of server NAME when it runs (the one this helper started), else nothing.
peer_pid() {
  local file=$STATE/$1.pid pid start
  [ -f "$file" ] || return 1
  read -r pid start <"$file" || return 1
  [ -n "$pid" ] && [ "$(proc_start_time "$pid")" = "$start" ] || return 1
  echo "$pid"
}

alive() {  # pid: running and not a zombie (an exited server may wait a while for its reaper)
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat:0:1}" != Z ]
}

port_open() {  # port
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

all_ports_open() {  # "port port ..."
  local p
  for p in $1; do
    port_open "$p" || return 1
  done
}

# start_peer NAME "PORT..." COMMAND...: starts COMMAND unless NAME already runs, then waits
# (bounded) until every PORT accepts connections.
start_peer() {
  local name=$1 port=$2 pid i p
  shift 2
  if pid=$(peer_pid "$name"); then
    if all_ports_open "$port"; then
      echo "$name: already running (pid $pid, port $port)"
      return 0
    fi
    stop_peer "$name"
  fi
  for p in $port; do
    if port_open "$p"; then
      echo "$name: port $p is taken by another program" >&2
      return 1
    fi
  done
  mkdir -p "$STATE"
  echo "--- $(date '+%F %T') starting: $*" >>"$STATE/$name.log"
  "$@" </dev/null >>"$STATE/$name.log" 2>&1 &
  pid=$!
  echo "$pid $(proc_start_time "$pid")" >"$STATE/$name.pid"
  for ((i = 0; i < START_TIMEOUT * 10; i++)); do
    if all_ports_open "$port"; then
      echo "$name: listening on 127.0.0.1:$port (pid $pid)"
      return 0
    fi
    if ! alive "$pid"; then
      break
    fi
    sleep 0.1
  done
  echo "$name: did not open port $port; last lines of $STATE/$name.log:" >&2
  tail -n 20 "$STATE/$name.log" >&2
  stop_peer "$name"
  return 1
}

# stop_peer NAME: SIGTERM to the PID this helper started, SIGKILL after STOP_TIMEOUT seconds.
stop_peer() {
  local name=$1 pid i
  if pid=$(peer_pid "$name"); then
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < STOP_TIMEOUT * 10; i++)); do
      alive "$pid" || break
      sleep 0.1
    done
    if alive "$pid"; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
    echo "$name: stopped (pid $pid)"
  fi
  rm -f "$STATE/$name.pid"
}
