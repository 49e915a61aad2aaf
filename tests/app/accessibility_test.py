"""What a screen reader finds in both windows of the real program, run under
Xvfb on a private session and accessibility bus and read with pyatspi: every
control has a name, and Ctrl+B checks Bold and makes the next line bold.
Exits 77 (skipped), saying why, when a tool is missing.

Usage: accessibility_test.py PROGRAM PARTICIPANT LSAN_SUPPRESSIONS
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


def wait_for(condition, what, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, timeout=15, capture_output=True, text=True).stdout


def key_in(title, *args):
    found = xdotool("search", "--sync", "--onlyvisible", "--limit", "1", "--name", "^" + title + "$")
    xdotool("windowfocus", "--sync", found.split()[0])
    xdotool(*args)


def run(program, participant, suppressions, children, folder):
    read, write = os.pipe()
    # Without -noreset the server resets when the bus launcher leaves it, refusing connections meanwhile.
    children.append(subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten",
                                      "tcp", "-noreset"], pass_fds=[write]))
    os.close(write)
    with os.fdopen(read) as displayfd:
        os.environ["DISPLAY"] = ":" + displayfd.readline().strip()
    children.append(subprocess.Popen([LAUNCHER, "--launch-immediately"]))
    # Whoever asks before the launcher holds its name gets a second one.
    from gi.repository import Gio, GLib
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    wait_for(lambda: session.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                       "NameHasOwner", GLib.Variant("(s)", ("org.a11y.Bus",)), None,
                                       Gio.DBusCallFlags.NONE, -1, None).unpack()[0], "the accessibility bus")
    import pyatspi  # only now: it joins the accessibility bus of this session

    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    with open(os.path.join(folder, "config.cfg"), "wb") as f:
        f.write(b"#Pseudo\r\n5 host\r\n#Client-Server\r\n0 1\r\n#IpAddress\r\n127.0.0.1\r\n#Port\r\n%d\r\n"
                b"#Police\r\n6 Arial\r\n#Couleur\r\n0 0 0\r\n#Mode\r\n0 0 0\r\n" % port)
    lsan = os.environ.get("LSAN_OPTIONS", "")
    host = subprocess.Popen([program], cwd=folder, env=dict(
        os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
        LSAN_OPTIONS=(lsan + ":" if lsan else "") + "suppressions=" + suppressions))
    children.append(host)

    def window(title):
        desktop = pyatspi.Registry.getDesktop(0)
        apps = [a for a in desktop if a and a.get_process_id() == host.pid]
        return next((w for a in apps for w in a if w and w.name == title), None)

    controls = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
                pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT}

    def check_names(title, expected):
        found = {}
        for a in pyatspi.findAllDescendants(wait_for(lambda: window(title), title), lambda a: a.getRole() in controls):
            assert a.name, "a %s without a name in %r" % (a.getRoleName(), title)
            found[a.name] = a
        missing = set(expected) - set(found)
        assert not missing, "%r lacks %s; it has %s" % (title, sorted(missing), sorted(found))
        return found

    check_names("Jaselo Initialisation", ["OK", "Annuler", "Client (Enter server ip address)",
                                          "Server (Enter your ip address)", "Pseudo :", "Address, part 1 of 4",
                                          "Address, part 4 of 4", "Port :"])
    key_in("Jaselo Initialisation", "key", "Return")
    chat = check_names("Jaselo -- host", ["Transcript", "Font", "Colour", "Bold", "Italic", "Underline", "Message",
                                          "Send", "Find:", "Previous", "Next", "Close"])

    alice = subprocess.Popen([participant, "--nick", "alice", "--port", str(port), "--quiet"],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    children.append(alice)
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line) for line in alice.stdout], daemon=True).start()
    transcript = chat["Transcript"].queryText()
    wait_for(lambda: "alice joined the chat !" in transcript.getText(0, -1), "alice's arrival")

    # The people in the chat, by name, once F9 shows their list.
    key_in("Jaselo -- host", "key", "F9")

    def people():
        found = pyatspi.findDescendant(window("Jaselo -- host"), lambda a: a.name == "People in this chat")
        return found and sorted(row.name for row in found if row)
    wait_for(lambda: people() == ["alice", "host (you) (host)"], "alice and host in the list of people")

    bold = chat["Bold"]
    assert not bold.getState().contains(pyatspi.STATE_CHECKED), "bold is on from the start"
    key_in("Jaselo -- host", "key", "ctrl+b")
    wait_for(lambda: bold.getState().contains(pyatspi.STATE_CHECKED), "the Bold button to be checked")
    xdotool("type", "--delay", "20", "bold by key")
    xdotool("key", "Return")
    said = 'SAYS name="host" text="bold by key" face="Arial" color=0,0,0 bold=1 italic=0 underline=0'
    wait_for(lambda: not lines.empty() and lines.get().startswith(said), "alice to receive the line in bold")

    xdotool("key", "Escape")
    assert host.wait(timeout=10) == 0, "the program failed on leaving"
    print("PASSED: every control named; the list of people holds everyone; Ctrl+B checks Bold and the next line goes"
          " out bold")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    missing = [t for t in ("dbus-run-session", "Xvfb", "xdotool") if not shutil.which(t)]
    missing += [] if os.access(LAUNCHER, os.X_OK) else [LAUNCHER + " (at-spi2-core)"]
    missing += [] if importlib.util.find_spec("pyatspi") else ["pyatspi for " + sys.executable + " (python3-pyatspi)"]
    if missing:
        print("SKIPPED: missing " + ", ".join(missing) + "; scripts/deps.sh installs the test tools")
        sys.exit(77)
    if os.environ.get("JASELO_OWN_SESSION_BUS") != "1":
        os.execvpe("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv],
                   dict(os.environ, JASELO_OWN_SESSION_BUS="1"))
    children = []
    with tempfile.TemporaryDirectory() as folder:
        # The host's key lives here, never in the user's own folder.
        os.environ["XDG_DATA_HOME"] = os.path.join(folder, "data")
        try:
            run(*(os.path.abspath(a) for a in sys.argv[1:]), children, folder)
        finally:
            for child in reversed(children):
                if child.poll() is None:
                    child.terminate()  # the launcher then stops the bus it started
                    try:
                        child.wait(timeout=5)
                    except subprocess.TimeoutExpired:
                        child.kill()
                        child.wait()

if __name__ == "__main__":
    main()
