#!/usr/bin/env bash
# Builds the compiler fuzzer and runs it on one core:  fuzz/run.sh [SECONDS [LIBFUZZER FLAGS...]]
# Seeds are the language cases (model, "\n%%\n", data); findings land in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift $(( $# > 0 ? 1 : 0 ))
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DTARVOK_FUZZ=ON >/dev/null
cmake --build build/fuzz -j2 --target compiler_fuzz
corpus=build/fuzz/corpus
mkdir -p "$corpus"
for model in tests/compiler_cases/*.mod; do
  data="${model%.mod}.dat"
  { cat "$model"; printf '\n%%%%\n'; if [ -f "$data" ]; then cat "$data"; fi; } > "$corpus/seed-$(basename "${model%.mod}")"
done
exec build/fuzz/fuzz/compiler_fuzz "$corpus" -dict=fuzz/tarvok.dict -max_total_time="$seconds" \
     -rss_limit_mb=2048 -timeout=10 -max_len=65536 -print_final_stats=1 -artifact_prefix=build/fuzz/ "$@"
