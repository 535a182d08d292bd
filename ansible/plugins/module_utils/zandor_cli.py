# -*- coding: utf-8 -*-
# Running zandor on the managed host: finding the program and reading its JSON output.
from __future__ import annotations

import json
import os


def zandor_path(module, name):
    """The zandor program the module runs: a path as given, or a name looked up in PATH."""
    if os.sep in name:
        if not os.access(name, os.X_OK):
            module.fail_json(msg="zandor program not found or not executable: %s" % name)
        return name
    return module.get_bin_path(name, required=True)


def json_lines(text):
    """The JSON objects of zandor's --json output, one a line; other lines are left out."""
    events = []
    for line in text.splitlines():
        line = line.strip()
        if not line.startswith("{"):
            continue
        try:
            events.append(json.loads(line))
        except ValueError:
            continue
    return events
