#!/usr/bin/env python3
"""A staged roll-out across three sites under the real orchestrator (ansible-core).

Each site is a host of the inventory on this machine (a local connection), with a working folder
of its own and two simulated devices. The collection is installed with ansible-galaxy from the
repository, its modules' pages rendered by ansible-doc and its playbook syntax-checked; then:

1. a roll-out while a device of the second site is off: the play fails, the third site's devices
   receive nothing, and the merged report lists every device with its site and outcome;
2. check mode once the device is back: the first site would not change, the others would, and no
   device receives a transfer frame;
3. the same roll-out once the device is back: the first site's devices are current and receive no
   transfer frame (its update task is not changed), the rest are updated, the play succeeds;
4. a fourth site reached over SSH, through an sshd of the test's own on 127.0.0.1 (its own host
   key, port and authorized key): its device is programmed and its report merged.

What a device received is read from its simulator's record, written when it stops; its firmware
survives the restarts between runs in its state file. Usage: rollout_test.py BIN_DIR SOURCE_DIR
"""

import csv
import getpass
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

BIN, SOURCE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
ZANDOR = os.path.join(BIN, "zandor")
FIRMWARE = os.path.join(SOURCE, "samples", "multi-unit.hex")  # firmware 3.05 for G4 units
KEY = "00112233445566778899AABBCCDDEEFF"
SITES = {"site1": ["s1-a", "s1-b"], "site2": ["s2-a", "s2-b"], "site3": ["s3-a", "s3-b"]}
ENCIPHERED = "s3-b"  # a device whose key must never show
OFF = "s2-b"         # the device that is off during the first roll-out

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


class Device:
    """A simulated device: its port stays, its state file keeps its firmware across restarts."""

    def __init__(self, folder, name):
        self.name, self.folder = name, folder
        self.port, self.process, self.record = 0, None, None

    def start(self, phase):
        self.record = os.path.join(self.folder, "%s.%s.record" % (self.name, phase))
        words = [os.path.join(BIN, "zandor-sim"), "--tcp", "127.0.0.1:%d" % self.port,
                 "--unit", "G4 ,A1,100,0", "--firmware-after-update", "305",
                 "--state", os.path.join(self.folder, self.name + ".state"),
                 "--record", self.record]
        if self.name == ENCIPHERED:
            words += ["--key", KEY]
        self.process = subprocess.Popen(words, stdout=subprocess.PIPE, text=True)
        ready = self.process.stdout.readline().split()  # "tcp 127.0.0.1:PORT"
        self.port = int(ready[1].rsplit(":", 1)[1])

    def stop(self):
        """Stops it; what it received, from its record: transfer frames and units programmed."""
        if self.process is None:
            return None
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=30)
        self.process = None
        with open(self.record, encoding="utf-8") as record:
            lines = record.read().splitlines()
        counts = lines[-1].split()  # "identifications N frames M"
        return {"frames": int(counts[3]),
                "programmed": sum(1 for line in lines if line.startswith("unit "))}


def inventory(work, devices, sites=None, reached=None):
    """The sites (by default the three local ones) with their rows; `reached` adds how a host is
    reached (the local connection otherwise)."""
    hosts = {}
    for site, names in (sites or SITES).items():
        rows = []
        for name in names:
            row = {"name": name, "address": "127.0.0.1", "port": devices[name].port}
            if name == ENCIPHERED:
                row["key"] = KEY
            rows.append(row)
        hosts[site] = {"zandor_workdir": os.path.join(work, site), "zandor_devices": rows,
                       **(reached or {})}
    canary = next(iter(hosts))
    return {"all": {
        "vars": {"ansible_connection": "local", "ansible_python_interpreter": sys.executable,
                 "zandor_binary": ZANDOR, "zandor_controller_binary": ZANDOR,
                 "zandor_firmware": FIRMWARE,
                 "zandor_reports_dir": os.path.join(work, "reports")},
        "children": {"zandor_sites": {"hosts": hosts},
                     "zandor_canary": {"hosts": {canary: {}}}}}}


def play(work, *extra, inventory_file="inventory.json"):
    """Runs the roll-out; its exit status, the update task's result by site, and its output."""
    env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=os.path.join(work, "collections"),
               ANSIBLE_STDOUT_CALLBACK="minimal", ANSIBLE_LOCAL_TEMP=os.path.join(work, "tmp"),
               ANSIBLE_NOCOLOR="1", ANSIBLE_RETRY_FILES_ENABLED="0")
    run = subprocess.run(["ansible-playbook", "-i", os.path.join(work, inventory_file),
                          "zandor.fleet.rollout", *extra], cwd=work, env=env,
                         capture_output=True, text=True, timeout=600)
    if os.environ.get("ZANDOR_FLEET_DEBUG"):
        print(run.stdout + run.stderr)
    return run.returncode, update_results(run.stdout), run.stdout + run.stderr


def results_of(output, key):
    """The results by host, from the minimal callback's "HOST | STATE => {...}" lines, of the
    task whose results carry `key` (in themselves or in their loop's items)."""
    results, decoder = {}, json.JSONDecoder()
    for header in re.finditer(r"^(\S+) \| (SUCCESS|CHANGED|FAILED!) => ", output, re.M):
        result, _ = decoder.raw_decode(output, header.end())
        if key in result or any(key in item for item in result.get("results", [])):
            result.setdefault("changed", header.group(2) == "CHANGED")
            result["failed"] = header.group(2) == "FAILED!"
            results[header.group(1)] = result
    return results


def update_results(output):
    return results_of(output, "outcomes")


def merged_report(work):
    with open(os.path.join(work, "reports", "fleet.csv"), newline="", encoding="utf-8") as f:
        return {(line["site"], line["name"]): line["outcome"] for line in csv.DictReader(f)}


class SshServer:
    """An sshd of the test's own on 127.0.0.1: a free port, its own host key, and one client key
    authorized for this user; it logs to a file of its own."""

    SSHD = "/usr/sbin/sshd"

    def __init__(self, work):
        self.folder = os.path.join(work, "sshd")
        os.makedirs(self.folder, mode=0o700)
        self.client_key = os.path.join(self.folder, "client_key")
        self.log = os.path.join(self.folder, "sshd.log")
        for key in ("host_key", "client_key"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f",
                            os.path.join(self.folder, key)], check=True)
        shutil.copy(self.client_key + ".pub", os.path.join(self.folder, "authorized_keys"))
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        config = os.path.join(self.folder, "sshd_config")
        with open(config, "w", encoding="utf-8") as f:
            f.write("\n".join([
                "ListenAddress 127.0.0.1", "Port %d" % self.port,
                "HostKey " + os.path.join(self.folder, "host_key"),
                "PidFile " + os.path.join(self.folder, "sshd.pid"),
                "AuthorizedKeysFile " + os.path.join(self.folder, "authorized_keys"),
                "AllowUsers " + getpass.getuser(), "PermitRootLogin prohibit-password",
                "PasswordAuthentication no", "KbdInteractiveAuthentication no", "UsePAM no",
                "StrictModes no", "Subsystem sftp internal-sftp", ""]))
        if os.geteuid() == 0:
            os.makedirs("/run/sshd", mode=0o755, exist_ok=True)  # its privilege separation
        self.process = subprocess.Popen([self.SSHD, "-D", "-f", config, "-E", self.log])
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)

    def reached(self):
        """The inventory variables that reach this machine through it."""
        return {"ansible_connection": "ssh", "ansible_host": "127.0.0.1",
                "ansible_port": self.port, "ansible_user": getpass.getuser(),
                "ansible_ssh_private_key_file": self.client_key,
                "ansible_ssh_common_args": "-o StrictHostKeyChecking=no "
                                           "-o UserKnownHostsFile=/dev/null -o IdentitiesOnly=yes"}

    def logins(self):
        with open(self.log, encoding="utf-8", errors="replace") as log:
            return sum(1 for line in log if "Accepted publickey for" in line)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


def main():
    work = tempfile.mkdtemp(prefix="zandor-fleet-")
    devices = {}
    try:
        env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=os.path.join(work, "collections"))
        install = subprocess.run(["ansible-galaxy", "collection", "install",
                                  os.path.join(SOURCE, "ansible"), "-p",
                                  os.path.join(work, "collections")],
                                 capture_output=True, text=True, env=env)
        check(install.returncode == 0, "ansible-galaxy installs the collection from the repository")
        for module, option in (("zandor_update", "skip_current"), ("zandor_device", "state")):
            doc = subprocess.run(["ansible-doc", "zandor.fleet." + module],
                                 capture_output=True, text=True, env=env)
            check(doc.returncode == 0 and option in doc.stdout and "ERROR" not in doc.stderr,
                  "ansible-doc renders zandor.fleet.%s with its options" % module)

        for site, names in SITES.items():
            for name in names:
                devices[name] = Device(work, name)
                devices[name].start("first")
        devices[OFF].stop()  # off for the first roll-out; its port stays its own
        with open(os.path.join(work, "inventory.json"), "w", encoding="utf-8") as f:
            json.dump(inventory(work, devices), f)
        syntax = subprocess.run(["ansible-playbook", "--syntax-check", "-i",
                                 os.path.join(work, "inventory.json"), "zandor.fleet.rollout"],
                                capture_output=True, text=True, env=env, cwd=work)
        check(syntax.returncode == 0, "ansible-playbook --syntax-check passes the roll-out")

        # 1. A device of the second site is off.
        code, updates, output = play(work)
        received = {name: device.stop() for name, device in devices.items() if name != OFF}
        check(code != 0, "a device of site 2 off: the play fails (exit %d)" % code)
        check(updates.get("site2", {}).get("failed") is True, "site 2's update task failed")
        check("site3" not in updates, "site 3's update never ran")
        check(all(received[n]["programmed"] == 1 for n in ("s1-a", "s1-b", "s2-a")),
              "site 1 and the first device of site 2 were programmed")
        check(all(received[n]["frames"] == 0 for n in SITES["site3"]),
              "site 3's devices receive no transfer frame %s" % received)
        report = merged_report(work)
        shutil.copy(os.path.join(work, "reports", "fleet.csv"), os.path.join(work, "first.csv"))
        expected = {("site1", "s1-a"): "success", ("site1", "s1-b"): "success",
                    ("site2", "s2-a"): "success", ("site2", "s2-b"): "failed",
                    ("site3", "s3-a"): "not-reached", ("site3", "s3-b"): "not-reached"}
        check(report == expected, "the merged report lists every device, its site and outcome %s"
              % report)
        check(KEY not in output and "AA-BB" not in output, "the key never shows in the output")

        # 2. Check mode once the device is back: what a roll-out would change, and nothing sent.
        for device in devices.values():
            device.start("check")
        code, updates, output = play(work, "--check")
        received = {name: device.stop() for name, device in devices.items()}
        check(code == 0, "check mode: the play succeeds (exit %d)" % code)
        check(updates.get("site1", {}).get("changed") is False
              and updates.get("site2", {}).get("changed") is True
              and updates.get("site3", {}).get("changed") is True,
              "check mode: site 1 would not change, sites 2 and 3 would")
        check(all(r["frames"] == 0 and r["programmed"] == 0 for r in received.values()),
              "check mode: no device receives a transfer frame %s" % received)

        # 3. The same roll-out again.
        for device in devices.values():
            device.start("second")
        code, updates, output = play(work)
        received = {name: device.stop() for name, device in devices.items()}
        check(code == 0, "the roll-out run again succeeds (exit %d)" % code)
        rows = results_of(output, "rows")
        check(len(rows) == 3 and not any(r["changed"] for r in rows.values()),
              "the device lists already hold their declared rows: nothing changed")
        check(updates.get("site1", {}).get("changed") is False
              and updates["site1"].get("outcomes") == {"current": 2},
              "site 1 is current and not changed: %s" % updates.get("site1", {}).get("outcomes"))
        check(all(received[n]["frames"] == 0 for n in SITES["site1"]),
              "site 1's devices receive no transfer frame again")
        check(updates.get("site2", {}).get("outcomes") == {"current": 1, "success": 1}
              and updates.get("site3", {}).get("outcomes") == {"success": 2},
              "the rest are updated: %s, %s" % (updates.get("site2", {}).get("outcomes"),
                                                updates.get("site3", {}).get("outcomes")))
        report = merged_report(work)
        check(sorted(set(report.values())) == ["current", "success"] and len(report) == 6,
              "the merged report of the second roll-out: every device current or updated")
        check(KEY not in output and "AA-BB" not in output, "the key never shows in the output")

        # 4. A site reached over SSH.
        check(os.access(SshServer.SSHD, os.X_OK), "sshd is installed (scripts/setup.sh)")
        sshd = SshServer(work)
        try:
            devices["s4-a"] = Device(work, "s4-a")
            devices["s4-a"].start("ssh")
            with open(os.path.join(work, "ssh.json"), "w", encoding="utf-8") as f:
                json.dump(inventory(work, devices, {"site4": ["s4-a"]}, sshd.reached()), f)
            code, updates, output = play(work, inventory_file="ssh.json")
            received = devices["s4-a"].stop()
            check(code == 0 and updates.get("site4", {}).get("outcomes") == {"success": 1},
                  "over SSH: the play succeeds and site 4's device is updated (exit %d, %s)"
                  % (code, updates.get("site4", {}).get("outcomes")))
            check(sshd.logins() > 0, "over SSH: the site's tasks came in through the test's sshd "
                                     "(%d logins in its log)" % sshd.logins())
            check(received["programmed"] == 1, "over SSH: the device was programmed %s" % received)
            check(merged_report(work) == {("site4", "s4-a"): "success"},
                  "over SSH: the site's report fetched and merged")
        finally:
            sshd.stop()
    finally:
        for device in devices.values():
            if device.process is not None:
                device.process.kill()
        if not os.environ.get("ZANDOR_FLEET_KEEP"):  # keeps the sites' folders to look at
            shutil.rmtree(work, ignore_errors=True)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
