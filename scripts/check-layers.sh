#!/usr/bin/env bash
# Fails on an #include in src/ that points up or sideways against the order
# of the folders below, naming the file, the line and the rule broken.
# Each folder may use its own headers and those of the folders listed after
# it (a folder's sub-folders, such as app/cli, are part of it):
#
#   model:   (nothing else)
#   barcode: (nothing else)
#   store:   model
#   import:  model
#   render:  model barcode
#   editor:  model store
#   app:     model barcode store import render editor
#   ui:      model barcode store import render editor app
#
# An include is resolved as the compiler resolves it: a quoted name first
# relative to the including file, then from src/, so "../store/x.h" or a
# bare "x.h" of another folder counts as what it names. Names that are no
# file of src/ (Qt, system headers, generated moc files) are not checked.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

exec /usr/bin/python3 - <<'EOF'
import os, re, sys

# The order is the one written at the top of this script.
ORDER = {}
for line in open("scripts/check-layers.sh", encoding="utf-8"):
    m = re.match(r"#\s{3}(\w+):\s+(.*)$", line)
    if m:
        ORDER[m.group(1)] = set() if m.group(2).startswith("(") else set(m.group(2).split())

SRC = "src"
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
SOURCES = (".h", ".hpp", ".cpp", ".cc", ".c")
failures = 0

def folder(path):
    """The top folder under src/ of a path relative to the project root."""
    parts = os.path.relpath(path, SRC).split(os.sep)
    return parts[0] if len(parts) > 1 and parts[0] != ".." else None

for root, _, names in os.walk(SRC):
    for name in sorted(names):
        if not name.endswith(SOURCES):
            continue
        path = os.path.join(root, name)
        own = folder(path)
        with open(path, encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                quoted, target = m.group(1) == '"', m.group(2)
                candidates = [os.path.join(root, target)] if quoted else []
                candidates.append(os.path.join(SRC, target))
                found = next((os.path.normpath(c) for c in candidates if os.path.isfile(c)), None)
                if not found:
                    continue
                used = folder(found)
                if used == own:
                    continue
                if own not in ORDER or used not in ORDER:
                    rule = "%s/ is not in the layer order" % (own if own not in ORDER else used)
                elif used in ORDER[own]:
                    continue
                else:
                    allowed = ", ".join(f + "/" for f in sorted(ORDER[own]))
                    rule = "%s/ may use %s" % (own, ("only " + allowed) if allowed else "no other folder")
                print("%s:%d: includes %s (%s): %s" % (path, number, target, os.path.relpath(found, SRC), rule))
                failures += 1

if failures:
    print("check-layers: %d include(s) against the layer order" % failures, file=sys.stderr)
    sys.exit(1)
EOF
