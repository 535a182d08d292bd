#!/usr/bin/python
# -*- coding: utf-8 -*-
# Keeps a row of a zandor device list as declared: present with its address, port and key, or
# absent, through zandor devices.
from __future__ import annotations

DOCUMENTATION = r"""
module: zandor_device
short_description: Keep a row of a zandor device list present or absent
description:
  - Keeps the row named C(name) of a device list (C(KestaLST.txt)) on the managed host as
    declared, through C(zandor devices); the list's own format and locking are zandor's.
  - With C(state=present) the row is added when the list has no row of that name, and set when
    its address, port or key differ; otherwise nothing changes. With C(state=absent) every row
    of that name is removed.
  - The key is no_log and never returned; the rows returned show a key as C(<key>).
version_added: "2.4.5"
author: ZandorUpdate developers
options:
  list:
    description: The device list on the managed host; made when a row is added to none.
    type: path
    required: true
  name:
    description: The row's name, which identifies it in the list.
    type: str
    required: true
  address:
    description: A TCP row's IPv4 address, or C(serial) for a serial row.
    type: str
  port:
    description: The TCP port (1 to 65535), or a serial row's COM number.
    type: int
  key:
    description:
      - A TCP row's key, 32 hexadecimal digits or 16 dash-separated pairs; none when not given.
        Keep it in Ansible Vault.
    type: str
  state:
    description: Whether the row is in the list.
    type: str
    choices: [present, absent]
    default: present
  zandor:
    description: The zandor program on the managed host, a path or a name looked up in PATH.
    type: str
    default: zandor
notes:
  - Supports check mode and diff-free idempotence - a second run with the same data changes
    nothing.
"""

EXAMPLES = r"""
- name: The site's devices, as the inventory declares them
  zandor.fleet.zandor_device:
    list: /var/lib/zandor/KestaLST.txt
    name: "{{ item.name }}"
    address: "{{ item.address }}"
    port: "{{ item.port }}"
    key: "{{ item.key | default(omit) }}"
  loop: "{{ zandor_devices }}"
  loop_control:
    label: "{{ item.name }}"

- name: A device taken out of service
  zandor.fleet.zandor_device:
    list: /var/lib/zandor/KestaLST.txt
    name: north-7
    state: absent
"""

RETURN = r"""
rows:
  description: The list's rows after the change, keys shown as C(<key>) (C(zandor devices list --json)).
  returned: always
  type: list
  elements: dict
  sample: [{row: 1, name: north-1, address: 10.1.0.21, port: "5000", key: <key>}]
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zandor.fleet.plugins.module_utils.zandor_cli import zandor_path

NO_KEY = "<Default No Encryption>"
SERIAL = "<Default Serial>"


class DeviceList:
    """The list on the managed host, read and changed through zandor devices."""

    def __init__(self, module, program, path):
        self.module = module
        self.base = [program, "devices", "--list", path]
        self.path = path

    def rows(self, show_keys=False):
        if not os.path.exists(self.path):
            return []
        words = ["list", "--json"] + (["--show-keys"] if show_keys else [])
        rc, out, err = self.module.run_command(self.base + words)
        if rc != 0:
            self.module.fail_json(msg="zandor devices list failed: %s" % err.strip())
        return json.loads(out)

    def change(self, words):
        rc, _, err = self.module.run_command(self.base + words)
        if rc != 0:
            self.module.fail_json(msg="zandor devices %s failed: %s" % (words[0], err.strip()))


def spelled_key(key):
    """A key as the list keeps it (dashed, upper case), or the list's word for none."""
    if not key:
        return NO_KEY
    digits = key.replace("-", "").upper()
    return "-".join(digits[i:i + 2] for i in range(0, len(digits), 2))


def declared(params):
    """The cells the row must hold, as the list shows them; None for what is not declared."""
    address = params["address"]
    if address is not None and address.lower() == "serial":
        address = SERIAL
    port = None if params["port"] is None else str(params["port"])
    return {"address": address, "port": port, "key": spelled_key(params["key"])}


def row_words(params):
    words = ["--name", params["name"]]
    if params["address"] is not None:
        words += ["--address", params["address"]]
    if params["port"] is not None:
        words += ["--port", str(params["port"])]
    return words + ["--key", params["key"] or NO_KEY]


def main():
    module = AnsibleModule(
        argument_spec=dict(
            list=dict(type="path", required=True),
            name=dict(type="str", required=True),
            address=dict(type="str"),
            port=dict(type="int"),
            key=dict(type="str", no_log=True),
            state=dict(type="str", choices=["present", "absent"], default="present"),
            zandor=dict(type="str", default="zandor"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    devices = DeviceList(module, zandor_path(module, p["zandor"]), p["list"])
    named = [row for row in devices.rows(show_keys=True) if row["name"] == p["name"]]
    change = None
    if p["state"] == "absent":
        if named:
            change = ["remove"] + [str(row["row"]) for row in named]
    elif not named:
        change = ["add"] + row_words(p)
    else:
        wanted = declared(p)
        if any(v is not None and named[0][k] != v for k, v in wanted.items()):
            change = ["set", str(named[0]["row"])] + row_words(p)
    if change and not module.check_mode:
        devices.change(change)
    module.exit_json(changed=change is not None, rows=devices.rows())


if __name__ == "__main__":
    main()
