#!/bin/sh
# The portable build's library holds none of the fast paths that a compiler flag can't turn
# off, being chosen at run time: code for AVX or AVX-512 (any ymm or zmm register), BMI and
# LZCNT, carry-less multiplication, nor the look at the processor that chooses them.
#   no_fast_paths.sh OBJDUMP NM LIBRARY
set -eu
objdump=$1 nm=$2 library=$3
status=0
"$objdump" -d -C --no-show-raw-insn "$library" | awk '
  /^[0-9a-f]+ <.*>:$/ { function_name = $0; next }
  /%[yz]mm[0-9]|:\t(pclmul|lzcnt|shlx|shrx|sarx|bzhi|pdep|pext|cpuid)/ { print function_name " " $0; found = 1 }
  END { exit found }' || status=1
if "$nm" "$library" | grep -E ' U (__cpu_model|__cpu_features2|__cpu_indicator_init)$'; then status=1; fi
if [ $status -ne 0 ]; then echo "no_fast_paths: $library holds code chosen by the processor"; fi
exit $status
