#!/usr/bin/env python3
"""Where the bytes of a PE file go: the total, each section's raw size and the resources by type.

    python3 scripts/size_report.py build/win32/bin/setup.exe [--previous FILE] [--json]

With --previous, the figures are compared with those kept in FILE by the run before, and FILE
then holds this run's (the build runs it after every link of the stub, so a change shows its cost).
"""

import argparse
import json
import os
import struct
import sys

RESOURCE_TYPES = {1: "CURSOR", 2: "BITMAP", 3: "ICON", 4: "MENU", 5: "DIALOG", 6: "STRING", 9: "ACCELERATOR",
                  10: "RCDATA", 12: "GROUP_CURSOR", 14: "GROUP_ICON", 16: "VERSION", 24: "MANIFEST"}


def parse(data):
    if data[:2] != b"MZ":
        raise ValueError("not an MZ executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    nsections, optsize = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    headers = struct.unpack_from("<I", data, opt + 60)[0]
    sections = []
    for i in range(nsections):
        off = opt + optsize + 40 * i
        name = data[off:off + 8].rstrip(b"\0").decode("ascii", "replace")
        vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, off + 8)
        sections.append({"name": name, "raw": rsize, "virtual": vsize, "rva": vaddr, "offset": raddr})
    end = max((s["offset"] + s["raw"] for s in sections if s["raw"]), default=headers)

    def at(rva):
        for s in sections:
            if s["rva"] <= rva < s["rva"] + max(s["virtual"], s["raw"]):
                return rva - s["rva"] + s["offset"]
        raise ValueError(f"RVA {rva:#x} outside every section")

    resources = {}
    resource_rva = struct.unpack_from("<I", data, dirs + 16)[0]
    if resource_rva:
        root = at(resource_rva)

        def entries(table):
            named, ids = struct.unpack_from("<HH", data, table + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", data, table + 16 + 8 * i)
                yield ident, target

        def leaves(target):
            if target & 0x80000000:
                for _, child in entries(root + (target & 0x7FFFFFFF)):
                    yield from leaves(child)
            else:
                yield struct.unpack_from("<I", data, root + target + 4)[0]

        for ident, target in entries(root):
            if ident & 0x80000000:
                length = struct.unpack_from("<H", data, root + (ident & 0x7FFFFFFF))[0]
                start = root + (ident & 0x7FFFFFFF) + 2
                kind = data[start:start + 2 * length].decode("utf-16-le")
            else:
                kind = RESOURCE_TYPES.get(ident, str(ident))
            sizes = list(leaves(target))
            resources[kind] = {"count": len(sizes), "bytes": sum(sizes)}
    return {"total": len(data), "headers": headers, "overlay": len(data) - end, "sections": sections,
            "resources": resources}


def delta(now, before):
    if before is None or now == before:
        return ""
    return f" ({now - before:+d})"


def report(path, info, previous):
    prev_sections = {s["name"]: s["raw"] for s in previous["sections"]} if previous else {}
    prev_used = {s["name"]: s["virtual"] for s in previous["sections"]} if previous else {}
    prev_resources = {k: v["bytes"] for k, v in previous["resources"].items()} if previous else {}
    lines = [f"{os.path.basename(path)}: {info['total']} bytes ({info['total'] / 1024:.1f} KiB)"
             f"{delta(info['total'], previous and previous['total'])}"]
    # The file holds each section rounded up to 512 bytes; "used" is what the section really holds.
    lines.append(f"  {'section':10} {'in file':>8} {'used':>16}")
    lines.append(f"  {'headers':10} {info['headers']:>8}")
    for s in info["sections"]:
        if s["raw"] or prev_sections.get(s["name"]):
            used = f"{s['virtual']}{delta(s['virtual'], prev_used.get(s['name']))}"
            lines.append(f"  {s['name']:10} {s['raw']:>8} {used:>16}{delta(s['raw'], prev_sections.get(s['name']))}")
    for name in sorted(prev_sections.keys() - {s["name"] for s in info["sections"]}):
        if prev_sections[name]:
            lines.append(f"  {name:10} {0:>8} {0:>16}{delta(0, prev_sections[name])}")
    if info["overlay"]:
        lines.append(f"  {'(overlay)':10} {info['overlay']:>8}")
    if info["resources"]:
        lines.append("  resources (data only):")
        for kind, r in info["resources"].items():
            lines.append(f"    {kind:12} {r['bytes']:>8} in {r['count']}{delta(r['bytes'], prev_resources.get(kind))}")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("exe")
    parser.add_argument("--previous", help="JSON file with the previous figures, replaced by these")
    parser.add_argument("--json", action="store_true", help="print the figures as JSON")
    args = parser.parse_args()
    with open(args.exe, "rb") as f:
        info = parse(f.read())
    previous = None
    if args.previous and os.path.isfile(args.previous):
        try:
            with open(args.previous) as f:
                previous = json.load(f)
        except (OSError, ValueError):
            previous = None
    print(json.dumps(info, indent=2) if args.json else report(args.exe, info, previous))
    if args.previous:
        with open(args.previous, "w") as f:
            json.dump(info, f)
    return 0


if __name__ == "__main__":
    sys.exit(main())
