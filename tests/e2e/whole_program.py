#!/usr/bin/python3
"""The whole program, as a user meets it: the real binary in a real X server.

Starts Xvfb with a German keyboard, openbox, a pyftpdlib server on loopback whose "zeb" holds
a few recipes, and the program (built with that server and a library of our own compiled in)
in a working directory that holds "icons". Then, with the mouse and keyboard of xdotool:
checks the main window, refreshes the library, shows a recipe, reads the about dialog, writes
and publishes a new recipe with umlauts, checks its bytes on the server, shows it from the
library, and closes the window, expecting exit status 0.

What the read-only texts show is read back through the clipboard (Ctrl+A, Ctrl+C), so the
checks compare exact texts, not pixels. Every wait polls with a bound; nothing waits for a
fixed time.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

CRLF = b"\r\n"
SEPARATOR = "=" * 29

# Where the controls stand, in pixels from the top left of a window's client area.
LIBRARY_TOGGLE = (30, 35, 40, 40)
RECIPE_LIST = (30, 90, 200, 400)
VIEW_TOGGLE = (240, 90, 40, 40)
RECIPE_TEXT = (300, 90, 280, 400)
AUTHOR_LINE = (300, 60, 280, 20)
TITLE_FIELD = (130, 8, 200, 15)
AUTHOR_FIELD = (130, 25, 200, 15)
INGREDIENTS_FIELD = (50, 80, 250, 100)
PREPARATION_FIELD = (50, 200, 250, 150)
REMARKS_FIELD = (50, 380, 250, 100)
DONE_BUTTON = (350, 400, 100, 35)
ABOUT_TEXT = (20, 120, 280, 240)
OK_BUTTON = (100, 370, 100, 20)


class Failure(Exception):
    pass


def step(name):
    print(f"-- {name}", flush=True)


def check(condition, message):
    if not condition:
        raise Failure(message)


def recipe_file(title, ingredients, preparation, remarks, author):
    """The bytes the program writes for these five texts (lines joined by CR LF)."""
    body = b""
    for text in (title, ingredients, preparation, remarks, author):
        body += text.encode("cp1252") + CRLF + b"%" + CRLF
    return body


def view_lines(title, ingredients, preparation, remarks):
    """What RecipeText shows for a file the program writes: every section holds a line."""
    lines = ["", *title.split("\r\n"), SEPARATOR, "ZUTATEN:", ""]
    lines += ingredients.split("\r\n")
    lines += [SEPARATOR, "ZUBEREITUNG:", *preparation.split("\r\n")]
    lines += [SEPARATOR, "BEMERKUNGEN:", *remarks.split("\r\n")]
    return "\n".join(lines)


# The recipes on the server at the start: the example of the recipe file format, and one
# whose name on the wire holds the Windows-1252 bytes E4.
SERVER_RECIPES = {
    "Kartoffelsuppe": ("Kartoffelsuppe", "Kartoffeln 30kg\r\nMöhren 2", "Alles 20 Minuten kochen.",
                       "", "Oma"),
    "Käsespätzle": ("Käsespätzle", "Mehl 500g\r\nEier 5\r\nBergkäse 300g",
                    "Teig schlagen, ins Wasser schaben.\r\nMit Käse schichten.",
                    "Dazu grüner Salat.", "Jörg"),
}

# The recipe typed into the new-recipe dialog. Tab and a closing line break are typed too.
NEW_TITLE = "Grüne Soße"
NEW_AUTHOR = "Jürgen Öhler"
NEW_INGREDIENTS = ["Kräuter 300g", "Schmand 200g", "Eier 6"]
NEW_PREPARATION = ["Kräuter fein hacken, mit Schmand verrühren.", "Eier kochen.\tHalbieren."]
NEW_REMARKS = ["Für 4 Personen, dazu Salzkartoffeln.", ""]


class Session:
    """Xvfb, openbox, the FTP server and the program, each in a process group of its own."""

    def __init__(self, scratch):
        self.scratch = scratch
        self.processes = []
        self.watched = []  # processes whose end, while we wait, is a failure
        self.env = dict(os.environ)
        self.env["QT_QPA_PLATFORM"] = "xcb"  # whatever the window tests, run offscreen, set
        runtime = scratch / "runtime"
        runtime.mkdir(mode=0o700)
        self.env["XDG_RUNTIME_DIR"] = str(runtime)
        self.env["HOME"] = str(scratch / "home")  # openbox keeps its session files there
        (scratch / "home").mkdir()

    # -- processes ------------------------------------------------------------------------

    def spawn(self, argv, log, **kwargs):
        out = open(self.scratch / log, "wb")
        process = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, env=self.env,
                                   start_new_session=True, **kwargs)
        out.close()
        self.processes.append(process)
        self.watched.append(process)
        return process

    def stop_all(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for process in reversed(self.processes):
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()

    def run(self, *argv, timeout=20):
        return subprocess.run(argv, env=self.env, capture_output=True, timeout=timeout)

    def tool(self, *argv, timeout=20):
        result = self.run(*argv, timeout=timeout)
        check(result.returncode == 0,
              f"{' '.join(argv)} failed: {result.stderr.decode(errors='replace')}")
        return result.stdout.decode(errors="replace")

    def wait_for(self, what, probe, timeout=60.0, interval=0.05):
        deadline = time.monotonic() + timeout
        while True:
            value = probe()
            if value:
                return value
            for process in self.watched:
                if process.poll() is not None:
                    raise Failure(f"{process.args[0]} ended (status {process.returncode}) "
                                  f"while waiting for {what}")
            if time.monotonic() > deadline:
                raise Failure(f"gave up waiting for {what} after {timeout:.0f} s")
            time.sleep(interval)

    # -- the X server -----------------------------------------------------------------------

    def start_display(self):
        read_end, write_end = os.pipe()
        # -noreset: otherwise the server forgets the keyboard layout when its last client leaves.
        self.spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                    "-nolisten", "tcp", "-noreset"], "xvfb.log", pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            check(time.monotonic() < deadline, "Xvfb did not report its display")
            chunk = os.read(read_end, 16)
            check(chunk, "Xvfb ended before it reported its display")
            number += chunk
        os.close(read_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()
        # The recipe typed below holds ä, ö, ü, Ö and ß: with a German layout xdotool finds
        # them on their own keys instead of remapping keys behind the program's back.
        self.tool("setxkbmap", "de")
        self.spawn(["openbox", "--sm-disable"], "openbox.log")
        self.wait_for("the window manager", lambda: "window id" in self.run(
            "xprop", "-root", "_NET_SUPPORTING_WM_CHECK").stdout.decode(errors="replace"))

    # -- windows ----------------------------------------------------------------------------

    def windows(self, title):
        pattern = "^" + title.replace(".", "\\.") + "$"
        result = self.run("xdotool", "search", "--onlyvisible", "--name", pattern)
        return [line for line in result.stdout.decode().split() if line]

    def wait_window(self, title, besides=()):
        return self.wait_for(f'a window "{title}"', lambda: next(
            (w for w in self.windows(title) if w not in besides), None))

    def wait_gone(self, window, title):
        self.wait_for(f'"{title}" to close', lambda: window not in self.windows(title))

    def size(self, window):
        info = self.tool("xwininfo", "-id", window)
        fields = dict(line.strip().split(": ", 1) for line in info.splitlines() if ": " in line)
        return int(fields["Width"]), int(fields["Height"])

    def click(self, window, x, y):
        self.tool("xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1")

    def click_into(self, window, rect):
        x, y, w, h = rect
        self.click(window, x + w // 2, y + h // 2)

    def wait_active(self, window, what):
        self.wait_for(f"{what} to be active", lambda: self.run(
            "xdotool", "getactivewindow").stdout.decode().strip() == window, timeout=30)

    def activate(self, window):
        self.tool("xdotool", "windowactivate", "--sync", window)

    def keys(self, *names):
        self.tool("xdotool", "key", "--delay", "30", *names)

    def type(self, text):
        self.tool("xdotool", "type", "--delay", "30", text, timeout=60)

    def type_lines(self, lines):
        """Types lines with Return between them; a tab inside a line goes as the Tab key."""
        for index, line in enumerate(lines):
            if index:
                self.keys("Return")
            for part_index, part in enumerate(line.split("\t")):
                if part_index:
                    self.keys("Tab")
                if part:
                    self.type(part)

    def screenshot(self, window, name, frame=False):
        """Saves the window (with its title bar when frame is set) and returns the path."""
        target = window
        if frame:
            tree = self.tool("xwininfo", "-tree", "-id", window)
            target = next(line.split()[3] for line in tree.splitlines()
                          if line.strip().startswith("Parent window id:"))
        path = self.scratch / name
        self.tool("import", "-window", target, str(path))
        return path

    def colours(self, image, rect):
        """The number of distinct colours in that part of the picture."""
        x, y, w, h = rect
        return int(self.tool("convert", str(image), "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                             "-format", "%k", "info:"))

    # -- the clipboard -------------------------------------------------------------------------

    def clipboard(self):
        result = self.run("xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING", timeout=10)
        return result.stdout.decode("utf-8", errors="replace") if result.returncode == 0 else None

    def copied(self, *keys):
        """Presses the keys that copy something and returns what reached the clipboard."""
        marker = "nothing copied yet"
        # xclip keeps the marker until the program takes the clipboard over, then ends.
        subprocess.Popen(["xclip", "-i", "-selection", "clipboard"], env=self.env,
                         stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL).communicate(marker.encode(), timeout=10)
        self.wait_for("the clipboard marker", lambda: self.clipboard() == marker)
        self.keys(*keys)

        def copied_text():
            text = self.clipboard()
            return text if text not in (None, marker) else None

        return self.wait_for("the copied text", copied_text)

    def text_of(self, window, rect):
        self.click_into(window, rect)
        return self.copied("ctrl+a", "ctrl+c")

    def dismiss_message(self, owner, besides, what):
        """Waits for the message box over owner, presses Return on it, waits until it goes.

        Its text cannot be read back here (a message box copies its text only on Windows): the
        window tests check the texts; this check checks when the boxes come and what follows."""
        box = self.wait_window("Quendelin", besides=besides)
        transient = self.tool("xprop", "-id", box, "WM_TRANSIENT_FOR", "_NET_WM_STATE")
        check(f"window id # {int(owner):#x}" in transient and "_NET_WM_STATE_MODAL" in transient,
              f"the message box ({what}) is not modal over its window: {transient}")
        self.activate(box)
        self.keys("Return")
        self.wait_gone(box, "Quendelin")


def toolbar_buttons(session, image):
    """The centres of the toolbar's buttons, found as the clusters of drawn columns in the strip
    above the topmost control (y < 35): the toolbar's metrics are the style's, not ours."""
    raw = session.run("convert", str(image), "-crop", "600x30+0+2", "+repage", "-depth", "8",
                      "rgb:-").stdout
    width, height = 600, 30

    def pixel(x, y):
        return raw[(y * width + x) * 3:(y * width + x) * 3 + 3]

    # The right end of each row is the toolbar's own background, gradient or not.
    drawn = [any(sum(abs(a - b) for a, b in zip(pixel(x, y), pixel(width - 2, y))) > 60
                 for y in range(height)) for x in range(width)]
    clusters, start = [], None
    for x, on in enumerate(drawn + [False]):
        if on and start is None:
            start = x
        elif not on and start is not None:
            if x - start >= 8:
                clusters.append((start + x) // 2)
            start = None
    return clusters


def prepare(args, scratch):
    server_home = scratch / "server"
    zeb = server_home / "zeb"
    zeb.mkdir(parents=True)
    for title, recipe in SERVER_RECIPES.items():
        (zeb / os.fsdecode(title.encode("cp1252") + b".rezept")).write_bytes(recipe_file(*recipe))
    library = Path(args.library)
    shutil.rmtree(library, ignore_errors=True)
    library.mkdir(parents=True)
    work = scratch / "work"
    work.mkdir()
    (work / "icons").symlink_to(Path(args.icons).resolve())
    return server_home, zeb, library, work


# _MOTIF_WM_HINTS functions: what a window asks its title bar to offer. Window managers differ
# in what they make of it (openbox draws all its buttons anyway), so the check reads the request.
MWM_FUNC_MINIMIZE, MWM_FUNC_MAXIMIZE, MWM_FUNC_CLOSE = 0x8, 0x10, 0x20


def title_bar_functions(session, window):
    hints = session.tool("xprop", "-id", window, "_MOTIF_WM_HINTS")
    check("=" in hints, f"no _MOTIF_WM_HINTS on {window}: {hints}")
    flags, functions = (int(v, 16) for v in hints.split("=", 1)[1].split(",")[:2])
    check(flags & 0x1 and not functions & 0x1, f"unexpected _MOTIF_WM_HINTS {hints}")
    return functions


def dialog_checks(session, dialog, title, size):
    check(session.size(dialog) == size, f"{title}: client size {session.size(dialog)}")
    hints = session.tool("xprop", "-id", dialog, "WM_NORMAL_HINTS")
    check(f"minimum size: {size[0]} by {size[1]}" in hints
          and f"maximum size: {size[0]} by {size[1]}" in hints, f"{title} can be resized: {hints}")
    functions = title_bar_functions(session, dialog)
    check(functions & MWM_FUNC_CLOSE and not functions & (MWM_FUNC_MINIMIZE | MWM_FUNC_MAXIMIZE),
          f"{title}: the title bar should offer closing only ({functions:#x})")


def main_window_checks(session, main):
    check(session.size(main) == (600, 500), f"main window client size {session.size(main)}")
    title = session.tool("xdotool", "getwindowname", main).strip()
    check(title == "Quendelin", f"main window title {title!r}")
    hints = session.tool("xprop", "-id", main, "WM_NORMAL_HINTS")
    check("minimum size: 600 by 500" in hints and "maximum size: 600 by 500" in hints,
          f"the main window can be resized: {hints}")
    functions = title_bar_functions(session, main)
    check(functions & MWM_FUNC_CLOSE and functions & MWM_FUNC_MINIMIZE
          and not functions & MWM_FUNC_MAXIMIZE,
          f"the main window should offer close and minimise, not maximise ({functions:#x})")
    actions = session.tool("xprop", "-id", main, "_NET_WM_ALLOWED_ACTIONS")
    check("_NET_WM_ACTION_MAXIMIZE" not in actions, f"the main window can be maximised: {actions}")
    icon = session.tool("xprop", "-id", main, "_NET_WM_ICON")
    check("Icon (32 x 32)" in icon, "the main window shows no 32 x 32 icon of its own")


def show_recipe(session, main, prefix, expected, shot):
    """With the library open: selects the entry that begins with prefix, shows it, saves a
    screenshot and checks that RecipeText holds the expected text."""
    text = None
    for _ in range(3):
        session.activate(main)
        # A click selects the top entry and gives the list the keyboard; typing the start of a
        # name then selects that name. Should the typing come too slowly for the list's search
        # (on a very busy machine), another entry shows, and we try again.
        session.click(main, RECIPE_LIST[0] + 40, RECIPE_LIST[1] + 8)
        session.type(prefix)
        session.click_into(main, VIEW_TOGGLE)
        session.wait_for("the recipe text", lambda: session.colours(
            session.screenshot(main, "polling.png"), RECIPE_TEXT) > 8)
        path = session.screenshot(main, shot, frame=True)
        text = session.text_of(main, RECIPE_TEXT)
        if text == expected:
            return path
        session.click_into(main, VIEW_TOGGLE)
        session.wait_for("the recipe text to go", lambda: session.colours(
            session.screenshot(main, "polling.png"), RECIPE_TEXT) <= 4)
    raise Failure(f"RecipeText shows\n{text}\ninstead of\n{expected}")


def run(args, scratch):
    server_home, zeb, library, work = prepare(args, scratch)
    session = Session(scratch)
    try:
        port_file = scratch / "ftp.port"
        session.spawn([sys.executable, args.pyftpd, "--root", str(server_home), "--user",
                       args.user, "--password", args.password, "--port", str(args.port),
                       "--port-file", str(port_file)], "ftp.log")
        session.wait_for(f"the FTP server on port {args.port} (is the port taken?)",
                         port_file.exists, timeout=30)
        session.start_display()

        step("the main window")
        program = session.spawn([args.program], "program.log", cwd=work)
        main = session.wait_window("Quendelin")
        main_window_checks(session, main)

        def three_buttons():
            # The toolbar is drawn once its three pictures show.
            found = toolbar_buttons(session, session.screenshot(main, "start.png"))
            return found if len(found) == 3 else None

        buttons = session.wait_for("the toolbar's three buttons", three_buttons)
        new_button, refresh_button, about_button = ((x, 18) for x in buttons)

        step("refresh")
        # Refresh: every file of "zeb" arrives in the library, named in UTF-8.
        session.click(main, *refresh_button)
        session.dismiss_message(main, [main], "library refreshed")
        for title, recipe in SERVER_RECIPES.items():
            local = library / f"{title}.rezept"
            check(local.exists(), f"the refresh did not bring {local.name}")
            check(local.read_bytes() == recipe_file(*recipe), f"{local.name} arrived changed")

        step("show a recipe")
        # Library on, then the recipe with the umlaut in its name.
        session.click_into(main, LIBRARY_TOGGLE)
        session.wait_for("the library list", lambda: session.colours(
            session.screenshot(main, "polling.png"), RECIPE_LIST) > 8)
        title, ingredients, preparation, remarks, author = SERVER_RECIPES["Käsespätzle"]
        shown = show_recipe(session, main, "Kä",
                            view_lines(title, ingredients, preparation, remarks),
                            "recipe-shown.png")
        check(session.text_of(main, AUTHOR_LINE) == f"AUTOR: {author}", "wrong AuthorLine")

        step("about dialog")
        # The about dialog: its seventeen lines, and Ok brings the main window back.
        session.click(main, *about_button)
        about = session.wait_window("Über Quendelin")
        dialog_checks(session, about, "Über Quendelin", (300, 400))
        about_shot = session.screenshot(about, "about.png", frame=True)
        about_lines = session.text_of(about, ABOUT_TEXT).split("\n")
        check(len(about_lines) == 17 and about_lines[0] == "Quendelin"
              and about_lines[16] == " Version 1.2 on 09.02.2012",
              f"the about text is not the seventeen lines: {about_lines!r}")
        session.click_into(about, OK_BUTTON)
        session.wait_gone(about, "Über Quendelin")
        session.wait_active(main, "the main window after the about dialog")

        step("new recipe")
        # A new recipe, typed with umlauts, a tab and a closing line break.
        session.activate(main)
        session.click(main, *new_button)
        dialog = session.wait_window("Neues Rezept...")
        dialog_checks(session, dialog, "Neues Rezept...", (500, 500))
        session.activate(dialog)
        session.click_into(dialog, TITLE_FIELD)
        session.type(NEW_TITLE)
        session.click_into(dialog, AUTHOR_FIELD)
        session.type(NEW_AUTHOR)
        session.click_into(dialog, INGREDIENTS_FIELD)
        session.keys("ctrl+a")  # the example line goes, as its label asks
        session.type_lines(NEW_INGREDIENTS)
        session.click_into(dialog, PREPARATION_FIELD)
        session.type_lines(NEW_PREPARATION)
        session.click_into(dialog, REMARKS_FIELD)
        session.type_lines(NEW_REMARKS)
        dialog_shot = session.screenshot(dialog, "new-recipe.png", frame=True)
        session.click_into(dialog, DONE_BUTTON)
        # Two boxes, "uploaded" and then "library refreshed"; a failure shows one, and the dialog
        # then stays open.
        session.dismiss_message(dialog, [main], "recipe uploaded")
        session.dismiss_message(dialog, [main], "library refreshed")
        session.wait_gone(dialog, "Neues Rezept...")
        session.wait_active(main, "the main window after the new-recipe dialog")

        new_recipe = (NEW_TITLE, "\r\n".join(NEW_INGREDIENTS), "\r\n".join(NEW_PREPARATION),
                      "\r\n".join(NEW_REMARKS), NEW_AUTHOR)
        expected = recipe_file(*new_recipe)
        on_server = zeb / os.fsdecode(NEW_TITLE.encode("cp1252") + b".rezept")
        check(on_server.exists(), f"no {NEW_TITLE}.rezept with a Windows-1252 name on the server: "
                                  f"{sorted(os.listdir(os.fsencode(zeb)))}")
        check(on_server.read_bytes() == expected,
              f"the server's file differs:\n{on_server.read_bytes()!r}\nexpected\n{expected!r}")
        in_work = work / f"{NEW_TITLE}.rezept"
        check(in_work.exists() and in_work.read_bytes() == expected,
              "the published file is not in the working directory as written")

        step("show the published recipe")
        # The new recipe shows once the library list is filled again.
        session.activate(main)
        session.click_into(main, LIBRARY_TOGGLE)
        session.wait_for("the library to close", lambda: session.colours(
            session.screenshot(main, "polling.png"), RECIPE_LIST) <= 4)
        session.click_into(main, LIBRARY_TOGGLE)
        session.wait_for("the library list", lambda: session.colours(
            session.screenshot(main, "polling.png"), RECIPE_LIST) > 8)
        published = show_recipe(session, main, "Grü", view_lines(*new_recipe[:4]),
                                "published-shown.png")
        check(session.text_of(main, AUTHOR_LINE) == f"AUTOR: {NEW_AUTHOR}", "wrong AuthorLine")

        step("close")
        # Closing the window ends the program with status 0.
        session.activate(main)
        session.keys("alt+F4")
        session.watched.remove(program)
        session.wait_for("the program to end", lambda: program.poll() is not None, timeout=30)
        check(program.returncode == 0, f"exit status {program.returncode}")

        for path in (shown, about_shot, dialog_shot, published):
            check(session.colours(path, (0, 0, 400, 300)) > 16, f"{path} is blank")
        print("screenshots:", *(p.name for p in (shown, about_shot, dialog_shot, published)),
              sep="\n  ")
    finally:
        session.stop_all()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True, help="the program built for this check")
    parser.add_argument("--icons", required=True, help="the folder of pictures")
    parser.add_argument("--pyftpd", required=True, help="tests/support/pyftpd.py")
    parser.add_argument("--library", required=True, help="the library compiled into the program")
    parser.add_argument("--port", type=int, required=True, help="the port compiled in")
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--keep", help="keep screenshots and logs in this folder")
    args = parser.parse_args()
    args.program = str(Path(args.program).resolve())  # it starts in a working directory of its own

    scratch = Path(tempfile.mkdtemp(prefix="quendelin-e2e-"))
    ok = False
    try:
        run(args, scratch)
        ok = True
    except (Failure, subprocess.TimeoutExpired) as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        for log in ("program.log", "ftp.log", "openbox.log", "xvfb.log"):
            path = scratch / log
            if path.exists() and path.stat().st_size:
                print(f"--- {log}\n{path.read_text(errors='replace')[-3000:]}", file=sys.stderr)
    finally:
        if args.keep:
            keep = Path(args.keep)
            shutil.rmtree(keep, ignore_errors=True)
            shutil.copytree(scratch, keep, symlinks=True,
                            ignore=shutil.ignore_patterns("runtime", "home", "polling.png"))
            print(f"screenshots and logs kept in {keep}")
        shutil.rmtree(scratch, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
