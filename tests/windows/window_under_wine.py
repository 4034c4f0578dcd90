#!/usr/bin/env python3
"""The Windows window as an operator meets it, under Wine on a virtual display.

Copies the program folder (a portable copy keeps its settings beside itself), starts ZBeacon.exe under Wine
on Xvfb, waits for its main window, takes a screenshot and checks the designed layout in it (the command
memo, the alert strip below it and the sequence listing at the bottom, in their designed places relative to
each other), then closes the window from File > Exit with the mouse, as an operator would, and checks that
the program ended and wrote its settings file.

Usage: window_under_wine.py PROGRAM_DIR WINE_RUN SCREENSHOT.png
Exit status 0 when all holds, 1 on a failed check, 77 when Xvfb or xdotool is missing."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

# The caption: the program's name, or "Zindle Beacon: " and the current command file.
TITLE_PATTERN = "^Zindle Beacon(: | Setup$)"


def fail(message):
    print("window under Wine: " + message, file=sys.stderr)
    sys.exit(1)


def wait_for(what, predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)  # polling an outside process (X server, Wine): there is no event to wait on
    fail("timed out waiting for " + what)


def read_xwd(data):
    """The pixels of an xwd dump (ZPixmap, 24 or 32 bits per pixel) as (width, height, rows of RGB)."""
    fields = struct.unpack(">25I", data[:100])
    header_size, version, pixmap_format, depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14:17]
    ncolors = fields[19]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
        fail("unexpected screenshot format")
    offset = header_size + ncolors * 12
    step = bits_per_pixel // 8
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        row = []
        for x in range(width):
            chunk = line[x * step: x * step + step]
            value = int.from_bytes(chunk, "little" if byte_order == 0 else "big")
            row.append(tuple((value & mask) >> (mask & -mask).bit_length() - 1
                             for mask in (red_mask, green_mask, blue_mask)))
        rows.append(row)
    return width, height, rows


def write_png(path, width, height, rows):
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


# The designed fills: the command memo light yellow, the sequence listing light cyan.
MEMO_COLOUR = (255, 255, 144)
LISTING_COLOUR = (192, 255, 255)


def colour_areas(width, height, rows, colour, min_width=150, min_height=15):
    """Rectangles (left, top, width, height) of one fill colour, found as runs of that colour that repeat in
    consecutive rows; text, the caret and a listing row of another colour split an area's rows, so runs up to
    40 rows apart are joined."""
    def white(p):
        return all(abs(a - b) <= 3 for a, b in zip(p, colour))
    open_runs = {}  # (left, width) -> [top, last row]
    areas = []
    for y in range(height):
        row = rows[y]
        x = 0
        seen = set()
        while x < width:
            if white(row[x]):
                start = x
                while x < width and white(row[x]):
                    x += 1
                if x - start >= min_width:
                    key = (start, x - start)
                    seen.add(key)
                    if key in open_runs and y - open_runs[key][1] <= 40:
                        open_runs[key][1] = y
                    else:
                        open_runs[key] = [y, y]
            else:
                x += 1
        for key in list(open_runs):
            top, last = open_runs[key]
            if key not in seen and y - last > 40:
                if last - top + 1 >= min_height:
                    areas.append((key[0], top, key[1], last - top + 1))
                del open_runs[key]
    for key, (top, last) in open_runs.items():
        if last - top + 1 >= min_height:
            areas.append((key[0], top, key[1], last - top + 1))
    return areas


def close(a, b, tolerance=4):
    return abs(a - b) <= tolerance


def check_layout(width, height, rows):
    def largest(colour):
        areas = colour_areas(width, height, rows, colour)
        return max(areas, key=lambda a: a[2] * a[3]) if areas else None
    memo = largest(MEMO_COLOUR)
    listing = largest(LISTING_COLOUR)
    if memo is None or listing is None:
        fail("the memo (%s) or the listing (%s) was not found in its colour" % (memo, listing))
    # Designed client places: memo (6, 28) 69 high, strip (18, 130) 21 high and 22 narrower than the memo,
    # listing 338 high at the bottom, 4 further left and 13 wider than the memo. The areas found are the
    # fills inside the sunken frames (the memo's without its scroll bar), so sizes have a few pixels' play.
    if not (50 <= memo[3] <= 69 and 300 <= listing[3] <= 338):
        fail("memo %s or listing %s does not have its designed height" % (memo, listing))
    if not (close(listing[0] + 4, memo[0], 6) and memo[2] < listing[2] <= memo[2] + 40 and
            listing[1] >= memo[1] + 140):
        fail("listing %s is not below the memo %s as designed" % (listing, memo))
    # The strip: a raised panel 102 pixels below the memo's top, a light top edge and a dark bottom edge.
    strip_top = memo[1] - 2 + 102
    strip_left = memo[0] - 2 + 12
    strip_width = listing[2] - 13 + 4 - 22
    def brightness(p):
        return sum(p) / 3
    middle = strip_left + strip_width // 2
    column = [brightness(rows[y][middle]) for y in range(strip_top - 4, strip_top + 26)]
    light = max(column[:8])
    dark = min(column[18:])
    if not (light > dark + 60):
        fail("no raised strip below the buttons (brightness down its middle: %s)" % [int(c) for c in column])
    return memo, listing


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    program_dir, wine_run, screenshot = sys.argv[1:]
    for tool in ("Xvfb", "xdotool", "xwd"):
        if shutil.which(tool) is None:
            print("skipped: %s is not installed" % tool)
            return 77
    work = tempfile.mkdtemp(prefix="zbeacon-wine-")
    copy = os.path.join(work, "ZindleBeaconSetup")
    shutil.copytree(program_dir, copy)
    for leftover in ("zbeacon.ini", "default.txt"):
        if os.path.exists(os.path.join(copy, leftover)):
            os.remove(os.path.join(copy, leftover))
    # A Wine session that earlier programs started without a display (the headless tests) would keep the
    # window off the screen: end it, so that the program starts a session on this display.
    prefix = os.environ.get("WINEPREFIX") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "zbeacon", "wine")
    wine_env = dict(os.environ, WINEPREFIX=prefix)
    subprocess.run(["wineserver", "-k"], env=wine_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=wine_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    display = ":%d" % (90 + os.getpid() % 100)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, DISPLAY=display)
    env.pop("QT_QPA_PLATFORM", None)
    program = None
    try:
        wait_for("Xvfb", lambda: subprocess.run(["xdpyinfo"] if shutil.which("xdpyinfo") else ["xdotool", "getmouselocation"],
                                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0, 30)
        program = subprocess.Popen([wine_run, os.path.join(copy, "ZBeacon.exe")], cwd=copy, env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        def window():
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE_PATTERN], env=env,
                                   capture_output=True, text=True).stdout.split()
            return found[0] if found else None
        win = wait_for("the main window", window, 120)
        geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", win], env=env, capture_output=True,
                                  text=True).stdout
        g = dict(line.split("=") for line in geometry.split())
        left, top = int(g["X"]), int(g["Y"])
        # Let the window finish painting: the screenshot is taken once two in a row are the same.
        previous = None
        def settled():
            nonlocal previous
            shot = subprocess.run(["xwd", "-root", "-silent", "-display", display], capture_output=True).stdout
            same = shot == previous
            previous = shot
            return shot if same else None
        shot = wait_for("a steady screen", settled, 60)
        width, height, rows = read_xwd(shot)
        write_png(screenshot, width, height, rows)
        memo, listing = check_layout(width, height, rows)
        print("memo %s, listing %s, window at (%d, %d)" % (memo, listing, left, top))
        # File > Exit with the mouse: the File menu's title sits at the left end of the menu bar, just above
        # the memo's group box; Exit is the menu's last item.
        subprocess.run(["xdotool", "mousemove", str(memo[0] + 8), str(memo[1] - 38), "click", "1"], env=env, check=True)
        # The menu is open once the screen shows it: wait for a change, then for the screen to settle.
        wait_for("the File menu to open", lambda: subprocess.run(["xwd", "-root", "-silent", "-display", display],
                                                                capture_output=True).stdout != shot, 30)
        previous = None
        wait_for("the open menu", settled, 30)
        subprocess.run(["xdotool", "key", "x"], env=env, check=True)
        try:
            program.wait(timeout=60)
        except subprocess.TimeoutExpired:
            fail("the program did not end after File > Exit")
        ini = os.path.join(copy, "zbeacon.ini")
        if not os.path.exists(ini):
            fail("no settings file was written beside the portable program")
        with open(ini, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        if "[" not in text:
            fail("the settings file holds no section: %r" % text[:200])
        print("closed from File > Exit; wrote %s (%d bytes)" % (ini, len(text)))
        return 0
    finally:
        if program is not None and program.poll() is None:
            program.kill()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


sys.exit(main())
