#!/usr/bin/env bash
# Builds a fuzzer and runs it on one core:
#   fuzz/run.sh [compiler|reply|instantiate] [SECONDS [LIBFUZZER FLAGS...]]
# Seeds: the language cases (model, "\n%%\n", data) for the compiler and the
# instantiation (with the shipped examples for the latter), a few
# replies for the reply parser. Findings land in build/fuzz/<target>/; an
# input that takes more than a second is a finding too (the harnesses' time
# oracle).
set -euo pipefail
cd "$(dirname "$0")/.."
target=compiler
if [[ $# -gt 0 && ( $1 == compiler || $1 == reply || $1 == instantiate ) ]]; then target=$1; shift; fi
seconds=${1:-600}
shift $(( $# > 0 ? 1 : 0 ))
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DTARVOK_FUZZ=ON >/dev/null
work=build/fuzz/$target
corpus=$work/corpus
mkdir -p "$corpus"
if [[ $target == compiler || $target == instantiate ]]; then
  binary=${target}_fuzz
  models=(tests/compiler_cases/*/*.mod)
  if [[ $target == instantiate ]]; then models+=(src/tarvok/tvl_models/*/*.mod); fi
  for model in "${models[@]}"; do
    data="${model%.mod}.dat"
    { cat "$model"; printf '\n%%%%\n'; if [ -f "$data" ]; then cat "$data"; fi; } > "$corpus/seed-$(basename "$(dirname "$model")")-$(basename "${model%.mod}")"
  done
  dictionary=fuzz/tarvok.dict
else
  binary=reply_parsing_fuzz
  printf '```json\n{"model": "m", "data": "d"}\n```' > "$corpus/seed-fenced"
  printf 'Here it is:\n```\n{"a": {"b": [1, 2]}}\n```\nand ```json {"x": 1} ```' > "$corpus/seed-two-fences"
  printf 'prose {"model": "{ not } balanced", "data": ""} tail }' > "$corpus/seed-braces"
  printf '```json\xe2\x80\xa8{"a": 1}\xe3\x80\x80```' > "$corpus/seed-unicode-space"
  dictionary=fuzz/reply.dict
fi
cmake --build build/fuzz -j2 --target "$binary"
exec "build/fuzz/fuzz/$binary" "$corpus" -dict="$dictionary" -max_total_time="$seconds" \
     -rss_limit_mb=2048 -timeout=10 -max_len=262144 -print_final_stats=1 -artifact_prefix="$work/" "$@"
