"""The logbook on a real X server as a screen reader meets it.

A private X display (Xvfb) with a small window manager (openbox), a private session bus with the
accessibility bus and its registry, and a private speech-dispatcher whose output module writes
each phrase to a file. XSession starts them, starts the logbook program in them, sends keys with
xdotool and collects the accessibility events a screen reader receives (focus, window
activation) through AT-SPI (the Atspi bindings that come with python3-pyatspi).

Missing: Missing(reason) is raised when a tool this needs is not installed.
"""
import os
import shutil
import subprocess
import tempfile
import threading
import time


class Missing(Exception):
    pass


TOOLS = ["Xvfb", "openbox", "xdotool", "dbus-run-session", "dbus-send", "speech-dispatcher"]
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
SPEECHD_MODULES = "/usr/lib/speech-dispatcher-modules"


def check_tools():
    for tool in TOOLS:
        if shutil.which(tool) is None:
            raise Missing("the program %s is not installed" % tool)
    if not os.access(BUS_LAUNCHER, os.X_OK):
        raise Missing("the accessibility bus launcher %s is not installed (at-spi2-core)" % BUS_LAUNCHER)
    if not os.path.exists(os.path.join(SPEECHD_MODULES, "sd_generic")):
        raise Missing("speech-dispatcher's generic output module is not installed")
    try:
        import gi  # noqa: F401
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi  # noqa: F401
    except (ImportError, ValueError) as e:
        raise Missing("the AT-SPI Python bindings are not installed (python3-pyatspi): %s" % e)


def wait_for(condition, seconds, step=0.05):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


class Event:
    def __init__(self, kind, name, role, detail, window, focused):
        self.kind, self.name, self.role, self.detail, self.window = kind, name, role, detail, window
        # The source said it had the focus when the event was read, as a screen reader checks.
        self.focused = focused

    def followed(self):
        """A screen reader moves to this event's source."""
        return self.kind == "object:state-changed:focused" and self.detail == 1 and self.focused

    def __repr__(self):
        return "%s %r (%s) %s%s in %r" % (self.kind, self.name, self.role, self.detail,
                                          " focused" if self.focused else "", self.window)


class XSession:
    """Everything runs below one temporary folder; stop() ends what start() began."""

    def __init__(self, program, program_folder):
        self.program = program
        self.program_folder = program_folder
        self.dir = tempfile.mkdtemp(prefix="qm-xsession-")
        self.processes = []
        self.events = []
        self.lock = threading.Lock()
        self.app = None

    # ---- start-up -------------------------------------------------------------------------

    def start(self):
        self.env = dict(os.environ)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.env["XDG_RUNTIME_DIR"] = self.mkdir("runtime")
        os.chmod(self.env["XDG_RUNTIME_DIR"], 0o700)
        self.env["HOME"] = self.mkdir("home")
        self.env["XDG_CONFIG_HOME"] = self.mkdir("home/.config")
        self.env["XDG_DATA_HOME"] = self.mkdir("home/.local/share")
        self.start_x()
        self.start_window_manager()
        self.start_accessibility_bus()
        self.start_speech()

    def mkdir(self, name):
        path = os.path.join(self.dir, name)
        os.makedirs(path, exist_ok=True)
        return path

    def spawn(self, args, env=None, name=None):
        out = open(os.path.join(self.dir, (name or os.path.basename(args[0])) + ".log"), "wb")
        process = subprocess.Popen(args, env=env or self.env, stdout=out, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def start_x(self):
        read, write = os.pipe()
        out = open(os.path.join(self.dir, "Xvfb.log"), "wb")
        process = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                                    "-nolisten", "tcp", "-noreset"], pass_fds=(write,), stdout=out,
                                   stderr=subprocess.STDOUT, env=self.env)
        os.close(write)
        self.processes.append(process)
        number = b""
        end = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < end:
            chunk = os.read(read, 16)
            if not chunk:
                break
            number += chunk
        os.close(read)
        if not number.strip():
            raise Missing("Xvfb did not start: " + self.read("Xvfb.log"))
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def start_window_manager(self):
        self.spawn(["openbox", "--sm-disable"])

        # Up once it keeps desktops (without a manager xdotool says it does not support them).
        def managed():
            out = subprocess.run(["xdotool", "get_desktop"], env=self.env, capture_output=True)
            return out.returncode == 0
        if not wait_for(managed, 10):
            raise Missing("openbox did not start: " + self.read("openbox.log"))

    def start_accessibility_bus(self):
        self.spawn([BUS_LAUNCHER, "--launch-immediately"])

        def bus_address():
            out = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                                  "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=self.env,
                                 capture_output=True, text=True)
            return out.returncode == 0 and "string" in out.stdout
        if not wait_for(bus_address, 10):
            raise Missing("the accessibility bus did not start: " + self.read("at-spi-bus-launcher.log"))
        subprocess.run(["dbus-send", "--session", "--dest=org.a11y.Bus", "/org/a11y/bus",
                        "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                        "string:IsEnabled", "variant:boolean:true"], env=self.env, check=False)
        # This process talks to the same buses as the program.
        os.environ.update({k: self.env[k] for k in ("DISPLAY", "XDG_RUNTIME_DIR")})

    def start_speech(self):
        conf = self.mkdir("speechd/conf/modules")
        logs = self.mkdir("speechd/logs")
        self.socket = os.path.join(self.dir, "speechd", "speechd.sock")
        self.spoken_file = os.path.join(self.dir, "speechd", "spoken.txt")
        with open(os.path.join(self.dir, "speechd/conf/speechd.conf"), "w") as f:
            f.write('CommunicationMethod "unix_socket"\nSocketPath "%s"\nLogLevel 4\nLogDir "%s"\n'
                    'AudioOutputMethod "libao"\nAddModule "recorder" "sd_generic" "recorder.conf"\n'
                    'DefaultModule recorder\nDefaultLanguage "en"\n' % (self.socket, logs))
        with open(os.path.join(conf, "recorder.conf"), "w") as f:
            f.write("GenericExecuteSynth \"printf '%%s\\\\n' \\'$DATA\\' >> %s\"\n"
                    'AddVoice "en" "male1" "recorder-voice"\nGenericLanguage "en" "en" "utf-8"\n'
                    % self.spoken_file)
        self.spawn(["speech-dispatcher", "-s", "-C", os.path.join(self.dir, "speechd/conf"), "-S", self.socket,
                    "-c", "unix_socket", "-t", "0", "-P", os.path.join(self.dir, "speechd/pid"), "-L", logs])
        if not wait_for(lambda: os.path.exists(self.socket), 10):
            raise Missing("speech-dispatcher did not start: " + self.read("speech-dispatcher.log"))
        self.env["SPEECHD_ADDRESS"] = "unix_socket:" + self.socket

    def spoken(self):
        try:
            with open(self.spoken_file, encoding="utf-8", errors="replace") as f:
                return [line.rstrip("\n") for line in f]
        except FileNotFoundError:
            return []

    # ---- the program ----------------------------------------------------------------------

    def start_program(self):
        """Starts the logbook with a program folder of its own (copies of the delivered files)."""
        home = self.mkdir("quillmere")
        for name in os.listdir(self.program_folder):
            source = os.path.join(self.program_folder, name)
            if os.path.isdir(source):
                shutil.copytree(source, os.path.join(home, name))
            elif not os.access(source, os.X_OK):
                shutil.copy(source, home)
        self.home = home
        env = dict(self.env)
        env.update({"QT_QPA_PLATFORM": "xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QUILLMERE_HOME": home,
                    "QT_ACCESSIBILITY": "1", "ASAN_OPTIONS": "detect_leaks=0"})
        self.program_process = self.spawn([self.program], env=env, name="quillmere")
        self.start_listening()
        if not wait_for(lambda: self.find_app() is not None, 30):
            raise AssertionError("the program never appeared on the accessibility bus: " +
                                 self.read("quillmere.log"))
        if not wait_for(lambda: (self.active_window_name() or "").startswith("   Quillmere 1.0"), 30):
            raise AssertionError("the main window never became active: %r %s" %
                                 (self.active_window_name(), self.read("quillmere.log")))

    def start_listening(self):
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi, GLib
        self.Atspi = Atspi
        Atspi.init()
        self.listener = Atspi.EventListener.new(self.on_event)
        for kind in ("object:state-changed:focused", "window:activate", "focus:"):
            self.listener.register(kind)
        self.loop = GLib.MainLoop()
        self.context = self.loop.get_context()

    def pump(self, seconds=0.3):
        """Lets the accessibility events that arrived in `seconds` be delivered."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            while self.context.pending():
                self.context.iteration(False)
            time.sleep(0.01)

    def on_event(self, event):
        try:
            source = event.source
            name = source.get_name()
            role = source.get_role_name()
            focused = source.get_state_set().contains(self.Atspi.StateType.FOCUSED)
            window = ""
            node = source
            for _ in range(40):
                parent = node.get_parent()
                if parent is None or parent.get_role() == self.Atspi.Role.APPLICATION:
                    window = node.get_name()
                    break
                node = parent
        except Exception as e:  # the object went away before it was read
            name, role, window, focused = "<gone: %s>" % e, "", "", False
        with self.lock:
            self.events.append(Event(event.type, name, role, event.detail1, window, focused))

    def take_events(self, seconds=0.6):
        self.pump(seconds)
        with self.lock:
            events, self.events = self.events, []
        return events

    def find_app(self):
        desktop = self.Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == "Quillmere":
                self.app = app
                return app
        return None

    def windows(self):
        """The program's top-level windows: (name, active, showing)."""
        result = []
        if self.app is None:
            return result
        for i in range(self.app.get_child_count()):
            w = self.app.get_child_at_index(i)
            states = w.get_state_set()
            result.append((w.get_name(), states.contains(self.Atspi.StateType.ACTIVE),
                           states.contains(self.Atspi.StateType.SHOWING)))
        return result

    def find(self, name, role=None, window=None):
        """The first showing object named `name` (and of `role`), searched from the windows."""
        Atspi = self.Atspi
        for i in range(self.app.get_child_count()):
            top = self.app.get_child_at_index(i)
            if window is not None and top.get_name() != window:
                continue
            stack = [top]
            while stack:
                node = stack.pop()
                if node.get_name() == name and (role is None or node.get_role_name() == role):
                    return node
                for j in range(min(node.get_child_count(), 400)):
                    child = node.get_child_at_index(j)
                    if child is not None:
                        stack.append(child)
        return None

    def focused_text(self, window):
        """The text of the focused object in `window`."""
        Atspi = self.Atspi
        for i in range(self.app.get_child_count()):
            top = self.app.get_child_at_index(i)
            if top.get_name() != window:
                continue
            stack = [top]
            while stack:
                node = stack.pop()
                if node.get_state_set().contains(Atspi.StateType.FOCUSED) and node.get_role_name() == "text":
                    return self.text_of(node)
                for j in range(min(node.get_child_count(), 400)):
                    child = node.get_child_at_index(j)
                    if child is not None:
                        stack.append(child)
        return None

    def text_of(self, node):
        try:
            return self.Atspi.Text.get_text(node, 0, self.Atspi.Text.get_character_count(node))
        except Exception:
            return None

    # ---- keys and X windows ---------------------------------------------------------------

    def xdotool(self, args, check=True):
        out = subprocess.run(["xdotool"] + args, env=self.env, capture_output=True, text=True)
        if out.returncode != 0:
            if check:
                raise AssertionError("xdotool %s: %s" % (" ".join(args), out.stderr))
            return None
        return out.stdout.rstrip("\n")

    def key(self, *keys, pause=0.5):
        for k in keys:
            self.xdotool(["key", "--clearmodifiers", k])
            time.sleep(0.05)
        self.pump(pause)

    def type(self, text, pause=0.5):
        self.xdotool(["type", "--delay", "40", text])
        self.pump(pause)

    def active_window_name(self):
        """The title the window manager shows for the active window."""
        return self.xdotool(["getactivewindow", "getwindowname"], check=False)

    # ---- the end --------------------------------------------------------------------------

    def read(self, name):
        try:
            with open(os.path.join(self.dir, name), errors="replace") as f:
                return f.read()[-3000:]
        except OSError:
            return ""

    def stop(self, keep=False):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
        for process in reversed(self.processes):
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(5)
        if not keep:
            shutil.rmtree(self.dir, ignore_errors=True)
