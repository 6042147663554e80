#!/usr/bin/python3
# Fixture windows and clipboard owners for the X11 adapter tests (GTK 3).
#   owner TEXT HTML   own the CLIPBOARD with UTF8_STRING, text/plain;charset=utf-8 and
#                     text/html; prints "owned". With --on-demand it waits for a line
#                     "take" on stdin first. Exits when stdin closes. --stall-html: the
#                     HTML request hangs for 2 s; --html-bytes N: N bytes of HTML.
#                     --primary: the PRIMARY selection instead of the CLIPBOARD.
#   entry CLASS TITLE a window with a GtkEntry and WM_CLASS CLASS; prints "text=..." on
#                     every change and "key=..." for each key press with Control.
#   plain CLASS TITLE the same window without an entry: it never reads the clipboard.
import sys
import time
import warnings

import gi

warnings.filterwarnings("ignore", category=DeprecationWarning)
gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(line):
    print(line, flush=True)


def watch_stdin(on_line):
    def ready(channel, condition):
        line = sys.stdin.readline()
        if not line:
            Gtk.main_quit()
            return False
        on_line(line.strip())
        return True

    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IOCondition.IN | GLib.IOCondition.HUP, ready)


def owner(text, html, on_demand, stall_html, primary):
    widget = Gtk.Invisible()
    clipboard = Gdk.Atom.intern("PRIMARY" if primary else "CLIPBOARD", False)
    targets = [("UTF8_STRING", 1), ("text/plain;charset=utf-8", 1), ("text/html", 2)]

    def take():
        Gtk.selection_owner_set(widget, clipboard, Gdk.CURRENT_TIME)
        for name, info in targets:
            Gtk.selection_add_target(widget, clipboard, Gdk.Atom.intern(name, False), info)
        say("owned")

    def get(w, data, info, stamp):
        if info == 1:
            data.set(data.get_target(), 8, text.encode())
        else:
            if stall_html:
                time.sleep(2)
            data.set(Gdk.Atom.intern("text/html", False), 8, html.encode())

    widget.connect("selection-get", get)
    say("started")
    watch_stdin(lambda line: take() if line == "take" else None)
    if not on_demand:
        take()


def window(wm_class, title, with_entry):
    win = Gtk.Window(title=title)
    win.set_wmclass(wm_class, wm_class.capitalize())
    win.set_default_size(300, 60)
    if with_entry:
        entry = Gtk.Entry()
        entry.connect("changed", lambda e: say("text=" + e.get_text()))
        win.add(entry)
    else:
        area = Gtk.DrawingArea()
        area.set_can_focus(True)
        win.add(area)

    def key(w, event):
        if event.state & Gdk.ModifierType.CONTROL_MASK:
            mods = "control+" + ("shift+" if event.state & Gdk.ModifierType.SHIFT_MASK else "")
            say("key=" + mods + Gdk.keyval_name(Gdk.keyval_to_lower(event.keyval)))
        return False

    win.connect("key-press-event", key)
    win.connect("map-event", lambda w, e: say("ready"))
    win.show_all()
    watch_stdin(lambda line: None)


mode = sys.argv[1]
if mode == "owner":
    flags = [a for a in sys.argv[2:] if a.startswith("--")]
    args = [a for a in sys.argv[2:] if not a.startswith("--")]
    html = args[1]
    if "--html-bytes" in flags:
        html = "x" * int(args[2])
    owner(args[0], html, "--on-demand" in flags, "--stall-html" in flags, "--primary" in flags)
else:
    window(sys.argv[2], sys.argv[3], mode == "entry")
Gtk.main()
