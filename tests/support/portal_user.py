#!/usr/bin/python3
"""The user in front of the screen-cast portal's dialog, through the accessibility bus.

portal_user.py share   waits for the dialog, picks the first screen and shares it
portal_user.py cancel  waits for the dialog and cancels it
portal_user.py none    exits 0 when no dialog comes within the wait; one that comes is
                       cancelled (so that the caller is not left waiting) and exits 1
"""
import sys
import time

import pyatspi

BACKEND = "xdg-desktop-portal-gnome"


def descendants(accessible):
    yield accessible
    for i in range(accessible.childCount):
        child = accessible.getChildAtIndex(i)
        if child is not None:
            yield from descendants(child)


def showing_windows():
    for app in pyatspi.Registry.getDesktop(0):
        if app is None or app.name != BACKEND:
            continue
        for i in range(app.childCount):
            window = app.getChildAtIndex(i)
            if window is not None and window.getState().contains(pyatspi.STATE_SHOWING):
                yield window


def key(window):
    return (window.get_process_id(), window.path)


# Dialogs answered earlier stay "showing" to the accessibility bus for a while.
answered_before = set()


def find(role, prefix):
    """The first such accessible in a dialog that came since this program started."""
    try:
        for window in showing_windows():
            if key(window) in answered_before:
                continue
            for accessible in descendants(window):
                if accessible.getRoleName() == role and accessible.name.startswith(prefix):
                    return accessible
    except Exception:  # the dialog went while it was read
        pass
    return None


def press(button):
    button.queryAction().doAction(0)


def wait_for_dialog(seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        screen = find("list item", "")
        if screen is not None:
            return screen
        time.sleep(0.2)
    return None


def main():
    what = sys.argv[1]
    answered_before.update(key(window) for window in showing_windows())
    print("portal_user: ready", flush=True)
    screen = wait_for_dialog(5 if what == "none" else 30)
    if screen is None:
        print("portal_user: no dialog", flush=True)
        return 0 if what == "none" else 2
    if what == "share":
        screen.parent.querySelection().selectChild(screen.getIndexInParent())
        deadline = time.monotonic() + 5
        share = find("push button", "_Share")
        while not share.getState().contains(pyatspi.STATE_SENSITIVE):
            if time.monotonic() > deadline:
                print("portal_user: Share stays disabled", flush=True)
                return 3
            time.sleep(0.1)
        press(share)
        print("portal_user: shared " + screen.name, flush=True)
        return 0
    press(find("push button", "_Cancel"))
    print("portal_user: cancelled", flush=True)
    return 1 if what == "none" else 0


if __name__ == "__main__":
    sys.exit(main())
