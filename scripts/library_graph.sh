#!/usr/bin/env bash
# Writes the project's library graph (cmake --graphviz) and fails when the libraries link
# in a circle. Test programs are left out: they depend on their own test discovery step.
#   scripts/library_graph.sh [BUILD_DIR]   -> BUILD_DIR/graph/libraries.dot
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mkdir -p "$build/graph"
cmake --graphviz="$build/graph/libraries.dot" "$build" > /dev/null
python3 - "$build/graph/libraries.dot" <<'PY'
import collections, re, sys
text = open(sys.argv[1]).read()
names = dict(re.findall(r'"(node\d+)" \[ label = "([^"]+)"', text))
graph = collections.defaultdict(set)
for a, b in re.findall(r'"(node\d+)" -> "(node\d+)"', text):
    graph[names[a]].add(names[b])
ours = sorted(n for n in names.values() if n.startswith("rs_"))
state, circles = {}, []
def visit(node, path):
    state[node] = 1
    path.append(node)
    for nxt in graph[node]:
        if not nxt.startswith("rs_"):
            continue
        if state.get(nxt) == 1:
            circles.append(path[path.index(nxt):] + [nxt])
        elif nxt not in state:
            visit(nxt, path)
    path.pop()
    state[node] = 2
for n in ours:
    if n not in state:
        visit(n, [])
for n in ours:
    print(f"{n} -> {', '.join(sorted(x for x in graph[n] if x.startswith('rs_'))) or '(none)'}")
if circles:
    for c in circles:
        print("circle: " + " -> ".join(c))
    sys.exit(1)
print("no circle among", len(ours), "libraries")
PY
