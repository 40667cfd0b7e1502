#!/usr/bin/env bash
# Size limits of the engine's sources: files over FILE_MAX lines and functions over
# FUNC_MAX lines. A function is counted from its opening line (a line that starts at the
# left margin, is not a preprocessor line or a comment, and opens a brace) to the closing
# brace back at the left margin. Prints what is over and exits 1 when anything is.
set -euo pipefail
cd "$(dirname "$0")/.."
FILE_MAX=${FILE_MAX:-800}
FUNC_MAX=${FUNC_MAX:-80}
over=0
for f in engine/*.cpp engine/*.h; do
    n=$(wc -l < "$f")
    if (( n > FILE_MAX )); then
        echo "file $f: $n lines"
        over=1
    fi
done
for f in engine/*.cpp; do
    if ! awk -v max="$FUNC_MAX" -v file="$f" '
        /^[A-Za-z_].*\{[[:space:]]*$/ && !/^(namespace|struct|class|enum|union|extern)[[:space:]]/ && !/^#/ && !/=[[:space:]]*\{[[:space:]]*$/ {
            if (start == 0) { start = NR; name = $0 }
            next
        }
        /^\}/ && start > 0 {
            len = NR - start + 1
            if (len > max) { sub(/\(.*/, "", name); printf "function %s:%d %s: %d lines\n", file, start, name, len; bad = 1 }
            start = 0
        }
        END { exit bad }
    ' "$f"; then
        over=1
    fi
done
exit $over
