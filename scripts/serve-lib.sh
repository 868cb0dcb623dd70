# Sourced by the scripts that run mzhost serve (tests and benchmarks).
# start_serve MZHOST DEVICE PASSWORD_FILE WORK [OPTION...]: starts the server
# on a free loopback port with its output in WORK/serve.out and WORK/serve.err,
# waits for its first line, and sets `server` (its pid) and `url` (the address
# it printed). Returns 1, with the server's errors shown, when it exits first.
start_serve() {
  local mzhost=$1 device=$2 password=$3 work=$4
  shift 4
  # There before the first look: the server's shell may not have made them yet.
  : > "$work/serve.out"
  : > "$work/serve.err"
  "$mzhost" --device "$device" serve --listen 127.0.0.1:0 --password-file "$password" "$@" \
    > "$work/serve.out" 2> "$work/serve.err" &
  server=$!
  url=
  for _ in $(seq 1 300); do
    url=$(sed -n '1s/^listening on //p' "$work/serve.out")
    [ -n "$url" ] && return 0
    kill -0 "$server" 2>/dev/null || { cat "$work/serve.err" >&2; return 1; }
    sleep 0.1
  done
  echo "mzhost serve printed no address" >&2
  return 1
}

# serve_scratch: a scratch folder in `work` for a test; on exit the server
# start_serve started is stopped (SIGTERM, then waited for) and the folder
# removed. With KEEP set, the server's last log lines are shown first.
serve_scratch() {
  work=$(mktemp -d)
  server=
  trap serve_cleanup EXIT
}
serve_cleanup() {
  if [ -n "$server" ]; then kill -TERM "$server" 2>/dev/null || true; wait "$server" || true; fi
  if [ -n "${KEEP:-}" ] && [ -f "$work/serve.err" ]; then tail -3 "$work/serve.err"; fi
  rm -rf "$work"
}
