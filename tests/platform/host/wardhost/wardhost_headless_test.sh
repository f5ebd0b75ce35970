#!/bin/bash
# wardhost_headless_test.sh WARDHOST BUNDLE HVOD HVOCTL
#
# Inside ns-run.sh: per case a fresh hvod, wardhost --headless with the
# application pane and a script, and hvoctl sending the daemon's alert or
# notification to module 102. Checks hvoctl's answer (the pane's reply
# archive) and the lines of wardhost's record.
set -uo pipefail
WARDHOST=$1 BUNDLE=$2 HVOD=$3 HVOCTL=$4
SOCKET=/usr/local/Vantrel/hvo/var/hvodsocket
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A ReporterData archive (sender 3, TYPE) around an alert archive INNER.
payload() { # TYPE INNER
    printf '22 serialization::archive 18 0 0 3 %s %d %s' "$1" "${#2}" "$2"
}
alert() { # TIMEOUT: /opt/x/app, execution, 192.0.2.7:8080 as held, cookie 77, network allowed
    payload 32 "22 serialization::archive 18 0 0 10 /opt/x/app 100 3 8080 117571776 1 $1 77 0 1"
}
answer() { # ACTION TIMEOUT ALWAYS NETWORK: the reply's alert archive
    payload 32 "22 serialization::archive 18 0 0 10 /opt/x/app 100 $1 8080 117571776 1 $2 77 $3 $4"
}
notification() { # OPERATION for /Applications/Mail.app
    payload 31 "22 serialization::archive 18 0 0 22 /Applications/Mail.app $1 2 0 0 1 0 5 0 0"
}

fail() {
    echo "FAIL [$name]: $*"
    failures=$((failures + 1))
}

start_hub() {
    rm -f "$SOCKET"
    mkdir -p "$(dirname "$SOCKET")"
    "$HVOD" --log "$work/$name.hvod.log" --health-interval 0 &
    hub=$!
    for _ in $(seq 100); do [ -S "$SOCKET" ] && return 0; sleep 0.05; done
    fail "hvod did not start"
}

start_host() { # SCRIPT-TEXT [no-wait]
    printf '%s\n' "$1" > "$work/$name.script"
    : > "$work/$name.record"
    "$WARDHOST" --headless --bundle "$BUNDLE" --script "$work/$name.script" \
        --record "$work/$name.record" --trace "$work/$name.trace" > "$work/$name.out" 2>&1 &
    host=$!
    [ "${2:-}" = no-wait ] && return 0
    for _ in $(seq 100); do "$HVOCTL" modules 2>/dev/null | grep -q '^102 ' && return 0; sleep 0.05; done
    fail "wardhost did not register"
}

# Waits for wardhost's own exit (its script ends in quit) and hvod's end.
finish() {
    for _ in $(seq 200); do kill -0 "$host" 2>/dev/null || break; sleep 0.05; done
    if kill -0 "$host" 2>/dev/null; then
        fail "wardhost still running"
        kill "$host"
    fi
    wait "$host"
    hostStatus=$?
    kill "$hub" 2>/dev/null
    wait "$hub" 2>/dev/null
}

has() { grep -qxF "$1" "$work/$name.record" || fail "record lacks $1"; }
lacks() { grep -qF "$1" "$work/$name.record" && fail "record has $1"; }

# name | command | payload | script | expected reply archive ("" none) | record lines | absent from record
while IFS='|' read -r name cmd pay script reply lines absent; do
    [ -z "$name" ] && continue
    start_hub
    [ -n "$pay" ] && eval "$pay" > "$work/$name.payload"
    if [ "$cmd" = none ]; then
        start_host "$(printf '%b' "$script")" no-wait
    else
        start_host "$(printf '%b' "$script")"
    fi
    if [ "$cmd" = none ]; then
        :
    elif [ "$cmd" = 60001 ]; then
        "$HVOCTL" send --to 102 --cmd 60001 --payload-text "$work/$name.payload" --timeout 6 > "$work/$name.reply" 2>&1
    else
        "$HVOCTL" send --to 102 --cmd 60000 --payload-text "$work/$name.payload" --no-wait > "$work/$name.reply" 2>&1
    fi
    finish
    [ "$hostStatus" = 0 ] || fail "wardhost exit $hostStatus: $(tail -3 "$work/$name.out")"
    if [ -n "$reply" ]; then
        expected=$(eval "$reply")
        got=$(sed -n 2p "$work/$name.reply")
        [ "$got" = "$expected" ] || fail "reply [$got], expected [$expected] ($(head -1 "$work/$name.reply"))"
    elif [ "$cmd" = 60001 ] && grep -q 'status true' "$work/$name.reply"; then
        fail "an answer came: $(cat "$work/$name.reply")"
    fi
    IFS=';' read -ra want <<< "$lines"
    for l in "${want[@]}"; do [ -n "$l" ] && has "$l"; done
    IFS=';' read -ra not <<< "$absent"
    for l in "${not[@]}"; do [ -n "$l" ] && lacks "$l"; done
done <<'CASES'
always-choice-1|60001|alert 60|wait alert 10\nchoose 1\nauthorize yes\nclick always\nquit|answer 1 60 1 0|{"event":"AddAlert","module":3,"id":"1"};{"event":"viewForAlert","id":"1","view":false};{"event":"alertString","id":"1","text":"app is trying to execute"};{"event":"AuthorizeUser","answer":1};{"event":"DeleteAlert","module":3,"id":"1"}|AddNotification
once-choice-2|60001|alert 60|wait alert 10\nchoose 2\nclick once\nquit|answer 2 60 0 1|{"event":"DeleteAlert","module":3,"id":"1"}|AuthorizeUser
once-choice-0|60001|alert 60|wait alert 10\nchoose 0\nclick once\nquit|answer 1 60 0 1|{"event":"DeleteAlert","module":3,"id":"1"}|
refused-stays|60001|alert 60|wait alert 10\nchoose 1\nauthorize no\nclick always\nsleep 1\nquit||{"event":"AuthorizeUser","answer":0}|DeleteAlert
ask-again-after-refusal|60001|alert 60|wait alert 10\nauthorize no\nclick always\nauthorize yes\nclick always\nquit|answer 1 60 1 1|{"event":"AuthorizeUser","answer":0};{"event":"AuthorizeUser","answer":1};{"event":"DeleteAlert","module":3,"id":"1"}|
timer-denies|60001|alert 2|wait alert 10\nsleep 3\nquit|answer 2 2 0 1|{"event":"DeleteAlert","module":3,"id":"1"}|click
unlock-needs-authorisation|none||authorize no\nunlock\nauthorize yes\nunlock\nlock\nprotection status\nview X\nquit||{"event":"unlock","granted":false};{"event":"unlock","granted":true};{"event":"lock"};{"event":"protection","op":"status","answer":0};{"event":"view","id":"X","view":false}|AddAlert
notification-ok|60000|notification 103|wait notification 10\nclick ok\nquit||{"event":"AddNotification","module":3,"id":"1"};{"event":"notificationString","id":"1","text":"Mail was prevented from outgoing network access"};{"event":"DeleteNotification","module":3,"id":"1"}|AddAlert
script-verbs|none||action AppProAlert setAction: 2\nget AppProAlert action\nset AppProAlert action 1\nget AppProAlert action\nset AppProAlert selectedAlertIdentifier Café 7\nget AppProAlert selectedAlertIdentifier\naction NoSuch thing: 1\naction AppProAlert action: 1\nget AppProAlert noSuchKey\nset AppProAlert noSuchKey 1\nwait file 5 /\nquit||{"event":"action","class":"AppProAlert","selector":"setAction:","value":"2","sent":true};{"event":"returned","class":"AppProAlert","selector":"setAction:"};{"event":"get","class":"AppProAlert","path":"action","value":"2"};{"event":"set","class":"AppProAlert","path":"action","value":"1","done":true};{"event":"get","class":"AppProAlert","path":"action","value":"1"};{"event":"set","class":"AppProAlert","path":"selectedAlertIdentifier","value":"Café 7","done":true};{"event":"get","class":"AppProAlert","path":"selectedAlertIdentifier","value":"Café 7"};{"event":"action","class":"NoSuch","selector":"thing:","value":"1","sent":false};{"event":"action","class":"AppProAlert","selector":"action:","value":"1","sent":false};{"event":"get","class":"AppProAlert","path":"noSuchKey","value":null};{"event":"set","class":"AppProAlert","path":"noSuchKey","value":"1","done":false}|wait-timeout
CASES

# With hvod gone, "once" still deletes the slot; the lost answer is traced
# and the host runs on to the end of its script.
name=hub-gone
start_hub
alert 60 > "$work/$name.payload"
start_host "$(printf 'wait alert 10\nsleep 2\nclick once\nsleep 0.5\nquit')"
"$HVOCTL" send --to 102 --cmd 60001 --payload-text "$work/$name.payload" --timeout 6 > /dev/null 2>&1 &
sender=$!
for _ in $(seq 100); do grep -q AddAlert "$work/$name.record" && break; sleep 0.05; done
kill "$hub"
wait "$hub" 2>/dev/null
wait "$sender" 2>/dev/null
for _ in $(seq 200); do kill -0 "$host" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$host" 2>/dev/null; then fail "wardhost still running"; kill "$host"; fi
wait "$host"
[ $? = 0 ] || fail "wardhost exit $?: $(tail -3 "$work/$name.out")"
has '{"event":"DeleteAlert","module":3,"id":"1"}'
grep -q 'sendResponseToAlert' "$work/$name.trace" || fail "no trace line: $(cat "$work/$name.trace")"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s); files in $work"
    trap - EXIT
    exit 1
fi
echo "all cases passed"
