"""What a screen reader finds in both windows of the real program.

The program runs under Xvfb with Qt's accessibility on, on a private session
bus with its own accessibility bus, and is read with pyatspi as screen readers
read it. Every push button, toggle, radio button and text field must have a
name; Ctrl+B must leave the Bold button checked, and the line typed next must
reach a headless participant in bold.

Usage: accessibility_test.py PROGRAM PARTICIPANT LSAN_SUPPRESSIONS
Exits 77 (skipped) when a tool it needs is missing, saying which.
"""

import importlib.util
import os
import queue
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
INSIDE = "JASELO_ACCESSIBILITY_BUS"


def skip(reason):
    print("SKIPPED: " + reason + "; scripts/deps.sh installs the test tools")
    sys.exit(77)


def wait_for(condition, what, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def start_xvfb():
    read, write = os.pipe()
    # Without -noreset the server resets when its last client leaves (the bus
    # launcher, having set its property), and refuses connections meanwhile.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                             "-noreset"], pass_fds=[write])
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            raise AssertionError("Xvfb did not start")
        number += chunk
    os.close(read)
    return xvfb, ":" + number.decode().strip()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, timeout=15)


def focus_window(title):
    found = subprocess.run(["xdotool", "search", "--sync", "--limit", "1", "--name", "^" + title + "$"],
                           check=True, timeout=15, capture_output=True, text=True)
    xdotool("windowfocus", "--sync", found.stdout.split()[0])


def run(program, participant, suppressions):
    xvfb, display = start_xvfb()
    os.environ["DISPLAY"] = display
    children = [xvfb, subprocess.Popen([LAUNCHER, "--launch-immediately"])]
    folder = tempfile.TemporaryDirectory()
    try:
        # Whoever asks before the launcher holds its name would have a second
        # launcher started, with a bus of its own.
        from gi.repository import Gio, GLib
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        wait_for(lambda: session.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                           "NameHasOwner", GLib.Variant("(s)", ("org.a11y.Bus",)), None,
                                           Gio.DBusCallFlags.NONE, -1, None).unpack()[0], "the accessibility bus")
        import pyatspi  # only now: it joins the accessibility bus of this session
        port = free_port()
        with open(os.path.join(folder.name, "config.cfg"), "wb") as f:
            f.write(b"#Pseudo\r\n5 host\r\n#Client-Server\r\n0 1\r\n#IpAddress\r\n127.0.0.1\r\n#Port\r\n"
                    + str(port).encode() + b"\r\n#Police\r\n6 Arial\r\n#Couleur\r\n0 0 0\r\n#Mode\r\n0 0 0\r\n")
        lsan = os.environ.get("LSAN_OPTIONS", "")
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   LSAN_OPTIONS=(lsan + ":" if lsan else "") + "suppressions=" + suppressions)
        app_process = subprocess.Popen([program], cwd=folder.name, env=env)
        children.append(app_process)

        def window(title):
            desktop = pyatspi.Registry.getDesktop(0)
            for app in (desktop.getChildAtIndex(i) for i in range(desktop.childCount)):
                if app is not None and app.get_process_id() == app_process.pid:
                    for w in (app.getChildAtIndex(i) for i in range(app.childCount)):
                        if w is not None and w.name == title:
                            return w
            return None

        controls = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
                    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT}

        def named_controls(win):
            found = {}
            for a in pyatspi.findAllDescendants(win, lambda a: a.getRole() in controls):
                assert a.name, "a %s without a name in %r" % (a.getRoleName(), win.name)
                found[a.name] = a
            return found

        dialog = wait_for(lambda: window("Jaselo Initialisation"), "the settings dialog")
        names = named_controls(dialog)
        for name in ("OK", "Annuler", "Client (Enter server ip address)", "Server (Enter your ip address)",
                     "Pseudo :", "Address, part 1 of 4", "Address, part 4 of 4", "Port :"):
            assert name in names, "no %r in the settings dialog: %s" % (name, sorted(names))
        focus_window("Jaselo Initialisation")
        xdotool("key", "Return")

        chat = wait_for(lambda: window("Jaselo -- host"), "the chat window")
        names = named_controls(chat)
        for name in ("Transcript", "Font", "Colour", "Bold", "Italic", "Underline", "Message", "Send", "Find:",
                     "Previous", "Next", "Close"):
            assert name in names, "no %r in the chat window: %s" % (name, sorted(names))

        alice = subprocess.Popen([participant, "--nick", "alice", "--port", str(port), "--quiet"],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        children.append(alice)
        lines = queue.Queue()
        threading.Thread(target=lambda: [lines.put(l.rstrip("\n")) for l in alice.stdout], daemon=True).start()
        transcript = names["Transcript"].queryText()
        wait_for(lambda: "alice joined the chat !" in transcript.getText(0, -1), "alice's arrival")

        bold = names["Bold"]
        assert not bold.getState().contains(pyatspi.STATE_CHECKED), "bold is on from the start"
        focus_window("Jaselo -- host")
        xdotool("key", "ctrl+b")
        wait_for(lambda: bold.getState().contains(pyatspi.STATE_CHECKED), "the Bold button to be checked")
        xdotool("type", "--delay", "20", "bold by key")
        xdotool("key", "Return")
        said = 'SAYS name="host" text="bold by key" face="Arial" color=0,0,0 bold=1 italic=0 underline=0'
        wait_for(lambda: not lines.empty() and lines.get().startswith(said), "alice to receive the line in bold")

        xdotool("key", "Escape")
        assert app_process.wait(timeout=10) == 0, "the program failed on leaving"
        alice.stdin.close()
        alice.wait(timeout=5)
    finally:
        for child in reversed(children):
            if child.poll() is None:
                child.terminate()  # the launcher then stops the bus it started
                try:
                    child.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
        folder.cleanup()
    print("PASSED: every control named; Ctrl+B checks Bold and the next line goes out bold")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    for tool in ("dbus-run-session", "Xvfb", "xdotool"):
        if not shutil.which(tool):
            skip(tool + " is missing")
    if not os.access(LAUNCHER, os.X_OK):
        skip(LAUNCHER + " is missing (at-spi2-core)")
    if importlib.util.find_spec("pyatspi") is None:
        skip("pyatspi is missing for " + sys.executable + " (python3-pyatspi)")
    if os.environ.get(INSIDE) != "1":
        # Again, on a session bus of its own.
        env = dict(os.environ, **{INSIDE: "1"})
        os.execvpe("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv], env)
    run(*(os.path.abspath(a) for a in sys.argv[1:]))


if __name__ == "__main__":
    main()
