#!/usr/bin/env python3
"""docs/protocol.md must name every key of the schemas and every command.

Usage: check_protocol_names.py SOURCE_DIR

Keys come from the "properties" of every schema in docs/schema, commands from the
constants in src/core/commands.h, so neither list is kept twice. A key counts as
named when it appears as a code span (`key`), a command when a code span starts
with it (`rate N`).
"""

import json
import pathlib
import re
import sys


def schema_keys(node, found):
    if isinstance(node, dict):
        found.update(node.get("properties", {}).keys())
        for value in node.values():
            schema_keys(value, found)
    elif isinstance(node, list):
        for value in node:
            schema_keys(value, found)
    return found


def main(source):
    root = pathlib.Path(source)
    protocol = (root / "docs/protocol.md").read_text(encoding="utf-8")
    spans = set(re.findall(r"`([^`\n]+)`", protocol))

    keys = set()
    for schema in sorted((root / "docs/schema").glob("*.schema.json")):
        schema_keys(json.loads(schema.read_text(encoding="utf-8")), keys)
    commands = re.findall(r'std::string_view k\w+ = "([^"]+)";', (root / "src/core/commands.h").read_text())
    if not keys or not commands:
        return "found no schema keys or no commands: has a file moved?"

    missing = sorted(key for key in keys if key not in spans)
    missing += sorted(f"command {c.strip()!r}" for c in commands
                      if not any(span == c.strip() or span.startswith(c.strip() + " ") for span in spans))
    if missing:
        return "docs/protocol.md does not name: " + ", ".join(missing)
    print(f"docs/protocol.md names all {len(keys)} schema keys and {len(commands)} commands")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
