# Run as `sh record.sh LOG ARG...` by mzhost messages watch --exec, once per
# new message. Appends the message's fields and its arguments to LOG, each
# ended by a zero byte, and "overlap" when another run has not ended. For the
# text "hold" it first makes LOG.held and waits (at most a minute) for LOG.go,
# then removes both; for "fail" it exits 3.
log=$1
shift
mkdir "$log.busy" 2>/dev/null || printf 'overlap\0' >>"$log"
if [ "$MZ_TEXT" = hold ]; then
  : >"$log.held"
  i=0
  while [ ! -e "$log.go" ] && [ $i -lt 600 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  rm -f "$log.held" "$log.go"
fi
printf '%s\0' "$MZ_FOLDER" "$MZ_ENTRY_ID" "$MZ_ADDRESS" "$MZ_TIME" "$MZ_TEXT" "$@" >>"$log"
rmdir "$log.busy"
if [ "$MZ_TEXT" = fail ]; then exit 3; fi
