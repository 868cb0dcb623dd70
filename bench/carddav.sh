#!/usr/bin/env bash
# A desktop synchronizer (vdirsyncer) copying 1,000 contacts into an empty
# local folder, then syncing again with nothing changed: against mzhost serve
# on a fresh device, and against a second CardDAV server (Radicale) holding
# the same 1,000 cards, in the same run.
# Usage: bench/carddav.sh [MZHOST]   (default: build/default/bin/mzhost)
set -euo pipefail
cd "$(dirname "$0")/.."
mzhost=$(realpath "${1:-build/default/bin/mzhost}")
count=${CARDS:-1000}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  [ -n "${KEEP:-}" ] && cp "$work/serve.err" /tmp/bench-serve.err; rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# The same cards for both servers.
mkdir -p "$work/cards"
for i in $(seq 1 "$count"); do
  printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bench-%d\r\nFN:Given%d Family%d\r\nN:Family%d;Given%d;;;\r\nTEL;TYPE=CELL:+1555%07d\r\nEMAIL;TYPE=INTERNET:p%d@example.org\r\nEND:VCARD\r\n' \
    "$i" "$i" "$i" "$i" "$i" "$i" "$i" > "$work/cards/bench-$i.vcf"
done
cat "$work/cards/"*.vcf > "$work/all.vcf"

# name URL USER: a first sync, a no-change sync right after it, and one more
# after a pause longer than mzhost serve keeps what it read of the phone
# (60 s), so that it reads every contact again; prints the three times.
run_sync() {
  local name=$1 url=$2 user=$3 dir="$work/$1"
  mkdir -p "$dir"
  scripts/carddav-sync-config "$dir" "$url" "$user" "$work/password" > "$dir/config"
  { yes || true; } | vdirsyncer -c "$dir/config" discover > "$dir/discover.out" 2>&1
  local start middle end
  start=$(now)
  vdirsyncer -c "$dir/config" sync > "$dir/first.out" 2>&1
  middle=$(now)
  vdirsyncer -c "$dir/config" sync > "$dir/second.out" 2>&1
  end=$(now)
  sleep 61
  local later
  later=$(now)
  vdirsyncer -c "$dir/config" sync > "$dir/third.out" 2>&1
  later=$(seconds "$later" "$(now)")
  local copied
  copied=$(ls "$dir/local/contacts" | wc -l)
  printf '%-8s first sync %6ss (%d cards)   no-change sync %6ss   again 61 s later %6ss\n' \
    "$name" "$(seconds "$start" "$middle")" "$copied" "$(seconds "$middle" "$end")" "$later"
}

wait_for_port() {
  for _ in $(seq 1 300); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  return 1
}

echo "bench-secret" > "$work/password"

# mzhost serve.
"$mzhost" --device "$work/phone" contacts import "$work/all.vcf" > /dev/null
. scripts/serve-lib.sh
start_serve "$mzhost" "$work/phone" "$work/password" "$work"
pids+=("$server")
run_sync mzhost "$url" mz

# Radicale, its collection laid out on disk with the same cards.
port=$(free_port)
book="$work/radicale/collection-root/bench/contacts"
mkdir -p "$book"
printf '{"tag": "VADDRESSBOOK", "D:displayname": "contacts"}' > "$book/.Radicale.props"
cp "$work/cards/"*.vcf "$book/"
cat > "$work/radicale.conf" <<CONFIG
[server]
hosts = 127.0.0.1:$port
[auth]
type = none
[storage]
filesystem_folder = $work/radicale
[logging]
level = warning
CONFIG
radicale --config "$work/radicale.conf" > "$work/radicale.log" 2>&1 &
pids+=($!)
wait_for_port "$port"
run_sync radicale "http://127.0.0.1:$port/" bench
