"""The demo's user at an X display: windows are found by title, read as pictures, and
driven with real key presses and mouse clicks (xdotool's XTEST events), never through
anything inside the programs. Screenshots come from ImageMagick's `import`.

Without a display of the user's (or with --auto) the display is an Xvfb started for
the demo alone; it has no window manager, so a window gets the keyboard by being
focused directly.
"""

import os
import re
import subprocess
import time


class Screen:
    def __init__(self, session, error, wait_until, shots_folder=None):
        self.session = session
        self._error = error
        self._wait_until = wait_until
        self.shots_folder = shots_folder
        self.shots = []
        self.display = None

    # ---- the display ----

    def start_xvfb(self, size="1280x800"):
        # -noreset: by default the server resets when its last client leaves, and the
        # next program to start in that moment cannot connect.
        read_end, write_end = os.pipe()
        self.session.spawn("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                    size + "x24", "-nolisten", "tcp", "-noreset"],
                           pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            raise self._error("Xvfb did not start:\n" + self.session.output_of("xvfb"))
        self.display = ":" + number.strip().decode()
        self.session.env["DISPLAY"] = self.display
        self.session.env["QT_QPA_PLATFORM"] = "xcb"
        # Xvfb names its display a moment before it takes connections.
        self._wait_until(lambda: self._run("xdotool", "getdisplaygeometry", check=False), 20,
                         "Xvfb to take connections", 0.02)
        return self.display

    def use_display(self):
        self.display = self.session.env.get("DISPLAY")

    def _run(self, *argv, check=True):
        reply = subprocess.run(list(argv), env=self.session.env, capture_output=True,
                               timeout=60)
        if check and reply.returncode != 0:
            raise self._error("%s failed: %s" % (" ".join(argv),
                                                  reply.stderr.decode(errors="replace")))
        return reply.stdout

    # ---- windows ----

    def windows(self, title=None, pid=None):
        """Visible windows whose title matches the regular expression `title` (whole
        title), or that belong to process `pid`."""
        argv = ["xdotool", "search", "--onlyvisible"]
        if pid is not None:
            argv += ["--pid", str(pid)]
        if title is not None:
            argv += ["--name", "^(%s)$" % title]
        out = self._run(*argv, check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, title, timeout=60, pid=None):
        """The largest window matching, once it has stayed up for a moment (a toolkit
        may map a window briefly before the one that stays)."""
        def settled():
            first = self._largest(self.windows(title, pid))
            if first is None:
                return None
            time.sleep(0.25)
            return first if self._largest(self.windows(title, pid)) == first else None
        return self._wait_until(settled, timeout, "the window \"%s\"" % title, 0.05)

    def _largest(self, windows):
        sized = [(g[2] * g[3], w) for w, g in ((w, self.geometry(w)) for w in windows) if g]
        return max(sized)[1] if sized else None

    def wait_gone(self, window, timeout=60):
        self._wait_until(lambda: self.geometry(window) is None, timeout,
                         "window %d to close" % window, 0.1)

    def geometry(self, window):
        """(x, y, width, height) on screen of a window that is mapped; None otherwise."""
        reply = subprocess.run(["xwininfo", "-id", str(window)], env=self.session.env,
                               capture_output=True, text=True, timeout=30)
        if reply.returncode != 0 or "IsViewable" not in reply.stdout:
            return None
        values = dict(re.findall(r"^\s*([A-Za-z -]+):\s+(-?\d+)\s*$", reply.stdout, re.M))
        try:
            return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                    int(values["Width"]), int(values["Height"]))
        except KeyError:
            return None

    def title(self, window):
        return self._run("xdotool", "getwindowname", str(window), check=False).decode(
            errors="replace").strip()

    def _grab(self, window, *output):
        # Cut from the root window: asked for a window that has just gone, "import"
        # would wait for someone to pick one with the mouse.
        where = self.geometry(window)
        if where is None:
            raise self._error("window %d is no longer on screen" % window)
        x, y, width, height = where
        return self._run("import", "-window", "root", "-crop",
                         "%dx%d+%d+%d" % (width, height, x, y), "+repage", *output)

    def picture(self, window):
        """(width, height, RGB bytes) of the window as it is on screen."""
        data = self._grab(window, "-depth", "8", "ppm:-")
        match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        if not match:
            raise self._error("unreadable picture of window %d" % window)
        width, height = int(match.group(1)), int(match.group(2))
        return width, height, data[match.end():match.end() + width * height * 3]

    def find_colour(self, window, rgb, top=0, tolerance=6, least=40):
        """The centre (window coordinates) of the pixels of colour `rgb` below `top`,
        when there are at least `least` of them; None otherwise."""
        width, height, pixels = self.picture(window)
        r0, g0, b0 = rgb
        xs, ys = [], []
        for y in range(top, height, 2):
            row = y * width * 3
            for x in range(0, width, 2):
                i = row + x * 3
                if (abs(pixels[i] - r0) <= tolerance and abs(pixels[i + 1] - g0) <= tolerance
                        and abs(pixels[i + 2] - b0) <= tolerance):
                    xs.append(x)
                    ys.append(y)
        if len(xs) * 4 < least:
            return None
        return (min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2

    def wait_colour(self, window, rgb, what, top=0, timeout=60):
        return self._wait_until(lambda: self.find_colour(window, rgb, top), timeout, what, 0.2)

    # ---- input ----

    def focus(self, window):
        self._run("xdotool", "windowfocus", "--sync", str(window), check=False)
        time.sleep(0.1)

    def click(self, window, x, y):
        self._run("xdotool", "mousemove", "--window", str(window), str(x), str(y),
                  "click", "1")

    def keys(self, window, *keys):
        self.focus(window)
        self._run("xdotool", "key", "--delay", "40", *keys)

    def type(self, window, text):
        self.focus(window)
        self._run("xdotool", "type", "--delay", "25", text)

    # ---- screenshots ----

    def shot(self, window, name):
        """Saves the window as <shots folder>/NN-name.png; returns the path."""
        if not self.shots_folder:
            return None
        os.makedirs(self.shots_folder, exist_ok=True)
        path = os.path.join(self.shots_folder, "%02d-%s.png" % (len(self.shots) + 1, name))
        self._grab(window, path)
        self.shots.append(path)
        return path
