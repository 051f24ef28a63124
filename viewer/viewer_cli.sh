#!/usr/bin/env bash
# Runs veloraview in scratch folders on a solved model from the test data.
#   viewer_cli.sh MODE VELORAVIEW MODEL_DIR [OTHER_MODEL_DIR]
# MODEL_DIR holds input.txt and output1.txt (the report velora1 wrote).
# MODE:
#   files   the run is silent and its files are well-formed and hold the
#           report's counts and values;
#   vtk     VTK's own reader loads result.vtu (skipped, 77, without VTK);
#   render  chromium renders result.svg to a picture that is not blank
#           (skipped, 77, without chromium);
#   bad     missing, short and mismatched reports fail with a clear report
#           and leave the files of an earlier run as they were
#           (OTHER_MODEL_DIR: a model of another size).
set -u
mode=$1
view=$2
model=$3
other=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

solved() {  # a fresh folder with the model and its report
  rm -rf "$work/run" && mkdir "$work/run"
  cp "$model/input.txt" "$work/run/input.txt"
  cp "$model/output1.txt" "$work/run/output.txt"
  cd "$work/run"
}

view_ok() {
  "$view" >stdout.txt 2>stderr.txt
  local status=$?
  [ "$status" -eq 0 ] || { echo "veloraview ended with status $status:"; cat stderr.txt; exit 1; }
  [ -s stdout.txt ] || [ -s stderr.txt ] && { echo "veloraview printed something:"; cat stdout.txt stderr.txt; exit 1; }
  [ -s result.vtu ] && [ -s result.svg ] || { echo "result files missing"; ls -l; exit 1; }
}

# expect_failure CASE NAME TEXT: the run fails with the report "raised NAME
# : ..." holding TEXT, and the earlier result files are unchanged.
expect_failure() {
  local case=$1 name=$2 text=$3
  echo "earlier grid" >result.vtu
  echo "earlier picture" >result.svg
  "$view" >stdout.txt 2>stderr.txt
  local status=$?
  local report
  report=$(cat stderr.txt)
  [ "$status" -eq 1 ] || { echo "$case: exit status $status, expected 1"; fail=1; }
  [ "$(head -c 1 stderr.txt | od -An -c | tr -d ' ')" = '\n' ] || { echo "$case: report does not start with a line end"; fail=1; }
  case "$report" in
    *"raised $name : "*"$text"*) echo "$case: $(tail -n 1 stderr.txt)" ;;
    *) echo "$case: expected \"raised $name : ...$text...\", got:"; cat stderr.txt; fail=1 ;;
  esac
  [ -s stdout.txt ] && { echo "$case: unexpected standard output"; fail=1; }
  [ "$(cat result.vtu)" = "earlier grid" ] && [ "$(cat result.svg)" = "earlier picture" ] ||
    { echo "$case: an earlier result file was changed"; fail=1; }
  ls ./*.part >/dev/null 2>&1 && { echo "$case: temporary files left behind"; fail=1; }
}

case "$mode" in
  files)
    solved && view_ok
    "$python" "$here/check_results.py" xml . || exit 1
    # Same input, same bytes.
    cp result.vtu first.vtu && cp result.svg first.svg && view_ok
    cmp -s result.vtu first.vtu && cmp -s result.svg first.svg || { echo "a second run wrote other bytes"; exit 1; }
    ;;
  vtk)
    solved && view_ok
    "$python" "$here/check_results.py" vtk .
    exit $?
    ;;
  render)
    solved && view_ok
    bash "$here/render_svg.sh" result.svg result.png
    status=$?
    [ $status -eq 0 ] || exit $status
    "$python" "$here/check_results.py" png result.png || exit 1
    ;;
  bad)
    solved && rm output.txt
    expect_failure "no report" FILE_ERROR 'cannot open "output.txt" for reading'
    solved && rm input.txt
    expect_failure "no model" FILE_ERROR 'cannot open "input.txt" for reading'
    solved && : >output.txt
    expect_failure "empty report" END_ERROR 'output.txt:1: the file ends where the rule above the summary was expected'
    solved && head -n 20 "$model/output1.txt" >output.txt
    expect_failure "short report" END_ERROR 'output.txt:21: the file ends where'
    solved && cp "$other/output1.txt" output.txt
    expect_failure "report of another model" DATA_ERROR 'output.txt:'
    grep -q "the model (input.txt) has" stderr.txt || { echo "the report does not name the model's count"; fail=1; }
    solved && sed -i '3s/^/x/' input.txt
    expect_failure "broken model" DATA_ERROR 'input.txt:3:'
    ;;
  *)
    echo "unknown mode $mode"
    exit 2
    ;;
esac
[ $fail -eq 0 ] && echo "$mode: as expected"
exit $fail
