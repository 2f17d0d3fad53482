#!/usr/bin/python3
"""The logbook on a real X server as a screen reader sees it over AT-SPI.

Starts a private X server (Xvfb), a window manager (openbox), the accessibility bus, a silent
speech-dispatcher and the logbook in a scratch copy of its program folder, listens to every focus event over AT-SPI, and
types by keyboard (xdotool): a call logged with Alt+L, the same call typed again (the log grids
follow the duplicate record on every key) and logged again. Every focus event in that time must
come from the call-sign field, never from a log grid's cell or a hidden page.

Usage: desktop_focus_test.py <program folder>. Exits 77 (skipped) when a tool is missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77


def need(program):
    if shutil.which(program) is None and not os.path.exists(program):
        print(f"skipped: {program} is not installed")
        sys.exit(SKIP)


def main():
    folder = sys.argv[1]
    for program in ("Xvfb", "openbox", "xdotool", "dbus-run-session", "speech-dispatcher",
                    "/usr/libexec/at-spi-bus-launcher"):
        need(program)
    try:
        import pyatspi  # noqa: F401
    except ImportError:
        print("skipped: the Python module pyatspi is not installed")
        sys.exit(SKIP)
    if os.environ.get("QM_DESKTOP_INNER") == "1":
        sys.exit(inner(folder))
    work = tempfile.mkdtemp(prefix="qm-desktop-")
    # The server picks a free display number and writes it to the pipe.
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number or xvfb.poll() is not None:
            print("skipped: Xvfb did not start")
            return SKIP
        display = ":" + number
        env = dict(os.environ, DISPLAY=display, QM_DESKTOP_INNER="1", QM_DESKTOP_WORK=work,
                   XDG_RUNTIME_DIR=os.path.join(work, "run"))
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        env.pop("QT_QPA_PLATFORM", None)
        # A session bus of its own: the accessibility bus and the rig server are found there.
        return subprocess.call(["dbus-run-session", "--", sys.executable, os.path.abspath(__file__), folder],
                               env=env, timeout=240)
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


def inner(folder):
    import pyatspi
    from gi.repository import GLib

    work = os.environ["QM_DESKTOP_WORK"]
    home = os.path.join(work, "home")
    shutil.copytree(folder, home, ignore=shutil.ignore_patterns("*_tests"))
    # A speech service of its own that says nothing (without one the logbook's first phrase fails
    # and its box would take the keyboard).
    speech = os.path.join(work, "speech")
    os.makedirs(os.path.join(speech, "modules"))
    socket = os.path.join(speech, "speechd.sock")
    with open(os.path.join(speech, "speechd.conf"), "w") as conf:
        conf.write(f'CommunicationMethod "unix_socket"\nSocketPath "{socket}"\nLogDir "{speech}"\n'
                   'AudioOutputMethod "libao"\nAddModule "silent" "sd_generic" "silent.conf"\n'
                   'DefaultModule silent\nDefaultLanguage "en"\n')
    with open(os.path.join(speech, "modules", "silent.conf"), "w") as conf:
        conf.write('GenericExecuteSynth "true"\nAddVoice "en" "male1" "silent"\n')
    helpers = [subprocess.Popen(["speech-dispatcher", "-s", "-C", speech, "-S", socket, "-c", "unix_socket", "-t", "0",
                                 "-P", os.path.join(speech, "pid"), "-L", speech],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    helpers.append(subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    time.sleep(1)
    helpers.append(subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    time.sleep(1)
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QUILLMERE_HOME=home,
               ASAN_OPTIONS="detect_leaks=0", SPEECHD_ADDRESS="unix_socket:" + socket)
    log = open(os.path.join(work, "program.log"), "w")
    program = subprocess.Popen([os.path.join(home, "Quillmere")], cwd=home, env=env, stdout=log, stderr=log)

    events = []  # (phase, role, name) of each control that gained the focus
    phase = ["start"]

    def on_focus(event):
        if event.detail1 != 1:
            return
        try:
            role, name = event.source.getRoleName(), event.source.name
        except Exception:  # the control went away meanwhile
            role, name = "gone", ""
        events.append((phase[0], role, name))

    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")

    def grid_point():
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is None:
                continue
            grid = pyatspi.findDescendant(app, lambda a: a is not None and a.getRoleName() == "table"
                                          and a.name == "Log book")
            if grid is not None:
                box = grid.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                return [box.x + box.width // 2, box.y + box.height * 3 // 4]
        return []
    failure = []

    def drive():
        try:
            def keys(*args):
                subprocess.run(["xdotool", *args], check=True, timeout=30)

            # The window is up once its call field has the focus.
            deadline = time.monotonic() + 60
            while not events and time.monotonic() < deadline:
                time.sleep(0.2)
            if not events:
                return
            time.sleep(2)
            keys("key", "ctrl+F2")
            time.sleep(1.5)
            phase[0] = "typing"
            keys("type", "--delay", "250", "w1aw")
            time.sleep(1)
            keys("key", "alt+l")
            time.sleep(2)
            keys("type", "--delay", "250", "w1aw")
            time.sleep(1.5)
            keys("key", "alt+l")
            time.sleep(2)
            # The control: a click into the LOG page's grid and an arrow key are the operator's
            # moves, and the grid's focus reaches the listener.
            phase[0] = "grid"
            found = threading.Event()
            where = []
            GLib.idle_add(lambda: (where.extend(grid_point()), found.set()) and False)
            found.wait(20)
            if not where:
                failure.append("the grid DBGrid1 (\"Log book\") was not found over AT-SPI")
                return
            keys("mousemove", str(where[0]), str(where[1]), "click", "1")
            time.sleep(1.5)
            keys("key", "Up")
            time.sleep(1.5)
            phase[0] = "end"
        except Exception as error:  # reported after the loop
            failure.append(str(error))
        finally:
            GLib.idle_add(pyatspi.Registry.stop)

    threading.Thread(target=drive, daemon=True).start()
    pyatspi.Registry.start()
    program.terminate()
    try:
        program.wait(10)
    except subprocess.TimeoutExpired:
        program.kill()
    for helper in helpers:
        helper.terminate()
    if failure:
        print("the keyboard could not be driven:", failure[0])
        return 1
    typing = [e for e in events if e[0] == "typing"]
    print("focus events:", events)
    # The keyboard really moves to the Log It button (its Alt key) and to the menu bar (Alt
    # alone), and back to the call field; a log grid, its cells or headers never have it.
    stray = [e for e in typing if e[1] in ("table", "table cell", "column header", "row header", "page tab", "gone")]
    if not any(e[0] == "start" for e in events):
        print("skipped: no focus event reached the listener at all; the accessibility bus does not work here")
        return SKIP
    if stray:
        print("focus events from controls the operator is not in:", stray)
        return 1
    if not any(e[0] == "grid" and e[1] in ("table", "table cell") for e in events):
        print("the grid's own focus never reached the listener:", events)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
