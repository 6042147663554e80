#!/usr/bin/env python3
"""Holds the source tree to its layers.

Reads the table CMake writes (folder, target, pure, public and private dependencies, one
layer a line) and checks:
- every `#include "folder/..."` of a layer names its own folder or one it links, directly
  or through its dependencies, so no folder includes one above it;
- a layer marked pure links no Qt, directly or through its dependencies, and includes no
  Qt header;
- only platform/ includes the desktop system headers (X11, XCB, AT-SPI, PulseAudio, evdev);
- with --doc, the graph drawn in the architecture page is exactly the graph CMake builds,
  reduced to its direct arrows (an arrow implied by two others is not drawn).
Exit status 0 when all holds, 1 with one line per fault otherwise.
"""
import argparse
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^">]+)[">]', re.MULTILINE)
SYSTEM_DESKTOP = ("X11/", "xcb/", "atspi/", "pulse/", "libevdev", "libudev", "linux/input", "linux/uinput")


def read_layers(path):
    layers = {}
    with open(path, encoding="utf-8") as table:
        for line in table:
            line = line.rstrip("\n")
            if not line:
                continue
            folder, target, pure, public, private = (line.split("\t") + ["", ""])[:5]
            deps = [d for d in (public.split(",") + private.split(",")) if d]
            layers[folder] = {"target": target, "pure": pure == "1", "deps": deps}
    return layers


def folder_graph(layers):
    by_target = {info["target"]: folder for folder, info in layers.items()}
    graph, outside = {}, {}
    for folder, info in layers.items():
        graph[folder] = {by_target[d] for d in info["deps"] if d in by_target}
        outside[folder] = {d for d in info["deps"] if d not in by_target}
    return graph, outside


def closure(graph, start):
    seen, stack = set(), list(graph[start])
    while stack:
        folder = stack.pop()
        if folder not in seen:
            seen.add(folder)
            stack.extend(graph[folder])
    return seen


def reduced_edges(graph):
    edges = set()
    for folder, deps in graph.items():
        for dep in deps:
            implied = any(dep in closure(graph, other) for other in deps if other != dep)
            if not implied:
                edges.add((folder, dep))
    return edges


def owner(layers, relative):
    """The layer folder a path under src/ belongs to: the longest layer folder containing it."""
    best = None
    for folder in layers:
        if relative.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def check_includes(layers, graph, outside, src):
    faults = []
    for folder in sorted(layers):
        allowed = closure(graph, folder) | {folder}
        if layers[folder]["pure"]:
            linked = set(outside[folder])
            for dep in closure(graph, folder):
                linked |= outside[dep]
            qt = sorted(d for d in linked if d.startswith("Qt"))
            if qt:
                faults.append(f"{folder}: marked pure but links {', '.join(qt)}")
        directory = os.path.join(src, folder)
        for name in sorted(os.listdir(directory)):
            path = os.path.join(directory, name)
            if not (os.path.isfile(path) and name.endswith((".h", ".cpp"))):
                continue
            relative = f"{folder}/{name}"
            with open(path, encoding="utf-8") as source:
                text = source.read()
            for kind, header in INCLUDE.findall(text):
                if kind == "<":
                    if layers[folder]["pure"] and re.match(r"Q[A-Za-z]+$|Qt[A-Za-z]*/", header):
                        faults.append(f"{relative}: includes <{header}> in a pure layer")
                    if header.startswith(SYSTEM_DESKTOP) and not folder.startswith("platform/"):
                        faults.append(f"{relative}: includes <{header}> outside platform/")
                    continue
                if not os.path.isfile(os.path.join(src, header)):
                    continue
                target_folder = owner(layers, header)
                if target_folder is None:
                    faults.append(f"{relative}: includes {header}, which belongs to no layer")
                elif target_folder not in allowed:
                    faults.append(f"{relative}: includes {header}, but {folder} does not link {target_folder}")
    return faults


def check_doc(graph, doc):
    with open(doc, encoding="utf-8") as page:
        text = page.read()
    block = re.search(r"```mermaid\n(.*?)```", text, re.DOTALL)
    if not block:
        return [f"{doc}: no mermaid graph of the folders"]
    drawn = set()
    for a, b in re.findall(r'^\s*([\w/]+)(?:\[[^\]]*\])?\s*-->\s*([\w/]+)', block.group(1), re.MULTILINE):
        drawn.add((a.replace("_", "/"), b.replace("_", "/")))
    built = reduced_edges(graph)
    faults = [f"{doc}: draws {a} --> {b}, which CMake does not build (or implies through others)"
              for a, b in sorted(drawn - built)]
    faults += [f"{doc}: misses {a} --> {b}" for a, b in sorted(built - drawn)]
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--layers", required=True)
    parser.add_argument("--src", required=True)
    parser.add_argument("--doc")
    parser.add_argument("--print-graph", action="store_true", help="print the reduced graph as mermaid arrows")
    args = parser.parse_args()
    layers = read_layers(args.layers)
    graph, outside = folder_graph(layers)
    if args.print_graph:
        for a, b in sorted(reduced_edges(graph)):
            print(f"  {a.replace('/', '_')} --> {b.replace('/', '_')}")
        return 0
    faults = check_includes(layers, graph, outside, args.src)
    if args.doc:
        faults += check_doc(graph, args.doc)
    for fault in faults:
        print(fault)
    if not faults:
        print(f"layering ok: {len(layers)} layers")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
