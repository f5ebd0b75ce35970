#!/bin/sh
# Scripted ipfw for the rule-store tests, installed as "ipfw" first on PATH.
#
# Appends its argv to $FWTEST_DIR/argv.log (each argument NUL-terminated, one
# line per run), then obeys the first line of $FWTEST_DIR/script, removing it:
#   exit N          exit with N, changing nothing
#   print TEXT      run the stand-in quietly, print TEXT instead of its output
#   echo TEXT       print TEXT, then run the stand-in
#   block IN OUT    write "reached" to the FIFO OUT, wait for a line on the
#                   FIFO IN, then run the stand-in
#   hold IN OUT     the same, then exit 70 without running it
# and otherwise execs the stand-in ($FWTEST_IPFW).
d=${FWTEST_DIR:?}
{
    for a in "$@"; do printf '%s\0' "$a"; done
    printf '\n'
} >>"$d/argv.log"
line=
if [ -s "$d/script" ]; then
    line=$(head -n 1 "$d/script")
    sed -i 1d "$d/script"
fi
case "$line" in
"exit "*)
    exit "${line#exit }"
    ;;
"print "*)
    "$FWTEST_IPFW" "$@" >/dev/null 2>&1
    st=$?
    printf '%s\n' "${line#print }"
    exit $st
    ;;
"echo "*)
    printf '%s\n' "${line#echo }"
    ;;
"block "* | "hold "*)
    fifos=${line#* }
    echo reached >"${fifos#* }"
    read -r _ <"${fifos% *}"
    case "$line" in "hold "*) exit 70 ;; esac
    ;;
esac
exec "$FWTEST_IPFW" "$@"
