#!/usr/bin/python
# -*- coding: utf-8 -*-
# Runs zandor update (or, in check mode, zandor check) on the managed host and returns each
# device's result as data.
from __future__ import annotations

DOCUMENTATION = r"""
module: zandor_update
short_description: Update Kelmori devices with a firmware file, leaving alone what is current
description:
  - Runs C(zandor update) on the managed host with a firmware file and the rows of a device list
    (or targets). A device whose every unit to update already holds the file's firmware version
    is left alone after its identification and ends C(current) (C(zandor update --skip-current)),
    so that a roll-out that stopped half-way can be run again without touching what is done.
  - Returns each unit's line of the run's report (C(zandor update --report), JSON) as data.
  - C(changed) when any device was programmed; C(failed) when any device ended other than
    updated or current, or zandor could not run.
  - In check mode it runs C(zandor check --file) instead; no device is programmed and each device
    says whether an update would change it; C(changed) when any would be.
  - Keys are never returned. A key goes in C(keys) (no_log) or in the device list, where
    M(zandor.fleet.zandor_device) keeps it.
version_added: "2.4.5"
author: ZandorUpdate developers
options:
  firmware:
    description: The firmware file (Intel HEX with its metadata) on the managed host.
    type: path
    required: true
  devices:
    description:
      - The device list (C(KestaLST.txt)) on the managed host whose rows are updated.
      - Exactly one of C(devices) and C(targets).
    type: path
  rows:
    description: The rows of C(devices) to update (C(1,3-5)); all rows when not given.
    type: str
  targets:
    description:
      - Devices as zandor names them, C(tcp:HOST:PORT) or C(serial:/dev/ttyUSB0); a key is not
        written here but in C(keys).
      - Exactly one of C(devices) and C(targets).
    type: list
    elements: str
  keys:
    description:
      - The key of each enciphered target, by target (C(tcp:HOST:PORT)); 32 hexadecimal digits or
        16 dash-separated pairs. Keep them in Ansible Vault.
    type: dict
  report:
    description:
      - Where the run's report is written on the managed host (JSON). A report of an earlier run
        is replaced; not written in check mode.
    type: path
    required: true
  skip_current:
    description: Leave alone a device whose every unit to update holds the file's firmware.
    type: bool
    default: true
  parallel:
    description: How many devices are updated at once (1 to 256).
    type: int
    default: 1
  canary:
    description: The first N devices one at a time; the rest only when all N succeeded.
    type: int
  stop_on_failure:
    description: No device begins after one did not succeed; the rest end not reached.
    type: bool
    default: false
  accept_unknown:
    description:
      - Accept what would ask an operator (C(zandor --yes)) - a device type that cannot be
        judged, a file whose metadata chooses no unit. Without it such a device is declined.
    type: bool
    default: false
  serial_optional:
    description: A device without a serial number may stay without one.
    type: bool
    default: false
  connect_timeout:
    description: Seconds a TCP connect waits for an answer (1 to 600).
    type: int
  zandor:
    description: The zandor program on the managed host, a path or a name looked up in PATH.
    type: str
    default: zandor
notes:
  - Supports check mode; nothing of a device changes in it.
"""

EXAMPLES = r"""
- name: Update every row of the site's device list
  zandor.fleet.zandor_update:
    firmware: /var/lib/zandor/fw-3.05.hex
    devices: /var/lib/zandor/KestaLST.txt
    report: /var/lib/zandor/report.json
    parallel: 4
    stop_on_failure: true
  register: site_update

- name: Two enciphered devices named by target, their keys from the vault
  zandor.fleet.zandor_update:
    firmware: /var/lib/zandor/fw-3.05.hex
    targets: [tcp:10.1.0.21:5000, tcp:10.1.0.22:5000]
    keys: "{{ vault_zandor_keys }}"
    report: /var/lib/zandor/report.json
"""

RETURN = r"""
devices:
  description:
    - A line for each unit of each device, as the run's report has it (a device that never told
      its units has one line without a unit). In check mode, a line for each device.
  returned: always
  type: list
  elements: dict
  contains:
    row: {description: The row of the list (or target) from 1., type: int}
    name: {description: The row's name (or the target)., type: str}
    address: {description: Its address., type: str}
    port: {description: Its port or COM number., type: str}
    unit: {description: The unit, or empty., type: str}
    firmware_before: {description: The unit's firmware version before., type: str}
    firmware_of_file: {description: The version the file holds for it., type: str}
    outcome:
      description: >-
        success, current, failed, declined, cancelled, left-out or not-reached; in check mode
        would-change, current or failed.
      type: str
    status_text: {description: How the device ended, in zandor's words., type: str}
  sample:
    - {row: 1, name: north-1, address: 10.1.0.21, port: "5000", unit: "0", firmware_before: "300",
       firmware_of_file: "305", outcome: success, status_text: Device Update Successful}
outcomes:
  description: How many devices (not units) ended with each outcome.
  returned: always
  type: dict
  sample: {success: 3, current: 1}
report:
  description: The report written on the managed host (not in check mode).
  returned: when written
  type: str
rc:
  description: zandor's exit status (0 when every device succeeded or was current).
  returned: always
  type: int
stderr_lines:
  description: What zandor said went wrong.
  returned: always
  type: list
  elements: str
"""

import json
import os
import re
import time
from collections import Counter

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zandor.fleet.plugins.module_utils.zandor_cli import (
    json_lines,
    zandor_path,
)

# The outcomes of a device that needs nothing more.
DONE = ("success", "current", "left-out")
# The columns of a report line returned; the rest stay in the report.
RETURNED = ("row", "name", "address", "port", "serial_number", "unit", "device_type",
            "firmware_before", "firmware_of_file", "outcome", "status_code", "status_text")


def selection(module):
    """zandor's words naming the devices: the list and its rows, or the targets with keys."""
    p = module.params
    if p["devices"]:
        words = ["--devices", p["devices"]]
        return words + (["--rows", p["rows"]] if p["rows"] else [])
    keys = p["keys"] or {}
    words = []
    for target in p["targets"]:
        if carries_key(target):
            module.fail_json(msg="a target carries no key here: give it in keys")
        words.append(target + ":" + keys[target] if target in keys else target)
    return words


def carries_key(target):
    """Whether a TCP target names a key after its port: tcp:HOST:PORT:KEY, tcp:[V6]:PORT:KEY."""
    if not target.startswith("tcp:"):
        return False
    rest = target[4:]
    if rest.startswith("["):
        rest = rest[rest.find("]") + 1:] if "]" in rest else ""
        return rest.count(":") > 1
    return rest.count(":") > 1


def run_options(p):
    words = []
    if p["accept_unknown"]:
        words.append("--yes")
    if p["serial_optional"]:
        words.append("--serial-optional")
    if p["connect_timeout"] is not None:
        words += ["--connect-timeout", str(p["connect_timeout"])]
    return words


def device_outcomes(lines):
    """How many devices ended with each outcome: a device's is its worst unit's."""
    rank = {"current": 0, "left-out": 0, "success": 1}
    by_row = {}
    for line in lines:
        now = by_row.get(line["row"])
        if now is None or rank.get(line["outcome"], 2) > rank.get(now, 2):
            by_row[line["row"]] = line["outcome"]
    return dict(Counter(by_row.values()))


def row_of(label):
    """What names one device in every event: a list row's number ("row 2 (B)" in its versions,
    "row 2 B [tcp:...]" in its result), or the target."""
    match = re.match(r"row (\d+)\b", label)
    return match.group(1) if match else label


def check(module, program):
    p = module.params
    command = [program, "check", "--file", p["firmware"]] + selection(module) + run_options(p)
    rc, out, err = module.run_command(command + ["--json"])
    events = json_lines(out)
    would = {row_of(e["device"]): e.get("would_change")
             for e in events if e.get("event") == "versions"}
    devices = []
    for e in (e for e in events if e.get("event") == "result"):
        change = would.get(row_of(e["device"]))
        outcome = "failed" if not e["success"] else ("would-change" if change else "current")
        devices.append({"name": e["device"], "outcome": outcome, "status_text": e["text"]})
    result = dict(devices=devices, outcomes=dict(Counter(d["outcome"] for d in devices)), rc=rc,
                  stderr_lines=err.splitlines())
    result["changed"] = any(d["outcome"] == "would-change" for d in devices)
    if rc != 0 or not devices:
        module.fail_json(msg="zandor check did not reach every device (exit %d)" % rc, **result)
    module.exit_json(**result)


def read_report(path, started):
    """The report's lines when this run wrote it, else None."""
    try:
        if os.stat(path).st_mtime < started:
            return None
        with open(path, encoding="utf-8") as report:
            document = json.load(report)
    except (OSError, ValueError):
        return None
    if not isinstance(document, dict) or document.get("format") != "zandor-walk-report":
        return None
    return [{k: line.get(k) for k in RETURNED} for line in document.get("lines", [])]


def update(module, program):
    p = module.params
    command = [program, "update", p["firmware"]] + selection(module) + run_options(p)
    command += ["--report", p["report"], "--quiet", "--parallel", str(p["parallel"])]
    if p["skip_current"]:
        command.append("--skip-current")
    if p["canary"]:
        command += ["--canary", str(p["canary"])]
    if p["stop_on_failure"]:
        command.append("--stop-on-failure")
    started = time.time() - 1  # the file system's clock may be coarser than ours
    rc, _, err = module.run_command(command)
    lines = read_report(p["report"], started)
    result = dict(devices=lines or [], outcomes=device_outcomes(lines or []), rc=rc,
                  stderr_lines=err.splitlines())
    if lines is not None:
        result["report"] = p["report"]
    result["changed"] = any(line["outcome"] == "success" for line in lines or [])
    failed = [line for line in lines or [] if line["outcome"] not in DONE]
    if rc != 0 or lines is None or not lines or failed:
        why = "%d device line(s) did not end updated or current" % len(failed) if failed else (
            "zandor update exited %d without a report of its devices" % rc)
        module.fail_json(msg=why, **result)
    module.exit_json(**result)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            firmware=dict(type="path", required=True),
            devices=dict(type="path"),
            rows=dict(type="str"),
            targets=dict(type="list", elements="str"),
            keys=dict(type="dict", no_log=True),
            report=dict(type="path", required=True),
            skip_current=dict(type="bool", default=True),
            parallel=dict(type="int", default=1),
            canary=dict(type="int"),
            stop_on_failure=dict(type="bool", default=False),
            accept_unknown=dict(type="bool", default=False),
            serial_optional=dict(type="bool", default=False),
            connect_timeout=dict(type="int"),
            zandor=dict(type="str", default="zandor"),
        ),
        required_one_of=[("devices", "targets")],
        mutually_exclusive=[("devices", "targets")],
        supports_check_mode=True,
    )
    program = zandor_path(module, module.params["zandor"])
    if module.check_mode:
        check(module, program)
    else:
        update(module, program)


if __name__ == "__main__":
    main()
