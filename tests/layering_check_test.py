#!/usr/bin/env python3
"""The layering check fails on each kind of fault it exists for, over a small tree of its own."""
import os
import subprocess
import sys
import tempfile

script = sys.argv[1]

LAYERS = "\n".join([
    "core\tsorvane_core\t1\t\t",
    "input\tsorvane_input\t1\tsorvane_core\t",
    "ui\tsorvane_ui\t0\tsorvane_input,Qt6::Widgets\t",
    "platform/linux\tsorvane_platform_linux\t0\tsorvane_input\tQt6::Core",
    "app\tsorvane_app\t0\tsorvane_ui\tsorvane_platform_linux",
]) + "\n"
DOC = "```mermaid\ngraph TD\n  app --> platform_linux\n  app --> ui\n  input --> core\n  platform_linux --> input\n  ui --> input\n```\n"

CASES = [
    # name, files to write {path: text}, layers override or None, doc override or None, expected text or None (passes)
    ("clean tree", {}, None, None, None),
    ("upward include", {"platform/linux/x.h": '#include "app/a.h"\n'}, None, None,
     "platform/linux/x.h: includes app/a.h, but platform/linux does not link app"),
    ("sideways include", {"ui/w.h": '#include "platform/linux/p.h"\n'}, None, None,
     "ui/w.h: includes platform/linux/p.h, but ui does not link platform/linux"),
    ("Qt header in a pure layer", {"input/k.h": "#include <QObject>\n"}, None, None,
     "input/k.h: includes <QObject> in a pure layer"),
    ("desktop header outside platform", {"ui/w.h": "#include <X11/Xlib.h>\n"}, None, None,
     "ui/w.h: includes <X11/Xlib.h> outside platform/"),
    ("pure layer linking Qt", {}, LAYERS.replace("input\tsorvane_input\t1\tsorvane_core\t",
                                                 "input\tsorvane_input\t1\tsorvane_core\tQt6::Core"), None,
     "input: marked pure but links Qt6::Core"),
    ("picture misses an arrow", {}, None, DOC.replace("  ui --> input\n", ""), "misses ui --> input"),
    ("picture draws an implied arrow", {}, None, DOC.replace("  ui --> input\n", "  ui --> input\n  ui --> core\n"),
     "draws ui --> core"),
]

failures = 0
for name, files, layers, doc, expected in CASES:
    with tempfile.TemporaryDirectory() as root:
        src = os.path.join(root, "src")
        for folder in ("core", "input", "ui", "platform/linux", "app"):
            os.makedirs(os.path.join(src, folder))
        for path, text in {"app/a.h": "", "platform/linux/p.h": '#include "input/k.h"\n', "input/k.h": "",
                           **files}.items():
            with open(os.path.join(src, path), "w", encoding="utf-8") as f:
                f.write(text)
        with open(os.path.join(root, "layers.tsv"), "w", encoding="utf-8") as f:
            f.write(layers or LAYERS)
        with open(os.path.join(root, "architecture.md"), "w", encoding="utf-8") as f:
            f.write(doc or DOC)
        run = subprocess.run([sys.executable, script, "--layers", os.path.join(root, "layers.tsv"), "--src", src,
                              "--doc", os.path.join(root, "architecture.md")], capture_output=True, text=True)
        ok = run.returncode == 0 if expected is None else (run.returncode == 1 and expected in run.stdout)
        if not ok:
            failures += 1
            print(f"FAIL {name}: status {run.returncode}\n{run.stdout}{run.stderr}")
passed = len(CASES) - failures
print(f"{passed} passed, {failures} failed")
sys.exit(1 if failures else 0)
