#!/usr/bin/python3
"""Lists Termset's accessible tree as a screen reader sees it (AT-SPI) and
fails when a control the user can operate on any of the eight pages has no
name. Dismisses the start-up message boxes, then shows each page in turn.

    atspi_names.py APPLICATION_NAME
"""
import sys
import time

import pyatspi

INTERACTIVE = {
    pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_COMBO_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_PAGE_TAB,
}
# Fields each page must show (rows x columns), found by the page name that
# starts every field's name.
EXPECTED = {"Reader 1": 28, "Reader 2": 28, "Reader 3": 28, "Reader 4": 28,
            "Sensors": 56, "Egress": 28, "LED": 8, "Random": 5}
TIMEOUT = 120.0


def wait_for(what, find, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = find()
        if found:
            return found
        time.sleep(0.25)
    sys.exit(f"FAIL: {what} did not appear within {timeout:.0f} s")


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    try:
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return
    for child in children:
        yield from walk(child, depth + 1)


def showing(node):
    states = node.getState()
    return states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_VISIBLE)


def find_app(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            return app
    return None


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i).lower() in ("press", "click", "switch", "activate", "setfocus"):
            return action.doAction(i)
    return action.doAction(0)


def main():
    app = wait_for("the application on the accessibility bus", lambda: find_app(sys.argv[1]))

    def sheet():
        for node in walk(app):
            if node.getRole() == pyatspi.ROLE_PAGE_TAB_LIST and showing(node):
                return node
        return None

    # Message boxes of the first start come before or over the sheet: OK them.
    deadline = time.monotonic() + TIMEOUT
    tabs = None
    while time.monotonic() < deadline:
        for window in [app.getChildAtIndex(i) for i in range(app.childCount)]:
            if window is None or window.getRole() not in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT):
                continue
            for node in walk(window):
                if node.getRole() == pyatspi.ROLE_PUSH_BUTTON and node.name in ("OK", "Cancel", "Close"):
                    print(f"dismissing \"{window.name}\"")
                    press(node)
                    break
        tabs = sheet()
        # The sheet is a dialog window itself: only the others are in the way.
        dialogs = [w for w in (app.getChildAtIndex(i) for i in range(app.childCount))
                   if w is not None and w.getRole() in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT)
                   and not any(n.getRole() == pyatspi.ROLE_PAGE_TAB_LIST for n in walk(w))]
        if tabs and not dialogs:
            break
        time.sleep(0.5)
    if not tabs:
        sys.exit("FAIL: the main sheet with its page tabs did not appear")

    page_tabs = [tabs.getChildAtIndex(i) for i in range(tabs.childCount)]
    page_tabs = [t for t in page_tabs if t is not None and t.getRole() == pyatspi.ROLE_PAGE_TAB]
    if len(page_tabs) != 8:
        sys.exit(f"FAIL: {len(page_tabs)} page tabs, expected 8")

    unnamed = []
    counts = {}
    for tab in page_tabs:
        press(tab)
        page = tab.name.replace("&", "")
        prefix = page + ", "

        def fields():
            listed = [n for n in walk(app) if n.getRole() in INTERACTIVE and showing(n)]
            mine = [n for n in listed if n.name.startswith(prefix)]
            return listed if len(mine) >= EXPECTED.get(page, 1) else None

        listed = wait_for(f"the fields of page {page}", fields, timeout=30)
        print(f"== {page}")
        for node in listed:
            print(f"   {node.getRoleName():12} {node.name!r}")
            if not node.name.strip():
                unnamed.append(f"{page}: a {node.getRoleName()} without a name")
        counts[page] = sum(1 for n in listed if n.name.startswith(prefix))

    for page, expected in EXPECTED.items():
        if counts.get(page, 0) < expected:
            unnamed.append(f"{page}: {counts.get(page, 0)} named fields, expected {expected}")
    if unnamed:
        print("FAIL:\n  " + "\n  ".join(unnamed))
        return 1
    print(f"every control of the eight pages has a name ({sum(counts.values())} fields)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
