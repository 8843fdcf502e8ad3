#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The tranchel authors
# SPDX-License-Identifier: MIT
"""Listens on the accessibility bus, as a screen reader does, for the status line of the
program with the given process id to announce a new name and description; prints "ready"
once listening, "heard" once it has heard a probe name and a probe description (the program
announces only what it has learnt that someone listens for), then the name and the
description announced after that. Gives up after 60 s."""
import sys

import pyatspi
from gi.repository import GLib

STATUSES = ("Split completed", "Split failed")


def main():
    pid = int(sys.argv[1])
    announced = {}
    found = []
    heard = []
    probed = set()

    def on_change(event):
        source = event.source
        try:
            ours = source.get_process_id() == pid and source.getRole() == pyatspi.ROLE_LABEL
        except Exception:  # the object may be gone already
            return
        if not ours:
            return
        if source.name.startswith("probe"):
            probed.add(event.type.minor)
            if len(probed) == 2 and not heard:
                heard.append(True)
                print("heard", flush=True)
            return
        announced[event.type.minor] = True
        if source.name in STATUSES and len(announced) == 2:
            found.append((source.name, source.description))
            pyatspi.Registry.stop()

    for change in ("accessible-name", "accessible-description"):
        pyatspi.Registry.registerEventListener(on_change, "object:property-change:" + change)
    GLib.timeout_add_seconds(60, pyatspi.Registry.stop)
    GLib.idle_add(lambda: print("ready", flush=True) and False)
    pyatspi.Registry.start()
    if not found:
        print("no announcement of the status line of process %d" % pid, file=sys.stderr)
        return 1
    print(found[0][0])
    print(found[0][1], end="")
    return 0


sys.exit(main())
