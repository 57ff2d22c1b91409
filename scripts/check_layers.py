#!/usr/bin/env python3
"""Fails when a folder of src/ includes one below which it stands, or when files need each other.

Each folder may include itself and the folders listed for it. A module is a file without its
extension (a header and its source count as one); no module may reach itself through the modules
it calls into, nor a header reach itself through the headers it includes. A header without a
source beside it (types, or an interface implemented elsewhere) is called into by nobody.
"""
import os
import re
import sys

# Folder -> the folders it may include besides itself.
ALLOWED = {
    "common": set(),
    "package": {"common"},
    "platform": {"common"},
    "setupmain": {"common", "package", "platform"},
    "setup": {"common", "package", "platform", "setupmain"},
    "scrpack": {"common", "package"},
}
# The platform's implementations are its own: above it, only the Windows entry point may use one.
PRIVATE = ("platform/win32/", "platform/standin/")
PRIVATE_USERS = {"setup/winmain.cpp": ("platform/win32/",)}

SOURCE = re.compile(r"\.(h|hpp|c|cpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def files_of(root):
    for folder, _, names in os.walk(root):
        for name in sorted(names):
            if SOURCE.search(name):
                yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def resolve(root, source, include):
    """The included file relative to root: beside the includer first, then below root."""
    for base in (os.path.dirname(os.path.join(root, source)), root):
        path = os.path.normpath(os.path.join(base, include))
        if os.path.isfile(path):
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            if not rel.startswith("../"):
                return rel
    return None


def check(root):
    """(problems, file count, include count) for the tree below root."""
    problems = []
    graph = {}
    headers = {}
    files = list(files_of(root))
    includes = 0
    for source in files:
        with open(os.path.join(root, source), encoding="utf-8", errors="replace") as f:
            text = f.read()
        layer = source.split("/")[0]
        module = SOURCE.sub("", source)
        graph.setdefault(module, set())
        if layer not in ALLOWED:
            problems.append(f"src/{source}: in a folder of no known layer")
            continue
        for include in INCLUDE.findall(text):
            includes += 1
            target = resolve(root, source, include)
            if target is None:
                problems.append(f'src/{source}: includes "{include}", which is no file of src/')
                continue
            other = target.split("/")[0]
            if other != layer and other not in ALLOWED[layer]:
                problems.append(f"src/{source}: includes src/{target} ({layer} may not include {other})")
            elif other != layer and target.startswith(PRIVATE) and not target.startswith(PRIVATE_USERS.get(source, ())):
                problems.append(f"src/{source}: includes src/{target} (the platform's own implementation)")
            target_module = SOURCE.sub("", target)
            if target_module != module:
                graph[module].add(target_module)
                if not source.endswith((".c", ".cpp")):
                    headers.setdefault(module, set()).add(target_module)
    implemented = {SOURCE.sub("", f) for f in files if f.endswith((".c", ".cpp"))}
    # A call goes into a module with a source; a header's own includes bind it regardless.
    calls = {m: {n for n in targets if n in implemented} | headers.get(m, set()) for m, targets in graph.items()}
    problems += [f"cycle: {' -> '.join(c)}" for c in cycles(calls)]
    return problems, len(files), includes


def cycles(graph):
    """One cycle for every strongly connected group of modules that need each other."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == node:
                    break
            if len(group) > 1:
                found.append(path_through(graph, set(group), min(group)))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def path_through(graph, group, start):
    """A chain start -> ... -> start inside the group (breadth first, so the shortest)."""
    previous = {start: None}
    queue = [start]
    while queue:
        node = queue.pop(0)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in group:
                continue
            if nxt == start:
                chain = [node]
                while previous[chain[-1]] is not None:
                    chain.append(previous[chain[-1]])
                return list(reversed(chain)) + [start]
            if nxt not in previous:
                previous[nxt] = node
                queue.append(nxt)
    return [start, start]


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    problems, files, includes = check(os.path.abspath(root))
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"layers: {files} files, {includes} includes, no violations")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
