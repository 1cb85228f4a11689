"""Starts the real application on a virtual X display, as a user would with
scripts/run, and checks what appears: on a first start the main window and
the first-run server wizard in front of it. A screenshot is left in the build
folder (desktop-start.xwd, desktop-wizard.xwd) for a person to look at."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

BUILD = os.environ["PELVANE_BUILD"]
APP = os.path.join(BUILD, "src", "pelvane")


def window_titles(display):
    out = subprocess.run(["xwininfo", "-root", "-tree"], env={"DISPLAY": display},
                         capture_output=True, text=True, timeout=10).stdout
    titles = []
    for line in out.splitlines():
        start = line.find('"')
        end = line.find('"', start + 1)
        if start >= 0 and end > start:
            titles.append(line[start + 1:end])
    return titles


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.2)
    return False


def main():
    for tool in ("Xvfb", "xwininfo"):
        if not shutil.which(tool):
            print(f"{tool} is missing: run scripts/setup", file=sys.stderr)
            return 1
    home = tempfile.mkdtemp(prefix="pelvane-desktop-")
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x800x24",
                             "-nolisten", "tcp"], pass_fds=[write_fd])
    os.close(write_fd)
    app = None
    try:
        display = ":" + os.read(read_fd, 32).decode().strip()
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", HOME=home,
                   XDG_DATA_HOME=os.path.join(home, "data"), TMPDIR=home,
                   QTWEBENGINE_DISABLE_SANDBOX="1")
        env.pop("XDG_RUNTIME_DIR", None)
        app = subprocess.Popen([APP], env=env)
        ok = wait_for(lambda: {"Pelvane Personal", "Server Settings"} <= set(window_titles(display)), 60)
        if not ok:
            print("windows seen:", window_titles(display), file=sys.stderr)
            return 1
        time.sleep(1.5)  # only so that the screenshot shows painted windows
        # Without a compositor the root picture leaves dialogs out, so the
        # wizard gets a picture of its own.
        for args, name in ((["-root"], "desktop-start.xwd"), (["-name", "Server Settings"], "desktop-wizard.xwd")):
            subprocess.run(["xwd", *args, "-silent", "-out", os.path.join(BUILD, name)],
                           env={"DISPLAY": display}, timeout=20)
        if app.poll() is not None:
            print("the application ended on its own", file=sys.stderr)
            return 1
        print("main window and first-run wizard are shown")
        return 0
    finally:
        if app and app.poll() is None:
            app.terminate()
            try:
                app.wait(10)
            except subprocess.TimeoutExpired:
                app.kill()
        xvfb.terminate()
        xvfb.wait(10)
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
