#!/usr/bin/env bash
# Starts or stops the JACK server the JACK driver's tests talk to: the dummy backend at
# 48000 Hz with 256-frame periods, no real-time scheduling, no sound hardware needed.
#   scripts/jack-server.sh start   starts one unless a server already answers, then waits
#                                  until it answers (exit 1 if it never does)
#   scripts/jack-server.sh stop    stops the server this script started, if any
#   scripts/jack-server.sh status  exit 0 when a server answers
# The server's name is $JACK_DEFAULT_SERVER, else "default".
set -u

state_dir="${TMPDIR:-/tmp}"
server="${JACK_DEFAULT_SERVER:-default}"
pid_file="$state_dir/bellwave-jackd-$server.pid"
log_file="$state_dir/bellwave-jackd-$server.log"

answers() {
  # jack_lsp never starts a server; it fails at once when none runs.
  command -v jack_lsp >/dev/null 2>&1 && JACK_NO_START_SERVER=1 jack_lsp >/dev/null 2>&1
}

start() {
  if answers; then
    echo "jack-server: a server \"$server\" already answers"
    return 0
  fi
  if ! command -v jackd >/dev/null 2>&1; then
    echo "jack-server: jackd is not installed (Debian package jackd2)" >&2
    return 1
  fi
  JACK_NO_AUDIO_RESERVATION=1 nohup jackd --no-realtime -n "$server" -d dummy -r 48000 -p 256 \
    >"$log_file" 2>&1 </dev/null &
  echo $! >"$pid_file"
  for _ in $(seq 1 100); do
    if answers; then
      echo "jack-server: started \"$server\" (pid $(cat "$pid_file"))"
      return 0
    fi
    if ! kill -0 "$(cat "$pid_file")" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "jack-server: the server did not answer; its log:" >&2
  cat "$log_file" >&2
  stop
  return 1
}

stop() {
  [ -f "$pid_file" ] || return 0
  pid="$(cat "$pid_file")"
  if kill "$pid" 2>/dev/null; then
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pid_file"
  echo "jack-server: stopped \"$server\""
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  status) answers ;;
  *) echo "usage: $0 start|stop|status" >&2; exit 2 ;;
esac
