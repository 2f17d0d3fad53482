#!/usr/bin/python3
"""The logbook driven by keyboard on a real X server, checked as a screen reader sees it.

Usage: keyboard_road_test.py PROGRAM PROGRAM_FOLDER

Runs itself inside a private session bus (dbus-run-session). Side windows opened by keys must
become the active window with the keyboard in them and close on Escape; window titles stand as
the program gives them; the Edit page's navigator must announce the highlighted button (a focus
event whose source says it is focused, named by its hint) at each arrow; a logbook opened from
the log list leaves the focus in the call field. Exits 77 (skipped) with the reason when a tool
is missing or the X server, the accessibility bus or speech-dispatcher cannot start.
"""
import os
import sys
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import x_session  # noqa: E402

SKIPPED = 77
MAIN = "   Quillmere 1.0"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what)
    return condition


def followed(events):
    """The names a screen reader moves to, in order (events whose source has the focus)."""
    return [e.name for e in events if e.followed()]


def side_window(s, keys, title, first, closes=True):
    """Opens a side window by `keys`; it must be active with the focus on `first`."""
    s.take_events(0.2)
    s.key(*keys, pause=1.0)
    events = s.take_events(0.5)
    check(x_session.wait_for(lambda: s.active_window_name() == title, 5),
          "%s: the window %r is active (active: %r)" % ("+".join(keys), title, s.active_window_name()))
    names = followed(events)
    check(names and names[-1] == first,
          "%s: the focus is on %r in %r (screen reader followed %r)" % ("+".join(keys), first, title, names))
    check(any(e.kind == "window:activate" and e.window == title for e in events),
          "%s: %r announced itself as activated" % ("+".join(keys), title))
    if closes:
        s.key("Escape", pause=1.0)
        check(x_session.wait_for(lambda: s.active_window_name() == MAIN, 5),
              "Escape closes %r (active: %r)" % (title, s.active_window_name()))
        check(all(not (name == title and showing) for name, _, showing in s.windows()),
              "%r is no longer showing after Escape" % title)


def road(s):
    s.start_program()
    call_field = "Station"

    # Ctrl+N: the name typed goes into the new-logbook window, never into the call field.
    s.key("ctrl+F2")
    s.take_events(0.3)
    s.key("ctrl+n", pause=1.0)
    check(x_session.wait_for(lambda: s.active_window_name() == "Create New LogBook ", 5),
          "Ctrl+N: the new-logbook window is active with its own title (active: %r)" % s.active_window_name())
    s.type("day1")
    edit2 = s.focused_text("Create New LogBook ")
    check(edit2 == "day1", "the typed name is in the new-logbook window's name box (%r)" % edit2)
    station = s.find(call_field, role="text", window=MAIN)
    check(station is not None and s.text_of(station) == "",
          "the call field stays empty (%r)" % (s.text_of(station) if station else None))
    s.key("Escape", pause=1.0)
    check(x_session.wait_for(lambda: s.active_window_name() == MAIN, 5),
          "Escape closes the new-logbook window (active: %r)" % s.active_window_name())

    side_window(s, ["ctrl+a"], "Quillmere / ADIF Conversions", "QMR to ADIF")
    side_window(s, ["ctrl+c", "alt+u"], "Radio Amateur CALL BOOK", "Call sign:")
    side_window(s, ["F2"], "Shortcut Key Review", "Shortcut keys")

    # The Edit page's navigator: one Tab stop; each arrow announces the highlighted button.
    s.key("ctrl+F3", pause=0.8)
    s.take_events(0.3)
    s.key("Tab", "Tab", pause=0.8)
    events = s.take_events(0.3)
    names = followed(events)
    check(names[-1:] == ["First record"], "Tab reaches the navigator's first button (followed %r)" % names)
    # A reader that keeps only the newest of several focus events must be left on the button.
    gained = [e.name for e in events if e.kind == "object:state-changed:focused" and e.detail == 1]
    check(gained[-1:] == ["First record"], "the button's focus event comes last (%r)" % gained)
    s.key("Right", pause=0.5)
    s.key("Right", pause=0.5)
    s.key("Right", pause=0.5)
    names = followed(s.take_events(0.3))
    check(names == ["Prior record", "Next record", "Last record"],
          "the arrows announce each button by its hint (followed %r)" % names)
    bar = s.find("Navigator", role="tool bar", window=MAIN)
    check(bar is not None and not bar.get_state_set().contains(s.Atspi.StateType.FOCUSED),
          "the bar itself never claims the focus")
    # At the newest contact (or with none) there is no next record: the reader hears it unavailable.
    following = s.find("Next record", role="push button", window=MAIN)
    check(following is not None and not following.get_state_set().contains(s.Atspi.StateType.SENSITIVE),
          "a disabled button is reported unavailable")

    # Ctrl+L, Enter: the logbook opens and the call field has the focus.
    s.key("ctrl+l", pause=1.0)
    s.take_events(0.3)
    s.key("Return", pause=1.5)
    names = followed(s.take_events(0.5))
    check(names[-1:] == [call_field], "after opening from the log list the call field has the focus (%r)" % names)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    if os.environ.get("QM_X_SESSION_BUS") != "1":
        try:
            x_session.check_tools()
        except x_session.Missing as e:
            print("SKIPPED: %s" % e)
            return SKIPPED
        env = dict(os.environ, QM_X_SESSION_BUS="1")
        return os.spawnvpe(os.P_WAIT, "dbus-run-session",
                           ["dbus-run-session", "--", sys.executable] + sys.argv, env)
    s = x_session.XSession(sys.argv[1], sys.argv[2])
    try:
        s.start()
    except x_session.Missing as e:
        print("SKIPPED: %s" % e)
        s.stop()
        return SKIPPED
    try:
        road(s)
    except Exception:
        traceback.print_exc()
        failures.append("the road ended early")
    finally:
        print("What the program said:")
        for line in s.spoken():
            print("   " + line)
        if failures:
            print(s.read("quillmere.log"))
        s.stop()
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
