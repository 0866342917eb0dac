# shellcheck shell=bash
# The libFuzzer runs shared by scripts/test (bounded) and scripts/fuzz
# (longer). Sourced, not run.

# Every fuzz target, once: TARGET CORPUS MAX_LEN SECONDS, where SECONDS is
# "full" (runs for the seconds the caller gives) or "capped" (scripts/test
# gives it at most its cap: a small input space, covered in a few seconds).
# Both scripts build and run exactly these; a target of fuzz/CMakeLists.txt
# missing here fails the build step.
SETUPSUP_FUZZ_TARGETS=(
  "cbf_fuzz cbf 20000 full"
  "product_suite_fuzz product_suite 512 capped"
  "value_text_fuzz value_text 512 capped"
  "font_name_fuzz font_name 4096 capped"
  "path_entries_fuzz path_entries 4096 capped"
)

# setupsup_fuzz_build: builds every target of the list in build/native (the
# native preset configured), after checking that the list names every fuzz
# target fuzz/CMakeLists.txt defines and each has its committed corpus.
setupsup_fuzz_build() {
  local entry target corpus rest listed=() defined
  for entry in "${SETUPSUP_FUZZ_TARGETS[@]}"; do
    read -r target corpus rest <<<"$entry"
    listed+=("$target")
    if [ ! -d "fuzz/corpus/$corpus" ]; then
      echo "fuzz: $target has no committed corpus fuzz/corpus/$corpus" >&2
      return 1
    fi
  done
  defined=$(sed -n 's/^ *add_executable(\([A-Za-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt | sort | tr '\n' ' ')
  if [ "$defined" != "$(printf '%s\n' "${listed[@]}" | sort | tr '\n' ' ')" ]; then
    echo "fuzz: fuzz/CMakeLists.txt defines $defined; SETUPSUP_FUZZ_TARGETS (scripts/lib/fuzz.sh) lists ${listed[*]}" >&2
    return 1
  fi
  cmake --build --preset native --target "${listed[@]}"
}

# setupsup_fuzz_all SECONDS CAP: runs every target of the list, each for
# SECONDS, a capped one for at most CAP.
setupsup_fuzz_all() {
  local seconds=$1 cap=$2 entry target corpus max_len limit
  for entry in "${SETUPSUP_FUZZ_TARGETS[@]}"; do
    read -r target corpus max_len limit <<<"$entry"
    if [ "$limit" = capped ] && [ "$cap" -lt "$seconds" ]; then
      setupsup_fuzz "$target" "$corpus" "$cap" "$max_len"
    else
      setupsup_fuzz "$target" "$corpus" "$seconds" "$max_len"
    fi
  done
}

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
