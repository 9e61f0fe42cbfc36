#!/usr/bin/env python3
# The records window as a screen reader meets it: the built program, read over AT-SPI and
# driven by keys, on an X server, a session bus and an accessibility bus of the test's own (a
# window of another test on the shared X server would take the keyboard focus), with the
# shared sound server of scripts/test and the driver installed there.
import argparse
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest
import warnings
from datetime import datetime, timedelta, timezone

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

# pyatspi's own calls into the library, not the test's.
warnings.filterwarnings("ignore", category=DeprecationWarning, module="pyatspi")

SKIPPED = 77
# Each step takes well under a second; a loaded 2-core machine may take many times that.
STEP_TIMEOUT_S = 20

arguments = None
pyatspi = None

# The layout of the records table before the folded copies of its texts for the search: the
# program adds and fills them on opening, so the test need not fold text as the search does.
RECORD_COLUMNS = """
    id INTEGER PRIMARY KEY AUTOINCREMENT, "name" TEXT NOT NULL DEFAULT '',
    "fromPhone" TEXT NOT NULL DEFAULT '', "time" INTEGER NOT NULL,
    "symbol" TEXT NOT NULL DEFAULT '', "fileName" TEXT NOT NULL DEFAULT '',
    "favorite" INTEGER NOT NULL DEFAULT 0, "duration" REAL NOT NULL DEFAULT 0,
    "recognizeText" TEXT NOT NULL DEFAULT '', "designeID" INTEGER NOT NULL DEFAULT 0,
    "typeRecord" TEXT NOT NULL DEFAULT '', "note" TEXT NOT NULL DEFAULT '', "socialIM" TEXT,
    "size" REAL NOT NULL DEFAULT 0"""

# No service activation: nothing starts on this bus but what the test starts.
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir={folder}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


# The program's English names, whatever the test's own locale.
DAYS = "Mon Tue Wed Thu Fri Sat Sun".split()
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


class Record:
    def __init__(self, name, minutes_ago, seconds):
        self.name = name
        noon = datetime(2024, 5, 1, 12, 0, tzinfo=timezone.utc)
        self.time = noon - timedelta(minutes=minutes_ago)
        self.seconds = seconds
        self.file_name = name.replace(" ", "-") + ".m4a"

    def spoken(self, strings, name=None, favourite=False):
        # As the row shows it: name, date (the program runs in UTC), duration, the star.
        when = self.time
        date = "%s, %d %s %d %s" % (DAYS[when.weekday()], when.day, MONTHS[when.month - 1],
                                    when.year, when.strftime("%H:%M:%S"))
        parts = [name or self.name, date, "%d:%02d" % divmod(self.seconds, 60)]
        if favourite:
            parts.append(strings["ACCESSIBLE_FAVOURITE"])
        return ", ".join(parts)


def pump():
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def wait_until(condition, what):
    deadline = time.monotonic() + STEP_TIMEOUT_S
    while True:
        pump()
        try:
            value = condition()
        except GLib.Error:
            # An object that went away between two calls: the next look finds the new one.
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("waited %d s for %s" % (STEP_TIMEOUT_S, what))
        time.sleep(0.02)


def has_state(accessible, state):
    return accessible.getState().contains(state)


def descendants(accessible):
    for child in accessible:
        if child is not None:
            yield child
            yield from descendants(child)


def first(accessible, role, name=None):
    for node in descendants(accessible):
        if node.getRole() == role and (name is None or node.name == name):
            return node
    return None


def start(command, log, **options):
    return subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, **options)


def stop(process, group=False):
    # A group also holds what its leader started, which may outlive it.
    try:
        if group:
            os.killpg(process.pid, signal.SIGTERM)
        else:
            process.terminate()
    except ProcessLookupError:
        pass
    try:
        process.wait(STEP_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class RecordsWindowByScreenReader(unittest.TestCase):
    def setUp(self):
        with open(arguments.strings, encoding="utf-8") as strings:
            self.strings = json.load(strings)
        self.folder = tempfile.mkdtemp(prefix="orvo-a11y-")
        os.chmod(self.folder, 0o700)
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.log = open(os.path.join(self.folder, "services.log"), "w")
        self.addCleanup(self.log.close)
        self.home = os.path.join(self.folder, "home")
        self.tree = os.path.join(self.home, "Documents", "ORVO")
        self.catalogue = os.path.join(self.tree, "records.realm")
        self.environment = self.private_services()

    def private_services(self):
        read, write = os.pipe()
        xvfb = start(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24",
                      "-nolisten", "tcp", "-noreset"], self.log, pass_fds=[write])
        self.addCleanup(stop, xvfb)
        os.close(write)
        with os.fdopen(read) as pipe:
            display = pipe.readline().strip()
        self.assertTrue(display, "Xvfb did not start")

        config = os.path.join(self.folder, "session.conf")
        with open(config, "w") as file:
            file.write(BUS_CONFIG.format(folder=self.folder))
        bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                                "--nopidfile", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.addCleanup(bus.stdout.close)
        self.addCleanup(stop, bus)
        address = bus.stdout.readline().strip()
        self.assertTrue(address, "the session bus did not start")

        runtime = os.path.join(self.folder, "runtime")
        os.mkdir(runtime, 0o700)
        environment = dict(os.environ, DISPLAY=":" + display, DBUS_SESSION_BUS_ADDRESS=address,
                           XDG_RUNTIME_DIR=runtime, HOME=self.home, LANG="C.UTF-8", TZ="UTC",
                           XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                           GSETTINGS_BACKEND="memory", QT_QPA_PLATFORM="xcb",
                           PULSE_SERVER=os.environ.get("PULSE_SERVER") or
                           "unix:%s/pulse/native" % os.environ["XDG_RUNTIME_DIR"])
        for name in ("XDG_DATA_HOME", "XDG_CACHE_HOME", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON",
                     "AT_SPI_BUS_ADDRESS"):
            environment.pop(name, None)

        # As a desktop with a screen reader on starts it: the program finds it on the session
        # bus and turns its accessibility on.
        with open("/usr/share/dbus-1/services/org.a11y.Bus.service") as service:
            launcher = next(line.split("=", 1)[1].strip() for line in service
                            if line.startswith("Exec="))
        launcher = start([launcher, "--launch-immediately", "--a11y=1", "--screen-reader=1"],
                         self.log, env=environment, start_new_session=True)
        # Its bus and the registry that bus starts are in its process group.
        self.addCleanup(stop, launcher, True)
        session = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
            Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        self.addCleanup(session.close_sync, None)

        def a11y_bus():
            return session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                     "GetAddress", None, GLib.VariantType("(s)"),
                                     Gio.DBusCallFlags.NONE, 1000, None).unpack()[0]

        wait_until(a11y_bus, "the accessibility bus")
        for name in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"):
            os.environ[name] = environment[name]
        global pyatspi
        import pyatspi as module
        pyatspi = module
        return environment

    def write_catalogue(self, records):
        os.makedirs(os.path.join(self.tree, "Records", "Audio"))
        database = sqlite3.connect(self.catalogue)
        database.executescript('CREATE TABLE RealmRecordModel (%s); '
                               'CREATE INDEX RealmRecordModel_time ON RealmRecordModel("time"); '
                               'PRAGMA user_version = 1;' % RECORD_COLUMNS)
        for designe, record in enumerate(records):
            database.execute(
                'INSERT INTO RealmRecordModel (name, "time", symbol, fileName, duration, '
                'designeID, typeRecord, size) VALUES (?, ?, ?, ?, ?, ?, ?, ?)',
                (record.name, int(record.time.timestamp() * 1000), record.name[0],
                 record.file_name, record.seconds, designe, "Audio", 0.5))
            media = os.path.join(self.tree, "Records", "Audio", record.file_name)
            with open(media, "wb") as file:
                file.write(b"\0" * 1024)
        database.commit()
        database.close()

    def stored(self):
        # Read-only, beside the program's own connection.
        database = sqlite3.connect("file:%s?mode=ro" % self.catalogue, uri=True, timeout=5)
        try:
            rows = database.execute("SELECT name, favorite, fileName FROM RealmRecordModel")
            return {name: (favourite, file_name) for name, favourite, file_name in rows}
        finally:
            database.close()

    def launch(self):
        # The driver's folder where the program looks for it, in a mount namespace of the
        # program's own: the machine's /var/lib stays as it is.
        driver = os.path.join(os.environ["ORVO_DRIVER_TEST_ROOT"], "var", "lib")
        self.output = open(os.path.join(self.folder, "program.log"), "w+")
        self.program = start(
            ["unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
             'mount -t overlay orvo-driver -o "lowerdir=$1:/var/lib" /var/lib && exec "$2"',
             "sh", driver, arguments.program], self.output, env=self.environment, cwd=self.folder)
        self.addCleanup(self.print_output)
        self.addCleanup(stop, self.program)

    def print_output(self):
        self.output.seek(0)
        sys.stdout.write("--- the program's output\n" + self.output.read())
        self.output.close()

    def key(self, *keys):
        subprocess.run(["xdotool", "key"] + list(keys), check=True)

    def application(self):
        def found():
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.get_process_id() == self.program.pid:
                    return app
            self.assertIsNone(self.program.poll(), "the program ended")
            return None

        app = wait_until(found, "the program on the accessibility bus")
        # Every look asks the program: a cached state would lag behind the keys.
        app.set_cache_mask(Atspi.Cache.NONE)
        return app

    def test_rows_are_read_selected_renamed_and_starred_from_the_keyboard(self):
        records = [Record("Anna Petrova", 30, 75), Record("Support line", 20, 193),
                   Record("Weekly sync", 10, 3605)]
        self.write_catalogue(records)
        newest_first = records[::-1]
        chosen = newest_first[1]
        new_name = "Insurance claim"

        focus_events = []
        self.launch()
        app = self.application()
        pyatspi.Registry.registerEventListener(focus_events.append,
                                               "object:state-changed:focused")
        self.addCleanup(pyatspi.Registry.deregisterEventListener, focus_events.append,
                        "object:state-changed:focused")

        # The window the start opens, with the search focused and the list below it.
        window = wait_until(lambda: next((w for w in app if w is not None and
                                          w.getRole() == pyatspi.ROLE_FRAME and
                                          has_state(w, pyatspi.STATE_ACTIVE)), None),
                            "the records window, active")
        search = wait_until(lambda: first(window, pyatspi.ROLE_TEXT, self.strings["SEARCH"]),
                            "the search field")
        wait_until(lambda: has_state(search, pyatspi.STATE_FOCUSED), "the search focused")
        table = wait_until(lambda: first(window, pyatspi.ROLE_TABLE, self.strings["RECORDS"]),
                           "the list named " + self.strings["RECORDS"])
        rows = table.queryTable()

        def cell(row):
            return rows.getAccessibleAt(row, 0)

        wait_until(lambda: rows.nRows == len(records), "a row per record")
        for row, record in enumerate(newest_first):
            self.assertEqual(cell(row).getRole(), pyatspi.ROLE_TABLE_CELL)
            self.assertEqual(cell(row).name, record.spoken(self.strings))
            self.assertIn("F2", cell(row).description)

        # The down arrow leaves the search for the first row, and moves on to the second.
        self.key("Down")
        wait_until(lambda: has_state(cell(0), pyatspi.STATE_FOCUSED), "the first row focused")
        self.key("Down")
        wait_until(lambda: has_state(cell(1), pyatspi.STATE_FOCUSED), "the second row focused")
        self.assertTrue(has_state(cell(1), pyatspi.STATE_SELECTED))
        self.assertEqual(rows.getSelectedRows(), [1])
        self.assertFalse(has_state(cell(0), pyatspi.STATE_FOCUSED))

        # Its actions open as a menu named for the record, the first entry focused; the arrows
        # move through them, and Escape goes back to the row.
        del focus_events[:]
        self.key("shift+F10")

        def focused(name):
            for event in focus_events:
                if event.detail1 == 1 and event.source.name == name:
                    return event.source
            return None

        entry = wait_until(lambda: focused(self.strings["SHOW_FINDER"]),
                           "the first action focused")
        self.assertEqual(entry.getRole(), pyatspi.ROLE_PUSH_BUTTON)
        popover = entry.parent
        self.assertEqual(popover.getRole(), pyatspi.ROLE_POPUP_MENU)
        self.assertEqual(popover.name, chosen.name)
        self.assertTrue(has_state(popover, pyatspi.STATE_SHOWING))
        entries = [child.name for child in popover if has_state(child, pyatspi.STATE_SHOWING)]
        for action in ("RENAME", "SHARED", "NOTE", "DELETE"):
            self.assertIn(self.strings[action], entries)
        self.key("Down")
        wait_until(lambda: focused(self.strings["RENAME"]), "the next action focused")

        def closed(accessible):
            try:
                states = accessible.getState()
            except GLib.Error:
                return True
            return states.contains(pyatspi.STATE_DEFUNCT) or not states.contains(
                pyatspi.STATE_SHOWING)

        self.key("Escape")
        wait_until(lambda: closed(popover) and has_state(cell(1), pyatspi.STATE_FOCUSED) and
                   has_state(window, pyatspi.STATE_ACTIVE), "the actions closed, the row focused")

        # F2 asks for the new name in a field that holds the old one, whole, so typing
        # replaces it.
        self.key("F2")
        field = wait_until(lambda: next((first(d, pyatspi.ROLE_TEXT, self.strings["RENAME"])
                                         for d in app if d is not None and
                                         d.getRole() == pyatspi.ROLE_DIALOG), None),
                           "the rename field")
        wait_until(lambda: has_state(field, pyatspi.STATE_FOCUSED), "the rename field focused")
        text = field.queryText()
        self.assertEqual(text.getText(0, -1), chosen.name)
        subprocess.run(["xdotool", "type", new_name], check=True)
        wait_until(lambda: text.getText(0, -1) == new_name, "the new name in the field")
        self.key("Return")
        wait_until(lambda: not any(d is not None and d.getRole() == pyatspi.ROLE_DIALOG
                                   for d in app), "the rename dialog closed")
        wait_until(lambda: cell(1).name == chosen.spoken(self.strings, new_name),
                   "the row read with its new name")
        self.assertEqual(self.stored()[new_name], (0, chosen.file_name))

        # Without a window manager nobody gives the focus back when the dialog goes.
        windows = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid",
                                  str(self.program.pid)], capture_output=True, text=True,
                                 check=True).stdout.split()
        self.assertEqual(len(windows), 1, windows)
        subprocess.run(["xdotool", "windowfocus", "--sync", windows[0]], check=True)
        wait_until(lambda: has_state(window, pyatspi.STATE_ACTIVE) and
                   has_state(cell(1), pyatspi.STATE_FOCUSED), "the renamed row focused")

        # Ctrl+D stars it: the catalogue keeps the star and the row says so.
        self.key("ctrl+d")
        wait_until(lambda: self.stored()[new_name][0] == 1, "the star in the catalogue")
        wait_until(lambda: cell(1).name == chosen.spoken(self.strings, new_name, True),
                   "the row read as a favourite")
        others = [record for record in records if record is not chosen]
        self.assertEqual(self.stored(),
                         dict({record.name: (0, record.file_name) for record in others},
                              **{new_name: (1, chosen.file_name)}))
        for row in (0, 2):
            self.assertEqual(cell(row).name, newest_first[row].spoken(self.strings))
        self.assertTrue(has_state(cell(1), pyatspi.STATE_SELECTED))

        os.makedirs(arguments.screenshots, exist_ok=True)
        subprocess.run(["import", "-window", "root",
                        os.path.join(arguments.screenshots, "records-screen-reader.png")],
                       check=True, env=self.environment)

        # A logout's signal ends it cleanly, its devices given back to the sound server.
        self.program.terminate()
        self.assertEqual(self.program.wait(STEP_TIMEOUT_S), 0)


def main():
    global arguments
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--strings", required=True)
    parser.add_argument("--screenshots", required=True)
    arguments, rest = parser.parse_known_args()
    if not os.environ.get("XDG_RUNTIME_DIR") and not os.environ.get("PULSE_SERVER"):
        sys.exit("needs the sound server of scripts/test")
    if not os.environ.get("ORVO_DRIVER_TEST_ROOT"):
        print("skipped: needs the virtual driver that scripts/test installs")
        sys.exit(SKIPPED)
    if os.geteuid() != 0:
        print("skipped: needs root for a mount namespace with the driver's folder")
        sys.exit(SKIPPED)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
