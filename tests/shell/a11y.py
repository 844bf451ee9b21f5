#!/usr/bin/python3 -Wignore::DeprecationWarning
"""The program's widgets through AT-SPI, as a screen reader reaches them.

Usage: a11y.py PID fill NAME TEXT | press NAME | has ROLE NAME | active
                | panel [ROLE=NAME ...] | act ROLE NAME ACTION
                | states ROLE NAME | focus ROLE NAME | type-secret TEXT
                | listen SECONDS ROLE | tell-expanded ROLE NAME HOW | apps
                | help-shown SECONDS
Exits 1 when the widget is not (yet) there; the caller retries.
"panel" prints the shown part of the panel's tree and fails unless the
application lists the panel among its windows, every focusable control in
it has a name (a combo box: a label), and the controls given are there.
"act" runs the widget's accessibility action by name ("Toggle", "Press"),
as voice control and switch access do; "states" prints its states.
"type-secret" presses Tab (from the e-mail field, which has the focus as the
panel opens), types TEXT with real key events (xdotool) and records every
event the program sends meanwhile: it fails unless the focus reached the
password field by its name before the field sent anything else (a caret
report first makes Orca say nothing), one text insertion came per key, and
no event nor the field's text carries a character of TEXT.
"listen" prints, for SECONDS, the name of each widget of ROLE that appears.
"help-shown" records for SECONDS what the program tells of labels being
shown and fails unless every help label that is a control's description and
not showing was last told "not showing": a reader keeps what it is told and,
told "showing", reads the label again as one of the panel's loose notes.
"apps" prints the toolkit of each application the process is listed as.
"tell-expanded" opens or closes an expandable widget, HOW "key" (focused,
then Space with a real key event) or by its action of that name ("Press"),
prints the widget's state-changed:expanded and :collapsed events and fails
unless they carried the new state: what Orca hears to say "expanded" or
"collapsed".
"""
import subprocess
import sys
import time

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi, GLib  # noqa: E402


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


def showing(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def label(node):
    """What a screen reader says a control is: its name, or for a combo box,
    whose name Qt makes its current entry, the label it is labelled by."""
    if node.get_role_name() != 'combo box':
        return node.get_name()
    for relation in node.get_relation_set():
        if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
            return ' '.join(relation.get_target(i).get_name() for i in range(relation.get_n_targets()))
    return ''


def panel(app, wanted):
    """The panel as a screen reader walking the application's windows finds it."""
    windows = [app.get_child_at_index(i) for i in range(app.get_child_count())] if app else []
    frame = next((w for w in windows if w and w.get_role_name() == 'frame'
                  and w.get_name() == 'Pendrel Publisher' and showing(w)), None)
    if frame is None:
        print('no panel among the application\'s %d windows: %s' % (
            len(windows), [(w.get_role_name(), w.get_name()) for w in windows if w]))
        return 1
    lines, unnamed, found = [], [], set()

    def walk(node, depth, within):
        if node is None or depth > 80 or not showing(node):
            return
        role, name, called = node.get_role_name(), node.get_name(), label(node)
        focusable = node.get_state_set().contains(Atspi.StateType.FOCUSABLE)
        lines.append('%s%s "%s"%s%s' % ('  ' * depth, role, name, '' if called == name else ' labelled "%s"' % called,
                                         ' (focusable)' if focusable else ''))
        found.add('%s=%s' % (role, called))
        if focusable and not called.strip():
            unnamed.append('%s in "%s"' % (role, within))
        for i in range(node.get_child_count()):
            walk(node.get_child_at_index(i), depth + 1, name or within)

    walk(frame, 0, '')
    print('\n'.join(lines))
    missing = [w for w in wanted if w not in found]
    for what, items in (('focusable without a name', unnamed), ('missing', missing)):
        if items:
            print('%s: %s' % (what, '; '.join(items)))
    return 1 if unnamed or missing else 0


def pump(seconds):
    """Lets AT-SPI deliver events for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        time.sleep(0.02)


def recording(kinds):
    """Starts recording events of those kinds: (type, role, name, data)."""
    events = []

    def record(event):
        try:
            source = event.source
            role, name = (source.get_role_name(), source.get_name()) if source else ('', '')
        except GLib.Error:
            role, name = '?', '?'
        # A state change carries its new value in detail1; others their text.
        data = event.detail1 if event.type.startswith('object:state-changed:') else event.any_data
        events.append((event.type, role, name, data if isinstance(data, (str, int)) else ''))

    listener = Atspi.EventListener.new(record)
    for kind in kinds:
        listener.register(kind)
    pump(1.5)  # the program learns of the listener through the registry
    return listener, events


def type_secret(app, text):
    field = find(app, 'password text', 'Password')
    if field is None:
        print('no password field named "Password"')
        return 1
    listener, events = recording(['object:text-changed', 'object:property-change', 'object:state-changed',
                                  'object:text-caret-moved', 'object:value-changed', 'object:text-selection-changed',
                                  'object:children-changed', 'object:announcement'])
    subprocess.run(['xdotool', 'key', '--delay', '150', 'Tab'], check=True)
    pump(1.0)
    subprocess.run(['xdotool', 'type', '--delay', '200', text], check=True)
    pump(2.0)
    listener.deregister('object:text-changed')
    for event in events:
        print('%s %s "%s" %r' % event)
    failures = []
    # The focus first: a reader that hears of the caret first says nothing.
    own = [e for e in events if e[1] == 'password text']
    if not own or own[0][:2] != ('object:state-changed:focused', 'password text') or own[0][2:] != ('Password', 1):
        failures.append('Tab did not bring the focus to the password field "Password" before anything else')
    inserts = [e for e in events if e[0] == 'object:text-changed:insert' and e[1] == 'password text']
    if len(inserts) != len(text):
        failures.append('%d text insertions for %d keys' % (len(inserts), len(text)))
    leaked = [e for e in events if isinstance(e[3], str) and any(c in e[3] for c in text)]
    if leaked:
        failures.append('events that carry typed characters: %s' % leaked)
    shown = Atspi.Text.get_text(field, 0, -1)
    if any(c in shown for c in text) or len(shown) not in (0, len(text)):
        failures.append('the field\'s text is "%s"' % shown)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


def act(app, role, name, action):
    widget = find(app, role, name)
    if widget is None:
        return 1
    for i in range(Atspi.Action.get_n_actions(widget)):
        if Atspi.Action.get_action_name(widget, i) == action:
            return 0 if Atspi.Action.do_action(widget, i) else 1
    print('%s "%s" has no action %s' % (role, name, action))
    return 1


def listen(app, seconds, role):
    """The name of each widget of ROLE as it appears, which is when a screen
    reader speaks a notification (read as the event comes in)."""
    listener, events = recording(['object:state-changed:showing'])
    pump(float(seconds))
    for kind, source_role, name, data in events:
        if source_role == role and data == 1:
            print(name)
    return 0


def tell_expanded(app, role, name, how):
    widget = find(app, role, name)
    if widget is None:
        print('no %s "%s"' % (role, name))
        return 1
    was = widget.get_state_set().contains(Atspi.StateType.EXPANDED)
    listener, events = recording(['object:state-changed'])
    if how == 'key':
        if not Atspi.Component.grab_focus(widget):
            print('%s "%s" did not take the focus' % (role, name))
            return 1
        pump(0.5)
        subprocess.run(['xdotool', 'key', 'space'], check=True)
    elif act(app, role, name, how) != 0:
        return 1
    pump(2.0)
    told = [e for e in events if e[0] in ('object:state-changed:expanded', 'object:state-changed:collapsed')
            and e[1:3] == (role, name)]
    for event in told:
        print('%s %s "%s" %r' % event)
    # Both: a reader keeps the states it has been told of and reads them
    # when the expanded change comes; told only that, Orca 43 still had
    # "collapsed" and said so on opening.
    for state, value in (('collapsed', 1 if was else 0), ('expanded', 0 if was else 1)):
        if not any(e[0] == 'object:state-changed:' + state and e[3] == value for e in told):
            print('%s "%s" was %s; no state-changed:%s event said %d' % (
                role, name, 'expanded' if was else 'collapsed', state, value))
            return 1
    return 0


def descriptions(node, found, depth=0):
    """The accessible descriptions of every control under node."""
    if node is None or depth > 80:
        return found
    try:
        if node.get_description():
            found.append(node.get_description())
        count = node.get_child_count()
    except GLib.Error:
        return found
    for i in range(count):
        descriptions(node.get_child_at_index(i), found, depth + 1)
    return found


def help_shown(app, seconds):
    listener, events = recording(['object:state-changed:showing'])
    pump(float(seconds))
    told = {}
    for kind, role, name, value in events:
        if role == 'label' and name:
            told[name] = value  # the last word on each label
    # A description is the control's help texts joined by spaces.
    said = [' %s ' % d for d in descriptions(app, [])]
    helps = {name: value for name, value in told.items() if any(' %s ' % name in d for d in said)}
    labels = {name: find_label(app, name) for name in helps}
    wrong = [name for name, value in helps.items() if value == 1 and labels[name] and not showing(labels[name])]
    for name, value in sorted(helps.items()):
        print('%d %s' % (value, name))
    if not helps:
        print('no help label was shown meanwhile')
        return 1
    for name in wrong:
        print('told "showing", not showing: %s' % name)
    return 1 if wrong else 0


def find_label(node, name, depth=0):
    """The label of that name, shown or not."""
    if node is None or depth > 80:
        return None
    try:
        if node.get_role_name() == 'label' and node.get_name() == name:
            return node
        count = node.get_child_count()
    except GLib.Error:
        return None
    for i in range(count):
        hit = find_label(node.get_child_at_index(i), name, depth + 1)
        if hit:
            return hit
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
    if command == 'panel':
        return panel(app, args)
    if command == 'type-secret':
        return type_secret(app, args[0])
    if command == 'act':
        return act(app, *args)
    if command == 'states':
        widget = find(app, args[0], args[1])
        if widget is None:
            return 1
        print(' '.join(Atspi.StateType(s).value_nick for s in widget.get_state_set().get_states()))
        return 0
    if command == 'focus':
        widget = find(app, args[0], args[1])
        return 0 if widget and Atspi.Component.grab_focus(widget) else 1
    if command == 'listen':
        return listen(app, *args)
    if command == 'apps':
        desktop = Atspi.get_desktop(0)
        apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
        print(' '.join(a.get_toolkit_name() for a in apps if a is not None and a.get_process_id() == int(pid)))
        return 0
    if command == 'tell-expanded':
        return tell_expanded(app, *args)
    if command == 'help-shown':
        return help_shown(app, *args)
    if command == 'has':
        return 0 if find(app, args[0], args[1]) else 1
    return 2


sys.exit(main())
