#!/usr/bin/python3
# Drives the real settings window as assistive technology does, over the AT-SPI bus: finds its
# controls by role and accessible name, types with key events, moves sliders through the Value
# interface, presses and toggles through actions, and checks what reached the store and the
# simulated devices. Usage: settings_window.py SCENARIO BIN_DIR WORLD (scenarios below).
import json
import subprocess
import sys
import time

import pyatspi

SCENARIO, BIN, WORLD = sys.argv[1], sys.argv[2], sys.argv[3]
APP = "velmora-settings"
failures = []


def fail(message):
    print("FAIL " + message, flush=True)
    failures.append(message)


def wait_for(predicate, seconds, step=0.02):
    """Polls predicate until it gives something true; returns it, or None when time ran out."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            value = predicate()
        except Exception:  # the tree changes under us while the window builds itself
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            return None
        time.sleep(step)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == APP:
            return app
    return None


def find(root, role, name, showing=True):
    """The first control of that role and name, on screen unless told (closed menus are not)."""
    return pyatspi.findDescendant(root, lambda a: a is not None and a.getRole() == role and a.name == name
                                  and (not showing or a.getState().contains(pyatspi.STATE_SHOWING)))


def dump(acc, depth=0, out=None):
    """The window's accessible tree (without table cells), for the failure message."""
    out = [] if out is None else out
    if acc is None or depth > 8:
        return out
    try:
        if acc.getRole() != pyatspi.ROLE_TABLE_CELL:
            out.append("  " * depth + "%s [%s]" % (acc.getRoleName(), acc.name))
        for i in range(acc.childCount):
            dump(acc.getChildAtIndex(i), depth + 1, out)
    except Exception:
        pass
    return out


def control(role, name, seconds=10):
    found = wait_for(lambda: find(application(), role, name), seconds)
    if found is None:
        print("\n".join(dump(application())))
        raise SystemExit("FAIL no %s named '%s' in the window" % (pyatspi.Accessible.getRoleName(role) if False else role, name))
    return found


def do_action(acc, name):
    action = acc.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == name:
            return action.doAction(i)
    raise SystemExit("FAIL '%s' offers no action '%s' (has %s)" %
                     (acc.name, name, [action.getName(i) for i in range(action.nActions)]))


def key_sym(sym):
    pyatspi.Registry.generateKeyboardEvent(sym, None, pyatspi.KEY_SYM)


def type_into(field, text):
    """Focuses the field, clears it and types text followed by Return, as a keyboard would; the
    wall-clock time of the Return."""
    field.queryComponent().grabFocus()
    if not wait_for(lambda: field.getState().contains(pyatspi.STATE_FOCUSED), 5):
        fail("the field '%s' did not take the focus" % field.name)
    key_sym(0xff57)  # End
    for _ in range(len(field_text(field)) + 2):
        key_sym(0xff08)  # BackSpace
    pyatspi.Registry.generateKeyboardEvent(0, text, pyatspi.KEY_STRING)
    at = time.time()
    key_sym(0xff0d)  # Return
    return at


def field_text(field):
    return field.queryText().getText(0, -1)


def number(text):
    """A number as the window shows it in the user's locale (C here: dot, maybe grouping)."""
    try:
        return float(text.replace(",", "").strip())
    except ValueError:
        return None


def run(*args):
    return subprocess.run([BIN + "/" + args[0], *args[1:]], capture_output=True, text=True, check=False)


def store():
    out = run("velmora-ctl", "store", "show", "--json")
    return json.loads(out.stdout) if out.returncode == 0 else None


def writes():
    out = run("velmora-sim", "writes", "--json")
    return json.loads(out.stdout) if out.returncode == 0 else []


def device_resolution_is(raw):
    """The services whose last pointer resolution written is raw."""
    last = {}
    for w in writes():
        if w.get("key") == "HIDPointerResolution":
            last[w.get("serviceHex")] = w.get("value")
    return [s for s, v in last.items() if v == raw]


def resolution_written(raw, after, services=None):
    """The first write of raw as pointer resolution at or after the time after: (time, service)."""
    for w in writes():
        if w.get("key") == "HIDPointerResolution" and w.get("value") == raw and w.get("time", 0) >= after and \
                (services is None or w.get("serviceHex") in services):
            return (w["time"], w["serviceHex"])
    return None


def menu_item(menu_name, item_name):
    menu = wait_for(lambda: pyatspi.findDescendant(
        application(), lambda a: a is not None and a.getRole() in (pyatspi.ROLE_MENU, pyatspi.ROLE_MENU_ITEM)
        and a.name == menu_name), 10)
    if menu is None:
        print("\n".join(dump(application())))
        raise SystemExit("FAIL no menu '%s'" % menu_name)
    return find(menu, pyatspi.ROLE_MENU_ITEM, item_name, showing=False)


def press_menu_item(menu_name, item_name):
    item = menu_item(menu_name, item_name)
    if item is None:
        raise SystemExit("FAIL no menu item %s > %s" % (menu_name, item_name))
    do_action(item, "Press" if "Press" in action_names(item) else action_names(item)[0])


def action_names(acc):
    action = acc.queryAction()
    return [action.getName(i) for i in range(action.nActions)]


def window_appears():
    if wait_for(lambda: find(application(), pyatspi.ROLE_TEXT, "Sensitivity"), 60) is None:
        raise SystemExit("FAIL the settings window did not appear on the accessibility bus")


def enabled_with_number(field):
    """Waits until the field can be edited and shows a number: a device and favourite are selected."""
    if wait_for(lambda: field.getState().contains(pyatspi.STATE_ENABLED) and number(field_text(field)) is not None,
                30) is None:
        raise SystemExit("FAIL the field '%s' never became editable (shows '%s')" % (field.name, field_text(field)))


def favourite_change_reaches_device_and_undo_follows():
    sensitivity = control(pyatspi.ROLE_TEXT, "Sensitivity")
    enabled_with_number(sensitivity)
    before = number(field_text(sensitivity))
    if before is None:
        raise SystemExit("FAIL the sensitivity field shows no number: '%s'" % field_text(sensitivity))
    # The agent the window started has applied the shown favourite: the device carries it.
    old_raw = int(round(2000 - before)) * 65536
    if not wait_for(lambda: device_resolution_is(old_raw), 15):
        fail("no device carries the shown favourite (resolution %d) before the change" % (2000 - before))
    target = 1200 if before != 1200 else 1100
    raw = (2000 - target) * 65536
    # The history's own times measure the way from the key to the device, however slowly the
    # history is read here.
    typed = type_into(sensitivity, str(target))
    written = wait_for(lambda: resolution_written(raw, typed), 10)
    if not written:
        fail("the typed favourite never reached a device (speed %d)" % target)
        return
    print("favourite reached %s %.0f ms after the key" % (written[1], (written[0] - typed) * 1000), flush=True)
    if written[0] - typed > 1.0:
        fail("the typed favourite took %.0f ms to reach the device (more than a second)" % ((written[0] - typed) * 1000))
    if wait_for(lambda: number(field_text(sensitivity)) == target, 2) is None:
        fail("the field shows '%s' after typing %d" % (field_text(sensitivity), target))

    undone = time.time()
    # The menu names what it undoes.
    press_menu_item("Edit", "Undo Sensitivity")
    back = wait_for(lambda: resolution_written(old_raw, undone, [written[1]]), 10)
    if not back:
        fail("Edit > Undo did not bring the device back to speed %g" % before)
    else:
        print("undo reached the device %.0f ms after the menu item" % ((back[0] - undone) * 1000), flush=True)
        if back[0] - undone > 1.0:
            fail("the undo took %.0f ms to reach the device" % ((back[0] - undone) * 1000))
    if wait_for(lambda: number(field_text(sensitivity)) == before, 2) is None:
        fail("after Undo the field shows '%s', not %g" % (field_text(sensitivity), before))


def controls_read_back():
    sensitivity = control(pyatspi.ROLE_TEXT, "Sensitivity")
    tracking = control(pyatspi.ROLE_TEXT, "Tracking speed")
    slider = control(pyatspi.ROLE_SLIDER, "Tracking speed")
    speed_slider = control(pyatspi.ROLE_SLIDER, "Sensitivity")
    enabled_with_number(sensitivity)

    # Typing into the sensitivity field: the field and its slider show it.
    type_into(sensitivity, "1500")
    if wait_for(lambda: number(field_text(sensitivity)) == 1500, 2) is None:
        fail("sensitivity field shows '%s' after typing 1500" % field_text(sensitivity))
    if wait_for(lambda: speed_slider.queryValue().currentValue == 1500, 2) is None:
        fail("the sensitivity slider is at %g, not 1500" % speed_slider.queryValue().currentValue)

    # Moving the tracking slider: the tracking field follows with the slider's value.
    value = slider.queryValue()
    before = field_text(tracking)
    target = value.minimumValue + (value.maximumValue - value.minimumValue) / 2
    value.currentValue = target
    if wait_for(lambda: field_text(tracking) != before, 2) is None:
        fail("the tracking field stayed at '%s' when the slider moved to %g (of %g to %g; it is at %g)" %
             (before, target, value.minimumValue, value.maximumValue, value.currentValue))
    # Read before the switch: with acceleration off the field no longer shows the stored speed.
    tracking_shown = field_text(tracking)

    # The acceleration check box: Toggle flips it.
    boxes = pyatspi.findAllDescendants(application(), lambda a: a is not None and a.getRole() == pyatspi.ROLE_CHECK_BOX
                                       and "acceleration" in (a.name or "").lower())
    if not boxes:
        raise SystemExit("FAIL no acceleration check box in the window")
    box = boxes[0]
    was = box.getState().contains(pyatspi.STATE_CHECKED)
    do_action(box, "Toggle")
    if wait_for(lambda: box.getState().contains(pyatspi.STATE_CHECKED) != was, 2) is None:
        fail("Toggle did not change the check box '%s'" % box.name)

    expected.update(speed="1500", tracking=number(tracking_shown), switch=not was)
    print("window shows: speed %s, tracking %s, acceleration off %s" % (field_text(sensitivity), tracking_shown,
                                                                         not was), flush=True)


expected = {}


def store_holds_what_the_window_showed():
    """After the window has gone (leaving the pane saves the store), the store holds what it showed."""
    if wait_for(lambda: application() is None, 30) is None:
        fail("the window did not go away after Quit")
        return
    s = store() or {}
    favourites = [c for d in s.get("devices", []) for c in d.get("cursorSpeeds", [])]
    match = [c for c in favourites if c.get("sensitivityDisplay") == expected["speed"]
             and bool(c.get("disableAccl")) == expected["switch"]
             and abs(float(c.get("trackingSpeed", -1)) - (expected["tracking"] or -2)) < 0.01]
    if not match:
        fail("the store holds no favourite with speed %s, tracking %s and acceleration off %s: %s" %
             (expected["speed"], expected["tracking"], expected["switch"], json.dumps(favourites)[:1200]))
    else:
        print("store holds them: %s" % json.dumps(match[0]), flush=True)


def table_rows(table):
    """The rows of a table as lists of their cells' names (header row left out)."""
    t = table.queryTable()
    return [[(t.getAccessibleAt(r, c).name if t.getAccessibleAt(r, c) is not None else "")
             for c in range(t.nColumns)] for r in range(t.nRows)]


def selected_rows(table):
    t = table.queryTable()
    return [r for r in range(t.nRows) if t.isRowSelected(r)]


def select_row(table, row):
    """Chooses a row as assistive technology does: by selection, not by a click or a key."""
    if not table.queryTable().addRowSelection(row):
        fail("the table '%s' refused to select row %d" % (table.name, row))


def store_device(name):
    for d in (store() or {}).get("devices", []):
        if d.get("displayName") == name or d.get("name") == name:
            return d
    return None


def chosen_favourite(device):
    for key in ("cursorSpeedSelectedIndex", "selectedFavourite", "favourite"):
        if key in device:
            return device[key]
    return None


def choose_device_and_favourite_by_selection():
    sensitivity = control(pyatspi.ROLE_TEXT, "Sensitivity")
    enabled_with_number(sensitivity)
    devices = control(pyatspi.ROLE_TABLE, "Devices")
    favourites = control(pyatspi.ROLE_TABLE, "Favorites")
    if wait_for(lambda: len(table_rows(devices)) >= 2, 20) is None:
        raise SystemExit("FAIL fewer than two devices listed: %s" % table_rows(devices))
    rows = table_rows(devices)
    now = selected_rows(devices)
    target = 1 if now == [0] else 0
    name = rows[target][-1]
    print("devices %s, selected %s; choosing '%s'" % ([r[-1] for r in rows], now, name), flush=True)

    # The device: the favourites table and the fields follow the selection.
    before_favourites = table_rows(favourites)
    select_row(devices, target)
    if wait_for(lambda: selected_rows(devices) == [target], 5) is None:
        fail("the device table shows rows %s selected, not %d" % (selected_rows(devices), target))
    enabled_with_number(sensitivity)
    print("favourites were %s, now %s" % (before_favourites, table_rows(favourites)), flush=True)

    # The favourite: a row other than the chosen one, by selection.
    current = selected_rows(favourites)
    row = 3 if current != [3] else 1
    chosen_at = time.time()
    select_row(favourites, row)
    if wait_for(lambda: selected_rows(favourites) == [row], 5) is None:
        fail("the favourites table shows rows %s selected, not %d" % (selected_rows(favourites), row))
    # The store (saved 0.1 s after the change) and the device follow.
    device = wait_for(lambda: (lambda d: d if d and chosen_favourite(d) == row else None)(store_device(name)), 10)
    if device is None:
        fail("the store did not record favourite %d for '%s': %s" % (row + 1, name, json.dumps(store_device(name))[:800]))
        return
    speeds = device.get("cursorSpeeds", [])
    wanted = [c for c in speeds if c.get("index") == row]
    if not wanted:
        fail("the store holds no favourite %d for '%s'" % (row + 1, name))
        return
    display = float(wanted[0].get("sensitivityDisplay"))
    if wait_for(lambda: number(field_text(sensitivity)) == display, 5) is None:
        fail("the sensitivity field shows '%s', not the chosen favourite's %g" % (field_text(sensitivity), display))
    raw = int(round(2000 - display)) * 65536
    written = wait_for(lambda: resolution_written(raw, chosen_at), 10)
    if not written:
        fail("choosing favourite %d of '%s' by selection never reached the device (resolution %d)" %
             (row + 1, name, 2000 - display))
    else:
        print("favourite %d of '%s' reached service %s %.0f ms after the selection" %
              (row + 1, name, written[1], (written[0] - chosen_at) * 1000), flush=True)


def quit_leaves_agent():
    press_menu_item("Velmora Settings", "Quit")


SCENARIOS = {
    "change-and-undo": [favourite_change_reaches_device_and_undo_follows, quit_leaves_agent],
    "controls": [controls_read_back, quit_leaves_agent, store_holds_what_the_window_showed],
    "choose-by-selection": [choose_device_and_favourite_by_selection, quit_leaves_agent],
}

window_appears()
for step in SCENARIOS[SCENARIO]:
    step()
sys.exit(1 if failures else 0)
