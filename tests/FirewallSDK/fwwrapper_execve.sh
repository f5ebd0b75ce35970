#!/bin/sh
# fwwrapper_execve.sh PROBE IPFW_DIR
# The argument vector FWWrapper hands to execve, as strace sees it, with the
# stand-in ipfw first on PATH. Runs inside tests/ns-run.sh.
set -eu
probe=$1
PATH="$2:$PATH"
export PATH
# LeakSanitizer cannot run under ptrace.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export ASAN_OPTIONS
log=$(mktemp)
trap 'rm -f "$log"' EXIT
strace -f -v -s 256 -e trace=execve -o "$log" "$probe" add >/dev/null
grep -F '["ipfw", "add", "65532", "deny", "log", "{", "ip", "}", "from", "any", "to", "me", "in", "keep-state"]' "$log"
strace -f -v -s 256 -e trace=execve -o "$log" "$probe" unreach >/dev/null
grep -F '["ipfw", "add", "65532", "unreach", "", "log", "{", "ip", "}", "from", "any", "to", "me", "in", "keep-state"]' "$log"
