#!/usr/bin/env bash
# gearloft Windows end-to-end test: gearloft-check.exe as Explorer starts it when a script is dropped on
# it, alone on a console of its own (a terminal stands in for the window), checks the script and waits
# for Enter before it exits; with its input from a pipe, as in a command prompt's redirection, it does not.
#   check_dropped_file_test.sh WINE_RUN GEARLOFT_CHECK_EXE
set -u
wine_run=$1
exe=$2
work=$(mktemp -d /tmp/gearloft-dropped.XXXXXX)
trap 'rm -rf "$work"' EXIT
printf '[Kestrel_GT]\r\nrim_sizes_front = 21\r\n' >"$work/kestrel.ini"
windows_path="Z:${work//\//\\}\\kestrel.ini"
prompt="Press Enter to close this window."
fail=0

# Wine's console draws each character between cursor escapes, and a blank as "erase, one right": keep
# the text alone.
plain() { sed -e 's/\x1b\[K\x1b\[1C/ /g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g'; }

# Enter comes only after a pause: a tool that did not wait has exited by then.
started=$SECONDS
shown=$( { sleep 8; printf '\r'; } | timeout 90 script -qfec "$wine_run '$exe' '$windows_path'" /dev/null 2>&1 | plain)
took=$((SECONDS - started))
if ! grep -qF "kestrel.ini: ok: Kestrel_GT, 1 statement(s)" <<<"$shown"; then
  echo "FAIL: the dropped script's report is missing:"; echo "$shown"; fail=1
fi
if ! grep -qF "$prompt" <<<"$shown"; then
  echo "FAIL: no \"$prompt\" on its own console:"; echo "$shown"; fail=1
fi
if [ "$took" -lt 8 ]; then
  echo "FAIL: it exited after $took s, before Enter was pressed"; fail=1
fi

piped=$(printf '\n' | timeout 90 "$wine_run" "$exe" "$windows_path" 2>&1 | plain)
if grep -qF "$prompt" <<<"$piped"; then
  echo "FAIL: it waited with its input from a pipe:"; echo "$piped"; fail=1
fi
if ! grep -qF "kestrel.ini: ok: Kestrel_GT, 1 statement(s)" <<<"$piped"; then
  echo "FAIL: the piped run's report is missing:"; echo "$piped"; fail=1
fi

if [ $fail = 0 ]; then echo "1 passed, 0 failed: the dropped script is checked and the window waits for Enter"; fi
exit $fail
