#!/usr/bin/env bash
# Runs a program in an empty folder and checks the exact failure report.
set -u
program=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
case "$(basename "$program")" in
  square) file=square.txt ;;
  *) file=input.txt ;;
esac
"$program" >stdout.txt 2>stderr.txt
status=$?
expected=$(printf '\nraised FILE_ERROR : cannot open "%s" for reading: No such file or directory\n' "$file"; echo x)
actual=$(cat stderr.txt; echo x)
fail=0
[ "$status" -eq 1 ] || { echo "exit status $status, expected 1"; fail=1; }
[ "$actual" = "$expected" ] || { echo "stderr was:"; cat -A stderr.txt; fail=1; }
[ -s stdout.txt ] && { echo "unexpected standard output:"; cat stdout.txt; fail=1; }
[ "$(ls)" = "$(printf 'stderr.txt\nstdout.txt')" ] || { echo "files left behind:"; ls; fail=1; }
[ $fail -eq 0 ] && echo "failure report as expected"
exit $fail
