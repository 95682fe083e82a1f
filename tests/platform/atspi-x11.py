#!/usr/bin/python3
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""Reads the main window through the accessibility bus (AT-SPI), as a screen reader does.

Usage: atspi-x11.py TAVR [--dump]   (needs xvfb, at-spi2-core, dbus, python3-pyatspi). Starts
its own X server (on a display it picks itself, where `xvfb-run -a` can race another run for the
same number), a private session bus and AT-SPI bus, then the program on its fake
device as `tavr -style Fusion -rec`, and checks that:
  - every button has a name, the speed buttons their hints, the stop timer its time;
  - the status text and the time are readable, and -rec after Qt's own options records nothing;
  - Space changes the status text to 録音中..., which is announced, while the time's ticks
    are not; the buttons that recording disables read as disabled.
--dump prints the tree instead of checking it.
"""
import importlib.util
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WAIT = 90  # seconds for anything to appear: CI machines can be slow and loaded

tavr = os.path.abspath(sys.argv[1])
dump = "--dump" in sys.argv[2:]
launcher = "/usr/libexec/at-spi-bus-launcher"
for need in (launcher, shutil.which("dbus-daemon"), shutil.which("xdotool"), shutil.which("Xvfb")):
    if not need or not os.path.exists(need) or not importlib.util.find_spec("pyatspi"):
        print("SKIP: xvfb, at-spi2-core, dbus, python3-pyatspi or xdotool missing")
        sys.exit(0)

scratch = tempfile.mkdtemp()
procs = []


def cleanup():
    for p in reversed(procs):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
    if bus_pid:
        try:
            os.kill(bus_pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    shutil.rmtree(scratch, ignore_errors=True)


def poll(what, predicate, timeout=WAIT):
    """Waits for predicate() to be true (or to return a value), serving bus events meanwhile."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        pump(0.1)


def pump(seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context and context.pending():
            context.iteration(False)
        time.sleep(0.02)


bus_pid = None
context = None
try:
    home = os.path.join(scratch, "home")
    os.makedirs(os.path.join(home, "run"), mode=0o700)
    read_end, write_end = os.pipe()
    procs.append(subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                   "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
                                  stdout=subprocess.DEVNULL, stderr=open(os.path.join(scratch, "xvfb.log"), "w")))
    os.close(write_end)
    with os.fdopen(read_end) as displayfd:
        display = displayfd.readline().strip()
    if not display:
        raise AssertionError("Xvfb did not start")
    os.environ["DISPLAY"] = ":" + display
    os.environ.pop("XAUTHORITY", None)
    env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=os.path.join(home, "run"),
               XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_DATA_HOME=os.path.join(home, "data"), XDG_STATE_HOME=os.path.join(home, "state"))
    out = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                         env=env, capture_output=True, text=True, check=True, timeout=60).stdout.split()
    address, bus_pid = out[0], int(out[1])
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    os.environ.update(env)
    procs.append(subprocess.Popen([launcher, "--launch-immediately"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    poll("the AT-SPI bus", lambda: subprocess.run(
        ["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply", "/org/a11y/bus",
         "org.a11y.Bus.GetAddress"], env=env, capture_output=True).returncode == 0)

    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import GLib
    import pyatspi
    context = GLib.MainContext.default()

    names = []  # (object, new name) of every name change announced

    def on_name(event):
        names.append((event.source, event.source.name))

    pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")

    app_dir = os.path.join(scratch, "app")
    os.makedirs(app_dir)
    shutil.copy(tavr, os.path.join(app_dir, "tavr"))
    log = open(os.path.join(scratch, "tavr.log"), "w")
    program = subprocess.Popen([os.path.join(app_dir, "tavr"), "-style", "Fusion", "-rec"],
                               env=dict(env, TAVRIN_AUDIO="fake", QT_QPA_PLATFORM="xcb",
                                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"),
                               stdout=log, stderr=subprocess.STDOUT)
    procs.append(program)

    def frame():
        if program.poll() is not None:
            raise AssertionError("the program ended:\n" + open(log.name).read() + "\nXvfb:\n"
                                 + open(os.path.join(scratch, "xvfb.log")).read())
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is None:
                continue
            for child in app:
                if child is not None and child.getRole() == pyatspi.ROLE_FRAME and child.name == "Tavrin":
                    return child
        return None

    def walk(node, depth=0):
        yield node, depth
        for child in node:
            if child is not None:
                yield from walk(child, depth + 1)

    def fresh(node):
        node.clearCache()
        return node

    def described(node):
        states = node.getState()
        flags = [n for s, n in ((pyatspi.STATE_ENABLED, "enabled"), (pyatspi.STATE_CHECKED, "checked"),
                                (pyatspi.STATE_PRESSED, "pressed")) if states.contains(s)]
        return "%s %r desc=%r %s" % (node.getRoleName(), node.name, node.description, ",".join(flags))

    win = poll("the main window on the AT-SPI bus", frame)
    button_roles = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX}
    widget_roles = button_roles | {pyatspi.ROLE_LABEL, pyatspi.ROLE_STATUS_BAR}

    def controls():
        return [n for n, _ in walk(fresh(win)) if n.getRole() in widget_roles]

    poll("the status text", lambda: any(n.getRole() == pyatspi.ROLE_LABEL and n.name for n in controls()))
    if dump:
        for node, depth in walk(win):
            if node.getRole() not in (pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_MENU, pyatspi.ROLE_SEPARATOR):
                print("  " * depth + described(node))
        sys.exit(0)

    failures = []

    def check(ok, message):
        print(("ok:   " if ok else "FAIL: ") + message)
        if not ok:
            failures.append(message)

    buttons = {}
    for node in controls():
        if node.getRole() in button_roles:
            check(bool(node.name), "button named: " + described(node))
            buttons[node.name] = node
    hints = ["新規作成", "保存", "再生", "一時停止", "停止", "録音", "タイマー"]
    check(all(h in buttons for h in hints), "speed buttons by their hints: %s" % sorted(buttons))
    timer = buttons.get("タイマー")
    check(timer is not None and timer.description == "00:00:00", "the stop timer's time is readable")

    def status():
        labels = [n.name for n in controls() if n.getRole() == pyatspi.ROLE_LABEL]
        return labels[-1] if labels else None

    def clock():
        for n in controls():
            if n.getRole() == pyatspi.ROLE_STATUS_BAR and re.fullmatch(r"\d\d:\d\d:\d\d/\d\d:\d\d:\d\d", n.name):
                return n
        return None

    check(status() == "44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ", "status text %r; -rec after -style records nothing" % status())
    check(clock() is not None and clock().name == "00:00:00/00:00:00", "the time is readable")

    names.clear()
    xwin = poll("the X window", lambda: subprocess.run(
        ["xdotool", "search", "--onlyvisible", "--name", "^Tavrin$"], capture_output=True, text=True).stdout.split())
    subprocess.run(["xdotool", "windowfocus", "--sync", xwin[0]], capture_output=True, timeout=60)
    subprocess.run(["xdotool", "key", "--clearmodifiers", "space"], check=True, timeout=60)
    poll("録音中... after Space", lambda: status() == "録音中...")
    check(True, "Space changes the status text to 録音中...")
    poll("the announcement", lambda: any(name == "録音中..." for _, name in names))
    check(True, "the change of state is announced")
    # Two seconds of ticks, none of them announced.
    def seconds_recorded():
        h, m, sec = (int(x) for x in clock().name.split("/")[1].split(":"))
        return h * 3600 + m * 60 + sec
    poll("two seconds recorded", lambda: clock() and seconds_recorded() >= 2)
    status_bar = clock()
    check(not any(source == status_bar for source, _ in names),
          "the time's ticks are not announced: %s" % [name for _, name in names])
    for name, enabled in (("録音", False), ("再生", False), ("停止", True), ("一時停止", True)):
        node = fresh(buttons[name])
        check(node.getState().contains(pyatspi.STATE_ENABLED) == enabled,
              "%s reads as %s" % (name, "enabled" if enabled else "disabled"))

    timer = fresh(buttons["タイマー"])
    timer.queryAction().doAction(0)
    latched = poll("the stop timer latched", lambda: fresh(timer).getState().contains(pyatspi.STATE_PRESSED))
    check(latched and timer.getState().contains(pyatspi.STATE_CHECKED), "the stop timer reads as pressed")

    print("PASS" if not failures else "%d check(s) failed" % len(failures))
    sys.exit(1 if failures else 0)
except AssertionError as e:
    print("FAIL:", e)
    sys.exit(1)
finally:
    cleanup()
