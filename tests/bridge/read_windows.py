#!/usr/bin/python3
"""Reads both windows over AT-SPI, as a screen reader does, and fails when something a
user sees is not heard: the kind detected, the counts line, a message box, the batch
window's summary and a row of its table. Run by tests/bridge/run.sh, which gives it a
display, a session bus and the accessibility bus."""

import os
import subprocess
import sys
import tempfile
import time

import pyatspi

PROGRAM = sys.argv[1]
TIMEOUT = 30
failures = []


def wait_for(what, find):
    """find() until it returns something, or None after TIMEOUT seconds."""
    end = time.monotonic() + TIMEOUT
    while time.monotonic() < end:
        try:
            found = find()
        except Exception:  # an object gone while walked; the next walk sees the tree as it is
            found = None
        if found:
            return found
        time.sleep(0.2)
    failures.append("not heard: " + what)
    return None


def application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def descendant(root, role, name=None):
    return pyatspi.findDescendant(
        root, lambda a: a is not None and a.getRole() == role and (name is None or a.name == name))


def text_of(accessible):
    """What a screen reader reads as the object's text: its text interface, never its name."""
    text = accessible.queryText()
    return text.getText(0, text.characterCount)


def press(root, name):
    button = descendant(root, pyatspi.ROLE_PUSH_BUTTON, name)
    if button is None:
        failures.append("no button " + name)
        return
    button.queryAction().doAction(0)


def expect(what, heard, wanted):
    if heard != wanted:
        failures.append("%s: heard %r, wanted %r" % (what, heard, wanted))


def start(*arguments):
    process = subprocess.Popen([PROGRAM, *arguments])
    app = wait_for("the application " + " ".join(arguments), lambda: application(process.pid))
    return process, app


def main_window(folder):
    dos = os.path.join(folder, "dos.txt")
    with open(dos, "wb") as out:
        out.write(b"a\r\nb\r\n")
    flat = os.path.join(folder, "flat.txt")
    with open(flat, "wb") as out:
        out.write(b"no line break")
    process, app = start(dos)
    if app is None:
        return process
    press(app, "ファイル種類検出")
    kind = wait_for("the kind", lambda: text_of(descendant(app, pyatspi.ROLE_TEXT, "ファイル種類")) or None)
    expect("the kind", kind, "MS-DOS")
    counts = wait_for("the counts", lambda: text_of(descendant(app, pyatspi.ROLE_LABEL, "改行の数")) or None)
    expect("the counts", counts, "CR LF: 2 行　LF: 0 行　CR: 0 行　ASCII（推定）")
    if counts is None:  # what there is instead, to tell a missing text from a missing interface
        label = descendant(app, pyatspi.ROLE_LABEL, "改行の数")
        failures.append("the counts line: %r, described as %r" % (label, label and label.description))

    source = descendant(app, pyatspi.ROLE_TEXT, "変換ファイル名")
    source.queryEditableText().setTextContents(flat)
    press(app, "ファイル種類検出")
    box = wait_for("a message box", lambda: descendant(app, pyatspi.ROLE_ALERT))
    if box is not None:
        said = [a.name for a in pyatspi.findAllDescendants(box, lambda a: a.getRole() == pyatspi.ROLE_LABEL)]
        said = [name for name in said if name]  # the icon's label has none
        expect("the message", said, ["このファイルには改行がありません"])
        press(box, "OK")
    return process


def batch_window(folder):
    files = os.path.join(folder, "batch")
    os.makedirs(files)
    for name in ("one.txt", "two.txt"):
        with open(os.path.join(files, name), "wb") as out:
            out.write(b"x\r\ny\r\n")
    process, app = start("--batch", files)
    if app is None:
        return process
    window = wait_for("the batch window", lambda: descendant(app, pyatspi.ROLE_DIALOG, "一括変換"))
    table = wait_for("the files", lambda: descendant(window, pyatspi.ROLE_TABLE, "変換するファイル"))
    wait_for("both rows", lambda: table.queryTable().nRows == 2)
    descendant(window, pyatspi.ROLE_RADIO_BUTTON, "UNIX").queryAction().doAction(0)
    output = descendant(window, pyatspi.ROLE_TEXT, "出力フォルダー")
    output.queryEditableText().setTextContents(os.path.join(folder, "out"))
    press(window, "変換")
    summary = wait_for("the summary", lambda: text_of(descendant(window, pyatspi.ROLE_LABEL, "結果の集計")) or None)
    expect("the summary", summary, "変換 2・変換不要 0・変換できません 0・失敗 0")
    cells = table.queryTable()
    expect("a row", (cells.getAccessibleAt(0, 0).name, cells.getAccessibleAt(0, 6).name),
           (os.path.join(files, "one.txt"), "変換しました"))
    return process


with tempfile.TemporaryDirectory() as folder:
    started = []
    try:
        started.append(main_window(folder))
        started.append(batch_window(folder))
    finally:
        for process in started:
            if process is not None:
                process.kill()
                process.wait()
for failure in failures:
    print("FAILED:", failure, file=sys.stderr)
print("accessibility bridge: %s" % ("failed" if failures else "every text heard"))
sys.exit(1 if failures else 0)
