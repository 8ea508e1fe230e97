#!/usr/bin/env python3
"""Drives the player through its accessibility tree, as a screen reader user would.

Usage (on a D-Bus session of its own, under an X server):
    dbus-run-session -- python3 accessibility_walk.py SPHEROLUX VIDEO

Starts SPHEROLUX VIDEO with Qt's AT-SPI bridge on, and checks over AT-SPI that every control
shown has a name and a description, that the play button found by its name pauses the video
(its name turns to "Play"), that the language button opens the language dialog with its list,
and that the close button ends the program. Exits 0 when all of it holds, else 1 with the
reason on stderr.
"""
import os
import subprocess
import sys
import time

import pyatspi

CONTROL_ROLES = (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_SLIDER, pyatspi.ROLE_COMBO_BOX)


def wait_for(what, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            found = what()
        except Exception:  # the tree changes under us while the window builds itself
            found = None
        if found:
            return found
        time.sleep(0.2)
    return None


def nodes(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child)


def application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def control(app, role, name):
    for node in nodes(app):
        if node.getRole() == role and node.name == name and showing(node):
            return node
    return None


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click"):
            return action.doAction(i)
    return action.doAction(0)


def unnamed_controls(app):
    unnamed = []
    for node in nodes(app):
        if node.getRole() in CONTROL_ROLES and showing(node):
            print("%s: %r, %r" % (node.getRoleName(), node.name, node.description))
            if not node.name or not node.description:
                unnamed.append("%s %r" % (node.getRoleName(), node.name))
    return ", ".join(unnamed)


def fail(reason):
    print(reason, file=sys.stderr)
    return 1


def main():
    program, video = sys.argv[1], sys.argv[2]
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    player = subprocess.Popen([program, video], env=env)
    try:
        return walk(player)
    finally:
        if player.poll() is None:
            player.kill()
            player.wait()


def walk(player):
    app = wait_for(lambda: application(player.pid), 20)
    if app is None:
        return fail("the program does not appear in the accessibility tree")
    pause = wait_for(lambda: control(app, pyatspi.ROLE_PUSH_BUTTON, "Pause"), 30)
    if pause is None:
        return fail("no button named Pause while the video plays")

    unnamed = unnamed_controls(app)
    if unnamed:
        return fail("controls without a name or description: " + unnamed)

    press(pause)
    if wait_for(lambda: control(app, pyatspi.ROLE_PUSH_BUTTON, "Play"), 10) is None:
        return fail("pressing Pause did not pause the video")

    press(control(app, pyatspi.ROLE_PUSH_BUTTON, "Language"))
    # A list reads out its current item as its name.
    languages = wait_for(lambda: control(app, pyatspi.ROLE_COMBO_BOX, "English(United States)"), 10)
    if languages is None:
        return fail("the language button did not open the language dialog")
    unnamed = unnamed_controls(app)
    if unnamed:
        return fail("controls of the language dialog without a name or description: " + unnamed)
    press(control(app, pyatspi.ROLE_PUSH_BUTTON, "Confirm"))

    press(control(app, pyatspi.ROLE_PUSH_BUTTON, "Close"))
    try:
        code = player.wait(timeout=15)
    except subprocess.TimeoutExpired:
        return fail("the close button did not end the program")
    return 0 if code == 0 else fail("the program ended with %d" % code)


if __name__ == "__main__":
    sys.exit(main())
