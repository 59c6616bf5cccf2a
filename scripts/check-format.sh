#!/usr/bin/env bash
# Checks that every C++ source of the project follows .clang-format; lists the deviations and fails
# when there are any. Build folders and generated files are not checked. `clang-format -i FILE` fixes
# a file.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h' | grep -vE '(^|/)(build[^/]*|generated)/' || true)
else
    mapfile -t files < <(find . -path './build*' -prune -o -path '*/generated/*' -prune -o \
        \( -name '*.cpp' -o -name '*.h' \) -type f -print | sed 's|^\./||' | sort)
fi
if [ ${#files[@]} -eq 0 ]; then
    echo "varnel: no C++ sources found to check" >&2
    exit 1
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
    echo "varnel: formatting differs from .clang-format in the files above (fix: clang-format -i FILE)" >&2
    exit 1
fi
echo "varnel: ${#files[@]} C++ files formatted as .clang-format asks"
