#!/usr/bin/env bash
# Every option of every program, through the programs themselves:
#   cli.sh BIN_SOLVER_DIR BIN_SQUARE BIN_VIEW BIN_CIRCLE TESTDATA VERSION
# where BIN_SOLVER_DIR holds velora1 and velora2. Each row of the table below
# runs one program in a scratch folder prepared for it (its input files and,
# for the error rows, earlier result files) and checks the exit status,
# standard output and error, and the files afterwards.
set -u
solver_dir=$(realpath "$1")
declare -A path=([velora1]=$solver_dir/velora1 [velora2]=$solver_dir/velora2 [square]=$(realpath "$2")
                 [veloraview]=$(realpath "$3") [circle]=$(realpath "$4"))
testdata=$(realpath "$5")
version=$6
model=$testdata/square_n2_p0.01
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
cases=0

# The files a program reads, and the files it writes with the golden copy
# each must equal after a run without options.
inputs() {
  case $1 in
    velora1 | velora2) cp "$model/input.txt" "$2/" ;;
    square) cp "$model/square.txt" "$2/" ;;
    veloraview) cp "$model/input.txt" "$2/" && cp "$model/output1.txt" "$2/output.txt" ;;
    circle) cp "$testdata/../../examples/circle.txt" "$2/" ;;
  esac
}
outputs() {
  case $1 in
    velora1) echo "output.txt:$model/output1.txt autocad.scr:$model/autocad1.scr" ;;
    velora2) echo "output.txt:$model/output2.txt autocad.scr:$model/autocad2.scr" ;;
    square) echo "input.txt:$model/input.txt autocad.scr:$model/autocad_square.scr ansys.txt:" ;;
    veloraview) echo "result.vtu: result.svg:" ;;
    circle) echo "input.txt:" ;;
  esac
}

fail() {
  echo "FAIL [$program $*]: $reason"
  failures=$((failures + 1))
}

# run PROGRAM EXPECTED_STATUS CHECK ARGS...: CHECK is one of
#   help     usage page on stdout, nothing else, no file touched
#   version  version lines on stdout, no file touched
#   usage    status 2, "PROGRAM: ...NAMED..." and the usage line on stderr,
#            earlier result files untouched (NAMED: the env variable named)
#   results  the result files equal the golden ones (or exist, when no golden
#            copy is kept); stdout empty; stderr as in STDERR (empty/progress)
#   failure  a failure report on stderr and earlier result files untouched
#   newton   while the build has no Newton method: a failure report naming
#            it, earlier files untouched; once it has one: result files
run() {
  program=$1
  local expected=$2 check=$3
  shift 3
  cases=$((cases + 1))
  local dir=$work/case$cases
  mkdir -p "$dir/run" "$dir/elsewhere"
  inputs "$program" "$dir/run"
  local f
  if [ "$check" != results ]; then
    for f in $(outputs "$program"); do echo "earlier run" >"$dir/run/${f%%:*}"; done
  fi
  local before
  before=$(cd "$dir/run" && ls -l --time-style=+%s.%N | sort)
  local args=("$@")
  local cwd=$dir/run
  if [ "${RUN_ELSEWHERE:-}" = 1 ]; then cwd=$dir/elsewhere; fi
  (cd "$cwd" && "${path[$program]}" "${args[@]/#@DIR@/$dir/run}" >"$dir/stdout" 2>"$dir/stderr")
  local status=$?
  if [ "$check" = newton ]; then
    if [ "$status" -eq 0 ]; then check=results; else check=failure; expected=1; fi
  fi
  reason="exit status $status, expected $expected"
  [ "$status" -eq "$expected" ] || { fail "$@"; cat "$dir/stderr"; return; }
  local after
  after=$(cd "$dir/run" && ls -l --time-style=+%s.%N | sort)
  case $check in
    help)
      for part in "Usage: $program [OPTIONS]" "Reads (in the working directory):" "Writes (in the working directory):" \
                  "-h,--help" "--version" "-C DIR" "Exit status: 0 success; 1 failure"; do
        reason="help lacks \"$part\""
        grep -qF -- "$part" "$dir/stdout" || fail "$@"
      done
      case $program in velora1 | velora2) for part in --method --threads --progress --quiet --newton-step \
                                                      --newton-preconditioner --newton-regions --newton-counts \
                                                      VELORA_METHOD VELORA_KERNEL; do
        reason="help lacks $part"; grep -qF -- "$part" "$dir/stdout" || fail "$@"; done ;; esac
      reason="stderr not empty"; [ -s "$dir/stderr" ] && fail "$@"
      reason="files touched"; [ "$before" = "$after" ] || fail "$@" ;;
    version)
      reason="first line $(head -1 "$dir/stdout")"
      [ "$(head -1 "$dir/stdout")" = "$program (velora) $version" ] || fail "$@"
      reason="no compiler line"; grep -q '^compiler: ' "$dir/stdout" || fail "$@"
      case $program in velora1 | velora2) reason="no kernel line"; grep -q '^kernel: ' "$dir/stdout" || fail "$@" ;; esac
      reason="files touched"; [ "$before" = "$after" ] || fail "$@" ;;
    usage)
      reason="stderr was: $(cat -A "$dir/stderr")"
      [ "$(wc -l <"$dir/stderr")" -eq 2 ] || fail "$@"
      head -1 "$dir/stderr" | grep -q "^$program: .*${NAMED:-}" || fail "$@"
      [ "$(sed -n 2p "$dir/stderr")" = "Usage: $program [OPTIONS]" ] || fail "$@"
      reason="stdout not empty"; [ -s "$dir/stdout" ] && fail "$@"
      reason="files touched"; [ "$before" = "$after" ] || fail "$@" ;;
    failure)
      reason="stderr was: $(cat -A "$dir/stderr")"
      grep -q "^raised [A-Z_.]* : .*${NAMED:-}" "$dir/stderr" || fail "$@"
      reason="files touched"; [ "$before" = "$after" ] || fail "$@" ;;
    results)
      local pair
      for pair in $(outputs "$program"); do
        local file=${pair%%:*} golden=${pair#*:}
        reason="$file missing"
        [ -s "$dir/run/$file" ] || { fail "$@"; continue; }
        reason="$file differs from $golden"
        [ -z "$golden" ] || [ "${GOLDEN:-yes}" = no ] || cmp -s "$dir/run/$file" "$golden" || fail "$@"
      done
      reason="stdout not empty"; [ -s "$dir/stdout" ] && fail "$@"
      case ${STDERR:-empty} in
        empty) reason="stderr: $(cat -A "$dir/stderr")"; [ -s "$dir/stderr" ] && fail "$@" ;;
        progress)
          reason="no progress line on stderr: $(cat -A "$dir/stderr" | head -3)"
          grep -q $'\rmajor 1  minor 1  |g| ' "$dir/stderr" || fail "$@"
          reason="progress line not cleared at the end"
          [ "$(tail -c 1 "$dir/stderr")" = $'\r' ] || fail "$@" ;;
      esac ;;
  esac
}

for p in velora1 velora2 square veloraview circle; do
  run $p 0 results
  run $p 0 help --help
  run $p 0 help -h
  run $p 0 version --version
  RUN_ELSEWHERE=1 run $p 0 results -C @DIR@
  NAMED=--bogus run $p 2 usage --bogus
  NAMED=extra run $p 2 usage extra
  NAMED=-C run $p 2 usage -C
  NAMED=/no/such/folder run $p 2 usage -C /no/such/folder
  case $p in square | veloraview | circle) NAMED=--threads run $p 2 usage --threads 2 ;; esac
done

for p in velora1 velora2; do
  for threads in 0 1 2 3; do run $p 0 results --threads $threads; done
  run $p 0 results --method lbfgs
  NAMED=Newton GOLDEN=no run $p 0 newton --method newton
  run $p 0 results --quiet
  STDERR=progress run $p 0 results --progress
  RUN_ELSEWHERE=1 run $p 0 results --threads=2 --method=lbfgs --quiet -C @DIR@
  NAMED=--threads run $p 2 usage --threads
  NAMED=--threads run $p 2 usage --threads two
  NAMED=--threads run $p 2 usage --threads -1
  NAMED=--threads run $p 2 usage --threads 1025
  NAMED=--method run $p 2 usage --method
  NAMED=--method run $p 2 usage --method bfgs
  NAMED=--progress run $p 2 usage --quiet --progress
  NAMED=--quiet run $p 2 usage --quiet=sometimes
  # The second-order method's diagnostics, and VELORA_METHOD, which stands
  # for --method and is checked as the option is.
  GOLDEN=no run $p 0 newton --method newton --newton-step direct --newton-regions off
  GOLDEN=no run $p 0 newton --method newton --newton-preconditioner single
  VELORA_METHOD=newton GOLDEN=no run $p 0 newton
  VELORA_METHOD=lbfgs run $p 0 results
  NAMED=--method VELORA_METHOD=Newton run $p 2 usage
  NAMED=--method VELORA_METHOD=newton run $p 2 usage --method bfgs
  NAMED='--newton-step: needs --method newton' run $p 2 usage --newton-step direct
  NAMED='--newton-counts: needs --method newton' VELORA_METHOD=lbfgs run $p 2 usage --newton-counts
  NAMED=--newton-regions run $p 2 usage --method newton --newton-regions no
  NAMED=--newton-preconditioner run $p 2 usage --method newton --newton-preconditioner float
done

echo "$cases cases, $failures failed"
[ $failures -eq 0 ]
