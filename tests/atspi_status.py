#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The tranchel authors
# SPDX-License-Identifier: MIT
"""Prints what assistive technology reads over AT-SPI of the status line of the program with
the given process id: its name, then its description. Waits up to 30 s for the program to
show itself on the accessibility bus."""
import sys
import time

import pyatspi

STATUSES = ("Split completed", "Split failed")


def status_line(node):
    if node.getRole() == pyatspi.ROLE_LABEL and node.name in STATUSES:
        return node
    for child in node:
        found = status_line(child) if child else None
        if found:
            return found
    return None


def main():
    pid = int(sys.argv[1])
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        for application in pyatspi.Registry.getDesktop(0):
            if application and application.get_process_id() == pid:
                line = status_line(application)
                if line:
                    print(line.name)
                    print(line.description, end="")
                    return 0
        time.sleep(0.2)
    print("no status line of process %d over AT-SPI" % pid, file=sys.stderr)
    return 1


sys.exit(main())
