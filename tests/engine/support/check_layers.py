#!/usr/bin/env python3
"""Fails when an engine unit includes a header of its own layer's superiors: each layer folder may
include only the layers listed before it (engine/README.md)."""
import pathlib, re, sys

LAYERS = ["base", "expr", "table", "index", "handler", "dataset"]
ALLOWED = {"base": {"base"}, "expr": {"base", "expr"}, "table": {"base", "expr", "table"},
           "index": {"base", "index"}, "handler": {"base", "expr", "table", "index", "handler"},
           "dataset": set(LAYERS)}
engine = pathlib.Path(sys.argv[1])
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
problems = []
for layer in LAYERS:
    for unit in sorted((engine / layer).glob("*")):
        if unit.suffix not in (".h", ".cpp"):
            continue
        for n, line in enumerate(unit.read_text(errors="replace").splitlines(), 1):
            m = include.match(line)
            if not m:
                continue
            target = m.group(1).split("/")[0] if "/" in m.group(1) else None
            if target is None:
                problems.append(f"{unit}:{n}: engine headers are included by layer: {m.group(1)}")
            elif target not in ALLOWED[layer]:
                problems.append(f"{unit}:{n}: {layer} must not include {m.group(1)}")
flat = [p.name for p in engine.iterdir() if p.is_file() and p.name not in ("CMakeLists.txt", "README.md")]
problems += [f"{engine}/{name}: a unit outside the layer folders" for name in flat]
print("\n".join(problems) or "engine layers: every include runs downwards")
sys.exit(1 if problems else 0)
