#!/usr/bin/env bash
# Lays the C++ sources out as .clang-format says: scripts/format.sh [--check] [FILE...]
# Without files, every .cpp, .h and .c that git tracks. --check changes nothing and fails, naming the
# files that are not laid out so (scripts/test.sh runs it so).
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
if [ "${1:-}" = "--check" ]; then
    check=1
    shift
fi
scripts/deps.sh clang-format
files=("$@")
[ ${#files[@]} -gt 0 ] || mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')

if [ $check -eq 0 ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
unformatted=()
for f in "${files[@]}"; do
    clang-format "$f" | cmp -s - "$f" || unformatted+=("$f")
done
if [ ${#unformatted[@]} -gt 0 ]; then
    echo "format: FAIL ${#unformatted[@]} file(s) not laid out as .clang-format says (run scripts/format.sh):"
    printf '    %s\n' "${unformatted[@]}"
    exit 1
fi
echo "format: ${#files[@]} files laid out as .clang-format says"
