# The libFuzzer runs shared by scripts/test (bounded) and scripts/fuzz
# (longer). Sourced, not run.
#
# setupsup_fuzz TARGET CORPUS SECONDS MAX_LEN: runs build/native/fuzz/TARGET
# for SECONDS over its committed corpus fuzz/corpus/CORPUS (read only: every input
# there runs first, so a crash once found and committed there is a
# regression test) and a working corpus build/native/fuzz-corpus/CORPUS,
# which keeps what the runs find. A crash leaves its input in
# build/native/fuzz-artifacts/; copy it into fuzz/corpus/CORPUS/ to keep it.
setupsup_fuzz() {
  local target=$1 corpus=$2 seconds=$3 max_len=$4
  local seeds=fuzz/corpus/$corpus work=build/native/fuzz-corpus/$corpus
  local artifacts=build/native/fuzz-artifacts/ log=build/native/fuzz-$target.log
  mkdir -p "$work" "$artifacts"
  echo "== native: fuzzing $target for ${seconds} s (corpus $seeds)"
  if ! "build/native/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=0 \
      -artifact_prefix="$artifacts" "$work" "$seeds" 2>"$log"; then
    tail -n 40 "$log"
    echo "fuzz: $target failed; the input is in $artifacts (add it to $seeds/ as a regression test)" >&2
    return 1
  fi
  tail -n 1 "$log"
}
