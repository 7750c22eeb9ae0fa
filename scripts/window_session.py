#!/usr/bin/python3
"""The program's window as the scripts see it: start the program, wait until its window is
mapped and drawn, choose a pop-up menu entry, ask the window to close and wait for the
program's exit. scripts/run, scripts/soak and scripts/measure-fps.sh all go through here,
so the window's title is written once for them. It talks to the X server in DISPLAY
directly (python3-xlib, Debian's python3), with a deadline on every wait.

As a command:
  window_session.py picture OUTPUT.png PROGRAM [ARGS...]
        start PROGRAM, wait until its window is drawn, save the window as a PNG, ask the
        window to close and wait for the program to exit; the exit status is the program's
  window_session.py wait-window     wait until the window is drawn; print its id
  window_session.py menu INDEX      open the menu in the middle of the window, choose entry
                                    INDEX (0 at the top) and wait until the menu has closed
  window_session.py close PID       ask the window to close and wait until PID has ended
"""
import os
import struct
import subprocess
import sys
import time
import zlib

from Xlib import X, display, error
from Xlib.ext import xtest
from Xlib.protocol import event



def read_facts():
    """The table of window facts that the end-to-end tests read too."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "window_facts.txt")
    with open(path) as table:
        return dict(line.rstrip("\n").split("=", 1) for line in table
                    if line[:1].isupper() and "=" in line)


FACTS = read_facts()
TITLE = FACTS["WINDOW_TITLE"]
MENU_TITLE = FACTS["MENU_TITLE"]  # freeglut's own window for the pop-up menu
MENU_ENTRIES = int(FACTS["MENU_ENTRIES"])  # MOVER MODELO, MOVER BARRAS, PONER/QUITAR BOLA, Salir
MENU_BORDER = int(FACTS["MENU_BORDER"])
MOVE_MODEL, MOVE_RODS, TOGGLE_BALL, QUIT = range(MENU_ENTRIES)
WAIT = 20.0  # seconds; the longest any single wait lasts


def wait_for(condition, timeout=WAIT):
    """Polls condition until it returns a true value (returned) or the time runs out (None)."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value or None
        time.sleep(0.05)


def open_display():
    """The X server in DISPLAY. Windows come and go under the scripts (the menu, a program
    that has just quit): a request about one that is gone must fail quietly."""
    connection = display.Display()
    connection.set_error_handler(lambda *args: None)
    return connection


def find_window(connection, title):
    """The viewable window named title anywhere under the root (under a window manager it
    sits inside a frame), or None."""
    def search(window):
        try:
            if window.get_wm_name() == title and \
                    window.get_attributes().map_state == X.IsViewable:
                return window
            children = window.query_tree().children
        except error.XError:
            return None
        for child in children:
            found = search(child)
            if found is not None:
                return found
        return None
    return search(connection.screen().root)


def geometry(connection, window):
    """(left, top, width, height) of the window's inside, on the screen."""
    where = window.translate_coords(connection.screen().root, 0, 0)
    size = window.get_geometry()
    return -where.x, -where.y, size.width, size.height


def pixel_format(connection, window, depth):
    """How the server lays out the window's pixels: (bytes a pixel, bytes a row for width
    1, byte order, (mask, shift) for red, green and blue), read from its visual and the
    server's pixmap format for the depth."""
    info = connection.display.info
    visual_id = window.get_attributes().visual
    visual = next(v for d in connection.screen().allowed_depths for v in d.visuals
                  if v.visual_id == visual_id)
    form = next(f for f in info.pixmap_formats if f.depth == depth)
    order = "little" if info.image_byte_order == X.LSBFirst else "big"
    channels = [(mask, (mask & -mask).bit_length() - 1)
                for mask in (visual.red_mask, visual.green_mask, visual.blue_mask)]
    return form.bits_per_pixel // 8, form.scanline_pad // 8, order, channels


def grab_rgb(connection, window):
    """The window's pixels as the X server holds them: width, height, RGB bytes (each
    channel scaled to 0 to 255)."""
    size = window.get_geometry()
    image = window.get_image(0, 0, size.width, size.height, X.ZPixmap, 0xFFFFFFFF)
    step, pad, order, channels = pixel_format(connection, window, image.depth)
    stride = -(-size.width * step // pad) * pad
    data = b"".join(image.data[y * stride:y * stride + size.width * step]
                    for y in range(size.height))
    rgb = bytearray(size.width * size.height * 3)
    if all(mask >> shift == 0xFF and shift % 8 == 0 for mask, shift in channels):
        # Each channel is one byte of the pixel: take them by slicing.
        for i, (_, shift) in enumerate(channels):
            byte = shift // 8 if order == "little" else step - 1 - shift // 8
            rgb[i::3] = data[byte::step]
    else:
        for p in range(size.width * size.height):
            value = int.from_bytes(data[p * step:(p + 1) * step], order)
            rgb[3 * p:3 * p + 3] = bytes(((value & mask) >> shift) * 255 // (mask >> shift)
                                         for mask, shift in channels)
    return size.width, size.height, bytes(rgb)


def is_drawn(connection, window):
    """Whether a frame has reached the window: before the first one it is one flat colour."""
    try:
        _, _, rgb = grab_rgb(connection, window)
    except error.XError:
        return False
    return len(set(rgb[i:i + 3] for i in range(0, len(rgb), 3 * 97))) > 1


def wait_for_drawn_window(connection, timeout=WAIT):
    """The program's window once it is mapped and a frame shows in it, or None."""
    def drawn():
        window = find_window(connection, TITLE)
        return window if window is not None and is_drawn(connection, window) else None
    return wait_for(drawn, timeout)


def save_png(connection, window, path):
    """Writes the window's picture to path as a PNG."""
    width, height, rgb = grab_rgb(connection, window)
    rows = b"".join(b"\0" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + \
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    with open(path, "wb") as png:
        png.write(b"\x89PNG\r\n\x1a\n")
        png.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        png.write(chunk(b"IDAT", zlib.compress(rows, 6)))
        png.write(chunk(b"IEND", b""))


def move_pointer(connection, x, y):
    xtest.fake_input(connection, X.MotionNotify, x=x, y=y)
    connection.sync()


def set_button(connection, button, down):
    xtest.fake_input(connection, X.ButtonPress if down else X.ButtonRelease, button)
    connection.sync()


def choose_menu_entry(connection, window, index):
    """Puts the pointer in the middle of the window, presses the right button, moves into
    entry index once the menu is viewable and releases there, as a person would; True once
    the menu has closed again."""
    left, top, width, height = geometry(connection, window)
    move_pointer(connection, left + width // 2, top + height // 2)
    set_button(connection, 3, True)
    # The menu's window exists, unmapped, from the start; it is placed when it opens.
    menu = wait_for(lambda: find_window(connection, MENU_TITLE), 10)
    if menu is None:
        set_button(connection, 3, False)
        return False
    left, top, width, height = geometry(connection, menu)
    x = left + width // 2
    y = top + MENU_BORDER + (height - 2 * MENU_BORDER) * (2 * index + 1) // (2 * MENU_ENTRIES)
    # A motion inside the entry lights it; the release then chooses it.
    move_pointer(connection, x - 1, y)
    move_pointer(connection, x, y)
    set_button(connection, 3, False)
    return wait_for(lambda: find_window(connection, MENU_TITLE) is None, 10) is not None


def request_close(connection, window):
    """Asks the window to close, as a window manager's close button does."""
    protocols = connection.intern_atom("WM_PROTOCOLS")
    delete = connection.intern_atom("WM_DELETE_WINDOW")
    message = event.ClientMessage(window=window, client_type=protocols,
                                  data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(message)
    connection.flush()


def process_ended(pid):
    """Whether process pid has ended: gone, or a zombie not yet reaped."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def close_and_wait(connection, window, ended, timeout=10):
    """Asks the window to close and waits until ended() holds; True if it did in time."""
    if window is not None:
        request_close(connection, window)
    return wait_for(ended, timeout) is not None


class Session:
    """One run of the program, started with the arguments of subprocess.Popen."""

    def __init__(self, argv, **popen):
        self.connection = open_display()
        self.process = subprocess.Popen(argv, **popen)
        self.window = None

    def wait_until_drawn(self, timeout=WAIT):
        self.window = wait_for_drawn_window(self.connection, timeout)
        return self.window

    def choose_menu_entry(self, index):
        return self.window is not None and choose_menu_entry(self.connection, self.window, index)

    def close(self, timeout=10):
        """Asks the window to close and waits for the exit; kills the program if it has not
        ended in time. Returns the exit status (negative: the signal that ended it)."""
        ended = close_and_wait(self.connection, self.window,
                               lambda: self.process.poll() is not None, timeout)
        if not ended:
            self.process.kill()
        return self.process.wait()


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "picture" and len(argv) >= 4:
        session = Session(argv[3:], stdout=subprocess.DEVNULL)
        if session.wait_until_drawn() is None:
            session.close(1)
            sys.exit("The program's window did not appear.")
        save_png(session.connection, session.window, argv[2])
        status = session.close()
        if status != 0:
            sys.exit("The program ended with status %d." % status)
        return 0
    connection = open_display()
    if command == "wait-window":
        window = wait_for_drawn_window(connection)
        if window is None:
            sys.exit("The program's window did not appear.")
        print(window.id)
        return 0
    if command == "menu" and len(argv) == 3:
        window = find_window(connection, TITLE)
        if window is None or not choose_menu_entry(connection, window, int(argv[2])):
            sys.exit("Could not choose menu entry %s." % argv[2])
        return 0
    if command == "close" and len(argv) == 3:
        pid = int(argv[2])
        if not close_and_wait(connection, find_window(connection, TITLE),
                              lambda: process_ended(pid)):
            sys.exit("Process %d did not end." % pid)
        return 0
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
