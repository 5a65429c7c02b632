#!/usr/bin/env bash
# The whole test suite once per instruction-set tier that this processor
# offers, each forced with QUARVEL_ISA; says which tiers it ran and which it
# could not run here. Usage: scripts/check_tiers.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
offered=$("$build/tests/quarvel_offered_tiers")
ran=()
for tier in $offered; do
  echo "== tests with QUARVEL_ISA=$tier"
  QUARVEL_ISA=$tier ctest --test-dir "$build" --output-on-failure -j2
  ran+=("$tier")
done
missing=()
for tier in portable avx2 avx512; do
  case " ${ran[*]} " in *" $tier "*) ;; *) missing+=("$tier") ;; esac
done
echo "== tiers run: ${ran[*]}${missing:+; not offered by this processor, not run: ${missing[*]}}"
