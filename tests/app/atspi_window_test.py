#!/usr/bin/python3
"""The real window as a screen reader meets it, over AT-SPI.

Started by tests/app/atspi-session inside a private D-Bus session on an Xvfb display, with the toolkit's
accessibility bridge forced on. The program runs from a folder of its own beside a simulated synchronized
beacon; the test walks the accessible tree and listens to the events that a screen reader speaks:

  - names and descriptions of the memo, the listing, the buttons, the strip and the status line;
  - the rows' descriptions: command, text sent in Morse, not supported by a synchronized beacon, notice;
  - the buttons' key bindings (Alt+R, Alt+P, Alt+V) and the GPS slots' ticks;
  - Alt+R typed on the keyboard starts a read: the strip's name changes to its caption, once per caption;
    the read that follows fills the listing and tells its row count.

Usage: atspi_window_test.py PROGRAM SIMULATOR
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

TIMEOUT = 30  # seconds for anything to show up; the program runs under the sanitizers
CHECK_JUMPER = "Check jumper. Turn beacon off and then on."
INCOMPATIBLE = "Contains commands incompatible with Synchronized Beacon!"

failures = []


def check(condition, what):
    print(("ok      " if condition else "FAILED  ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def pump():
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def wait_for(predicate, timeout=TIMEOUT):
    end = time.monotonic() + timeout
    while True:
        pump()
        value = predicate()
        if value or time.monotonic() > end:
            return value
        time.sleep(0.02)


def children(obj):
    return [obj.get_child_at_index(i) for i in range(obj.get_child_count())]


def find(obj, role, name=None):
    """The first object below obj (depth first) with the role and, if given, the name."""
    for child in children(obj):
        if child is None:
            continue
        if child.get_role_name() == role and (name is None or child.get_name() == name):
            return child
        found = find(child, role, name)
        if found is not None:
            return found
    return None


def application(name):
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        if app is not None and app.get_name() == name:
            return app
    return None


def key_binding(obj):
    if "Action" not in obj.get_interfaces() or obj.get_n_actions() == 0:
        return ""
    return obj.get_key_binding(0)


ALT = 1 << 3  # the X modifier mask of Alt (Mod1)
TAB = 0xFF09  # the keysym of Tab


def press(keysym, modifiers=0):
    """Presses and releases a key on the display, with modifiers held (locked) meanwhile."""
    if modifiers:
        Atspi.generate_keyboard_event(modifiers, None, Atspi.KeySynthType.LOCKMODIFIERS)
    Atspi.generate_keyboard_event(keysym, None, Atspi.KeySynthType.SYM)
    if modifiers:
        Atspi.generate_keyboard_event(modifiers, None, Atspi.KeySynthType.UNLOCKMODIFIERS)


def states(obj):
    return {s.value_nick for s in obj.get_state_set().get_states()}


class Events:
    """Name and description changes, with the source's role and its name or description right then."""

    def __init__(self):
        self.seen = []
        self.focused = []  # names of the objects that got the focus, in order
        self.listener = Atspi.EventListener.new(self.on_event)
        self.listener.register("object:property-change:accessible-name")
        self.listener.register("object:property-change:accessible-description")
        self.listener.register("object:state-changed:focused")

    def on_event(self, event):
        try:
            source = event.source
            if event.type.startswith("object:state-changed:focused"):
                if event.detail1:
                    self.focused.append(source.get_name())
                return
            role = source.get_role_name()
            text = source.get_description() if event.type.endswith("description") else source.get_name()
        except GLib.Error:
            return
        self.seen.append((event.type.split(":")[-1], role, text))

    def said(self, kind, role):
        return [text for (k, r, text) in self.seen if k == kind and r == role]


def rows(listing):
    return [(row.get_name(), row.get_description()) for row in children(listing)]


def main():
    program, simulator = sys.argv[1], sys.argv[2]
    folder = tempfile.mkdtemp(prefix="zb-atspi-")
    sim = app_process = None
    try:
        # The program keeps its settings and default.txt beside itself: it runs from a folder of its own.
        shutil.copy(program, os.path.join(folder, "ZBeacon"))
        link = os.path.join(folder, "beacon")
        with open(os.path.join(folder, "zbeacon.ini"), "w") as ini:
            ini.write("[Comm]\nPort=9\n[Beacon]\nSynchronized=1\n[Ports]\nCOM9=%s\n" % link)
        with open(os.path.join(folder, "default.txt"), "wb") as memo:
            memo.write(b"PAvvvKGxSZ\r\n")

        sim = subprocess.Popen([simulator, "--sync", "--no-input", "--link", link, "--char-delay-us", "0"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not check(wait_for(lambda: os.path.exists(link), 10), "the simulated beacon is there"):
            return

        events = Events()
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        app_process = subprocess.Popen([os.path.join(folder, "ZBeacon")], cwd=folder, env=env)
        app = wait_for(lambda: application("Zbeacon"))
        if not check(app is not None, "the program is on the accessibility bus"):
            return
        frame = wait_for(lambda: find(app, "frame"))
        listing = wait_for(lambda: find(frame, "list", "Beacon Sequence"))
        if not check(listing is not None, "the listing is a list named 'Beacon Sequence'"):
            return

        # Names and descriptions.
        memo = find(frame, "text", "Beacon Command String")
        check(memo is not None and memo.get_description() != "", "the memo is named and described")
        strip = find(frame, "alert")
        check(strip is not None, "the alert strip is an alert")
        check(wait_for(lambda: strip.get_name() == INCOMPATIBLE, 10),
              "the strip's name is its caption (the text holds a command the synchronized beacon lacks)")
        check(listing.get_description() == "7 rows", "the listing tells its row count")
        status = find(frame, "status bar", "Status line")
        check(status is not None, "the status bar is named")

        # Rows that say what they are.
        check(rows(listing) == [("P Activate PTT", "command"),
                                ("A Set speed to 5 wpm", "not supported by a synchronized beacon"),
                                ("vvv", "text sent in Morse"),
                                ("K Key transmitter", "command"),
                                ("Gx", "text sent in Morse"),
                                ("S Wait 1 second", "command"),
                                ("Z End", "command")],
              "each row has its text and what it is")

        # The buttons' keys and the GPS slots' ticks.
        buttons = {name: find(frame, "push button", name) for name in ("Read Beacon", "Program Beacon",
                                                                       "Verify Beacon")}
        check(all(buttons.values()), "the three buttons are named by their captions")
        buttons = list(buttons.values())
        check([key_binding(b) for b in buttons] == ["Alt+R", "Alt+P", "Alt+V"],
              "the buttons' key bindings are Alt+R, Alt+P and Alt+V")
        gps = find(frame, "menu item", "GPS")
        slots = children(children(gps)[0]) if gps is not None and gps.get_child_count() else []
        check(len(slots) == 24 and "checked" in states(slots[0]) and "checked" not in states(slots[1]),
              "the GPS menu's 24 slots show their ticks")

        # Alt+R on the keyboard starts a read: the strip's new caption is announced.
        # No window manager activates the window here: a click into the memo does, as on a desktop.
        box = memo.get_extents(Atspi.CoordType.SCREEN)
        Atspi.generate_mouse_event(box.x + box.width // 2, box.y + box.height // 2, "b1c")
        check(wait_for(lambda: "focused" in states(memo), 10), "the memo has the keyboard focus")
        # Tab goes memo, Read, Program, Verify, listing.
        focus_order = ["Read Beacon", "Program Beacon", "Verify Beacon", "Beacon Sequence"]
        for name in focus_order:
            press(TAB)
            wait_for(lambda: name in events.focused, 10)
        check([n for n in events.focused if n in focus_order] == focus_order,
              "Tab moves the focus memo, Read, Program, Verify, listing: %s" % events.focused)

        # Alt+R in the listing starts a read: the strip's new caption is announced.
        del events.seen[:]
        del events.focused[:]
        press(ord("r"), ALT)
        check(wait_for(lambda: CHECK_JUMPER in events.said("accessible-name", "alert")),
              "Alt+R: the strip announces '%s'" % CHECK_JUMPER)
        # The read empties the listing, and the row that had the focus goes with it: the focus is the
        # list's.
        check(wait_for(lambda: "Beacon Sequence" in events.focused, 10),
              "the focus stays on the emptied listing: %s" % events.focused)

        # The beacon is switched on: the read fills the memo and the listing, takes the slots and adds
        # the notice.
        sim.send_signal(signal.SIGUSR1)
        check(wait_for(lambda: listing.get_child_count() == 9 and
                       rows(listing)[-1][1] == "notice"), "the read fills the listing and adds its notice")
        check(rows(listing)[-1] == ("GPS Menu set to programmed beacon slots", "notice"),
              "the notice row says it is a notice")
        said = events.said("accessible-name", "alert")
        check(said[:2] == [CHECK_JUMPER, "Reading"] and len(said) == len(set(said)),
              "the strip announced each caption once, in order: %s" % said)
        check(wait_for(lambda: "9 rows" in events.said("accessible-description", "list"), 10),
              "the new row count is told: %s" % events.said("accessible-description", "list"))
        check(len(events.said("accessible-description", "list")) <= 4,
              "the row count is told a few times, not at every change")
    finally:
        if app_process is not None:
            app_process.send_signal(signal.SIGTERM)  # closes the window as its close box does
            try:
                code = app_process.wait(TIMEOUT)
                check(code == 0, "the program ends normally (exit status %d)" % code)
            except subprocess.TimeoutExpired:
                app_process.kill()
                check(False, "the program ends when asked to")
        if sim is not None:
            sim.terminate()
            sim.wait(TIMEOUT)
        shutil.rmtree(folder, ignore_errors=True)

    print("%d failed" % len(failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
