#!/usr/bin/env bash
# The compilers and runtimes of the sanitizer and fuzzing builds (CI only; as root):
# clang 14 with its compiler-rt (AddressSanitizer, UBSan, ThreadSanitizer, libFuzzer).
set -euo pipefail
"$(dirname "$0")/install-deps.sh"
packages=(clang libclang-rt-14-dev llvm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
