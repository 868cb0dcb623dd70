#!/usr/bin/env bash
# A desktop synchronizer (vdirsyncer) against mzhost serve on a fresh device:
# discovery from the root URL, a first sync of 200 phone contacts, edits,
# additions and deletions on each side, a conflict, a sync that changes
# nothing, and a client card's UID and resource name kept.
# Usage: carddav_sync_test.sh MZHOST
set -euo pipefail
mzhost=$1
. "$(dirname "$0")/../../scripts/serve-lib.sh"
serve_scratch
failures=0
check() {  # check WHAT COMMAND...: counts a failure when the command fails
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
phone() { "$mzhost" --device "$work/phone" "$@"; }
id_of() { phone contacts list | awk -v n="$1" '$0 ~ n {print $2; exit}'; }
sync() { vdirsyncer -c "$work/config" sync 2>&1 | tee "$work/sync.out"; }
changed_nothing() { ! grep -Eq 'Copying|Deleting|conflict' "$work/sync.out"; }
local_file() { grep -l "$1" "$work/local/contacts/"*.vcf | head -1; }

for i in $(seq 1 200); do
  printf 'BEGIN:VCARD\nVERSION:2.1\nN:Fam%d;Given%d\nTEL;CELL:+1555%d\nEND:VCARD\n' "$i" "$i" "$i"
done > "$work/cards.vcf"
phone contacts import "$work/cards.vcf" > /dev/null
echo "sync-test-secret" > "$work/password"

start_serve "$mzhost" "$work/phone" "$work/password" "$work"

"$(dirname "$0")/../../scripts/carddav-sync-config" "$work" "$url" mz "$work/password" \
  > "$work/config"

{ yes || true; } | vdirsyncer -c "$work/config" discover > "$work/discover.out" 2>&1
check "discovery from the root URL finds the address book" grep -q '"contacts"' "$work/discover.out"

sync > /dev/null
check "a first sync brings 200 phone contacts" \
  test "$(ls "$work/local/contacts" | wc -l)" -eq 200
sync > /dev/null
check "a second sync changes nothing" changed_nothing

# A local edit reaches the phone.
file=$(local_file 'N:Fam7;')
sed -i 's/+15557/+19997/' "$file"
sync > /dev/null
check "a local edit reaches the phone" sh -c "\"$mzhost\" --device \"$work/phone\" contacts list | grep -q '+19997'"

# A card added and one deleted on the desktop.
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:desk-uid-1\r\nFN:Zed Desk\r\nN:Desk;Zed;;;\r\nTEL;TYPE=CELL:+1444\r\nEND:VCARD\r\n' \
  > "$work/local/contacts/desk-uid-1.vcf"
rm "$(local_file 'N:Fam8;')"
sync > /dev/null
check "a desktop card reaches the phone" sh -c "\"$mzhost\" --device \"$work/phone\" contacts list | grep -q 'Zed Desk'"
check "a desktop deletion reaches the phone" sh -c "! \"$mzhost\" --device \"$work/phone\" contacts list | grep -q 'Fam8 '"
got=$(curl -s -u "mz:sync-test-secret" "${url}dav/ab/contacts/desk-uid-1.vcf")
check "the desktop card keeps its resource name and UID" grep -q 'UID:desk-uid-1' <<<"$got"
sync > /dev/null
check "the desktop card keeps its file and UID" grep -q 'UID:desk-uid-1' "$work/local/contacts/desk-uid-1.vcf"

# A card added and one deleted on the phone.
printf 'BEGIN:VCARD\nVERSION:2.1\nN:PhoneNew;Pat\nTEL;CELL:+1333\nEND:VCARD\n' > "$work/new.vcf"
phone contacts import "$work/new.vcf" > /dev/null
phone contacts delete "$(id_of 'Given9 Fam9 ')" > /dev/null
sync > /dev/null
check "a phone card reaches the desktop" test -n "$(local_file 'N:PhoneNew;')"
check "a phone deletion reaches the desktop" test -z "$(local_file 'N:Fam9;' || true)"

# Both sides change one card: the phone's side wins, as configured.
sed -i 's/+155510$/+177710/; s/+155510\r$/+177710\r/' "$(local_file 'N:Fam10;')"
printf 'BEGIN:VCARD\nVERSION:2.1\nN:Fam10;Given10\nTEL;CELL:+188810\nEND:VCARD\n' > "$work/edit.vcf"
phone contacts update "$(id_of 'Given10 Fam10 ')" "$work/edit.vcf" > /dev/null
sync > /dev/null
check "a conflict goes the configured side's way" grep -q '+188810' "$(local_file 'N:Fam10;')"
check "the phone keeps its side of the conflict" sh -c "\"$mzhost\" --device \"$work/phone\" contacts list | grep -q '+188810'"

sync > /dev/null
check "a sync after all that changes nothing" changed_nothing
check "the server logged no failure" sh -c "! grep -E ' (4[0-9][0-9]|5[0-9][0-9]) [0-9]+ ms' \"$work/serve.err\" | grep -v ' 401 '"

kill -TERM "$server"
status=0
wait "$server" || status=$?
server=
check "the server stops cleanly (status $status)" test "$status" -eq 0
echo "$((19 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
