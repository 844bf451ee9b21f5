#!/usr/bin/python3 -Wignore::DeprecationWarning
"""The program's widgets through AT-SPI, as a screen reader reaches them.

Usage: a11y.py PID fill NAME TEXT | press NAME | has ROLE NAME | active
Exits 1 when the widget is not (yet) there; the caller retries.
"""
import sys

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi  # noqa: E402


def find(node, role, name, depth=0):
    """The first visible widget of that role and accessible name."""
    if node is None or depth > 80:
        return None
    try:
        if (node.get_role_name() == role and node.get_name() == name
                and node.get_state_set().contains(Atspi.StateType.SHOWING)):
            return node
        count = node.get_child_count()
    except gi.repository.GLib.Error:
        return None
    for i in range(count):
        hit = find(node.get_child_at_index(i), role, name, depth + 1)
        if hit:
            return hit
    return None


def application(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def main():
    pid, command, *args = sys.argv[1:]
    app = application(int(pid))
    if command == 'fill':
        field = find(app, 'text', args[0]) or find(app, 'password text', args[0])
        return 0 if field and Atspi.EditableText.set_text_contents(field, args[1]) else 1
    if command == 'press':
        button = find(app, 'push button', args[0])
        if not button:
            return 1
        for i in range(Atspi.Action.get_n_actions(button)):
            if Atspi.Action.get_action_name(button, i) == 'Press':
                return 0 if Atspi.Action.do_action(button, i) else 1
        return 1
    if command == 'active':  # one of its windows is the focused one
        windows = [app.get_child_at_index(i) for i in range(app.get_child_count())] if app else []
        return 0 if any(w and w.get_state_set().contains(Atspi.StateType.ACTIVE) for w in windows) else 1
    if command == 'has':
        return 0 if find(app, args[0], args[1]) else 1
    return 2


sys.exit(main())
