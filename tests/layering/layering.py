#!/usr/bin/env python3
"""Which folder of src/ may include which, and no include cycle between files.

Each folder may include itself and the folders on its row; the interface
header src/votar.h is everyone's. Prints every broken rule and exits 1."""
import os
import re
import sys

MAY_INCLUDE = {
    "platform": [],
    "base": ["platform"],
    "names": ["base", "platform"],
    "codec": ["base", "platform"],
    "session": ["names", "base", "platform"],
    "tar": ["names", "base", "platform"],
    "archive": ["tar", "names", "base", "platform"],
    "ops": ["archive", "tar", "codec", "session", "names", "base", "platform"],
    "api": ["ops", "archive", "tar", "codec", "session", "names", "base", "platform"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def includes(src):
    """file (relative to src) -> the project files it includes."""
    graph = {}
    for folder, _, files in os.walk(src):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, src)
            with open(path, encoding="utf-8") as f:
                text = f.read()
            graph[rel] = [os.path.normpath(os.path.join(os.path.dirname(rel), i))
                          for i in INCLUDE.findall(text)]
    return graph


def folder_of(rel):
    return rel.split(os.sep)[0] if os.sep in rel else None


def broken_rules(graph):
    for rel, targets in sorted(graph.items()):
        mine = folder_of(rel)
        for target in targets:
            theirs = folder_of(target)
            if theirs is None or theirs == mine:
                continue
            if mine not in MAY_INCLUDE:
                yield f"{rel}: folder {mine} has no row in the table"
            elif theirs not in MAY_INCLUDE[mine]:
                yield f"{rel} includes {target}: {mine} may not include {theirs}"


def cycles(graph):
    """A cycle through headers, if any, as a list of files."""
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, []):
            if nxt not in graph:
                continue
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                yield " -> ".join(found)
                return


def folder_cycles(graph):
    """Folders that include each other, through any files."""
    edges = set()
    for rel, targets in graph.items():
        for target in targets:
            a, b = folder_of(rel), folder_of(target)
            if a and b and a != b:
                edges.add((a, b))
    for a, b in sorted(edges):
        if (b, a) in edges and a < b:
            yield f"folders {a} and {b} include each other"


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), "..", "..", "src")
    graph = includes(src)
    problems = list(broken_rules(graph)) + list(folder_cycles(graph)) + [
        "include cycle: " + c for c in cycles(graph)]
    for p in problems:
        print(p)
    print(f"layering: {len(graph)} files, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
