#!/bin/bash
# wine-run.sh WINE PROGRAM [ARGUMENTS...]: runs a Windows program under wine
# for CTest. Now and then wine's client loses its server while the program
# starts ("wine client error: ... Connection reset by peer", or no word at
# all): the program never ran. Such a start is tried again, up to three
# times; a run that printed anything else stands as it is, with its output
# and exit status.
wine=$1
shift
log=$(mktemp) || exit 1
trap 'rm -f "$log"' EXIT
for attempt in 1 2 3; do
  "$wine" "$@" > "$log" 2>&1
  status=$?
  if [ "$status" -eq 0 ] || { [ -s "$log" ] && ! grep -q '^wine client error' "$log"; }; then
    break
  fi
  echo "wine-run.sh: start $attempt of $* failed (status $status); trying again" >&2
done
cat "$log"
exit "$status"
