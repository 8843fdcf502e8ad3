#!/bin/sh
# SPDX-FileCopyrightText: 2026 The tranchel authors
# SPDX-License-Identifier: MIT
# Runs a command on the current X display with a window manager, which activates and focuses
# windows as a desktop does; the virtual display alone leaves that to the program.
openbox >/dev/null 2>&1 &
manager=$!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break
    sleep 0.1
done
"$@"
status=$?
kill $manager
exit $status
