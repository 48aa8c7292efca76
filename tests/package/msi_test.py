#!/usr/bin/env python3
"""The Windows Installer packages end to end, in a Wine prefix of their own:

  msi_test.py --root ROOT --prefix DIR --arch x64|x86 [--packages DIR]
              [--run-clients] [--run-utility] [--side-by-side] [--time-factor N]

1. Reference: ZRNOPOSCD.dll copied to the install folder and registered
   with the regsvr32 of its bitness; the COM keys of both registry views are
   kept, then unregistered again (nothing may stay).
2. A package built with a lower build number is installed silently with a
   CONFIG document that has faults: the installation fails with every fault
   in its log and leaves nothing behind. Then it is installed into the empty
   prefix: files, shortcut, service settings, a new CD730 entry and the trace
   folder C:\ZRN.
3. A technician changes the CD730 entry, adds a smart-serial drawer with a
   logical name, sets TraceEnabled 2 and points TargetPath at a folder of
   its own; the current package is installed over it (a major upgrade)
   without properties: one product is left, the files are the current ones,
   the technician's entries and both settings are as they were, and the COM
   keys of both views equal the reference, key by key and value by value;
   a link put in the trace folder's place is left alone and logged.
   The same build packaged again (another product code) is installed over
   that with a good CONFIG document, the Simulator feature and
   TRACEENABLED=1: the document's drawers, names and TraceKeepDays replace
   the till's, TRACEENABLED wins over the document's TraceEnabled, and
   TargetPath points at the simulated drivers.
4. With --run-clients the installed zrncd fires the drawer through the
   installed Service Object (created by its program identifier); with
   --run-utility the installed QVTUtility.exe opens its window under Xvfb.
5. Removal: no file, class, program identifier or type library
   registration is left; device entries, logical names, TraceKeepDays, the
   trace folder and the trace file stay.
With --side-by-side (x86 only, in the test VM where 32-bit programs run)
the steps above are replaced by a shorter run on one prefix, with as few
Wine starts as it can (each costs many seconds under emulation); what else
the x64 run checks the same way is left to it:
  a. the reference registration (32-bit regsvr32) and its removal;
  b. a technician's device entries in both views (a changed CD730 in the
     32-bit view); the earlier x86 build with a faulty CONFIG fails and
     changes nothing; then it is installed with the Simulator feature: files
     under Program Files (x86), settings and COM keys in the 32-bit view,
     equal to the reference; the changed CD730 is kept;
  c. the technician sets TraceEnabled 2; the current x86 build upgrades it
     with a good CONFIG document without service settings: the 32-bit view
     holds the document's drawers and names, TraceEnabled and TargetPath
     are kept, the 64-bit view is untouched;
  d. the x64 package beside it: each view's class names its own build, the
     x64 package creates the absent CD730 of the 64-bit view, and the 32-bit
     and 64-bit zrncd each fire the drawer through their own Service Object;
  e. removing the x86 package leaves the x64 one whole and working, removing
     that leaves no file and no COM key; device entries, logical names and
     the trace file stay.
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

CLSID = "{AC43260D-DC30-4858-B7DC-0B4BE815D34B}"
LIBID = "{85C58F77-BC73-4DDB-A220-78876ECE150D}"
IIDS = ("{36FC3F28-70B0-422A-B679-78B0195D0A24}", "{3CB90B42-1884-49B6-8D00-3CEFF2281C29}")
COM_KEYS = ["Software\\Classes\\ZRNOPOSCD.SO", "Software\\Classes\\CLSID\\" + CLSID,
            "Software\\Classes\\TypeLib\\" + LIBID] + ["Software\\Classes\\Interface\\" + i for i in IIDS]
CLASS_KEY = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer"
SERVICE_KEY = "SOFTWARE\\OLEforRetail\\ServiceInfo\\ZRN OPOS ADK"
UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
FILES = ["ZRNOPOSCD.dll", "PortDrawerSO.DLL", "USB730SO.DLL", "QVTUtility.exe", "tools/zrncd.exe"]
# The USB entry the package writes when the till has none.
EXPECTED_CD730 = {"(Default)": ("REG_SZ", "ZRNOPOSCD.SO"), "ADKConfig": ("REG_SZ", "ZRN 3.38.1_CCO"),
                  "ServiceVersion": ("REG_SZ", "3.38.1_CCO"),
                  "ServiceDesc": ("REG_SZ", "ZRN OPOS CashDrawer Service Object (serial, parallel, USB)"),
                  "DeviceDesc": ("REG_SZ", "Model 730 USBLine(tm) Interface"), "DeviceName": ("REG_SZ", "CD730"),
                  "DeviceID": ("REG_DWORD", "0x3"), "DeviceState": ("REG_DWORD", "0x0"), "PortSel": ("REG_SZ", "USB"),
                  "Port": ("REG_DWORD", "0x0"), "StatusSel": ("REG_SZ", "0,1,2,3"), "Status": ("REG_DWORD", "0x0"),
                  "TimeOut": ("REG_DWORD", "0x3e8")}
SIM_FILES = ["sim/PortDrawerSO.DLL", "sim/USB730SO.DLL", "tools/drawersim.exe"]

ARCH = {
    "x64": dict(build="win64", view="64", pf="Program Files", regsvr32="C:\\windows\\system32\\regsvr32.exe",
                product="ZRN OPOS CashDrawer (64-bit)", menu="ZRN OPOS CashDrawer (64-bit)"),
    "x86": dict(build="win32", view="32", pf="Program Files (x86)", regsvr32="C:\\windows\\syswow64\\regsvr32.exe",
                product="ZRN OPOS CashDrawer", menu="ZRN OPOS CashDrawer"),
}

failures = []


def check(cond, what):
    print(("ok    " if cond else "FAIL  ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


class Prefix:
    def __init__(self, root, path, factor):
        self.root, self.path, self.factor = root, os.path.abspath(path), factor
        self.wine_run = os.path.join(root, "scripts", "wine-run")
        self.scratch = os.path.join(self.path, "drive_c", "zrn-pkgtest")

    def run(self, *args, timeout=300, check_rc=True):
        r = subprocess.run([self.wine_run, "--prefix", self.path, "--", *args], capture_output=True,
                           timeout=timeout * self.factor, stdin=subprocess.DEVNULL)
        out = r.stdout.decode("utf-8", "replace").replace("\r", "")
        if check_rc and r.returncode != 0:
            sys.stderr.write(r.stderr.decode("utf-8", "replace"))
        return r.returncode, out

    def setup(self):
        subprocess.run([self.wine_run, "--prefix", self.path, "--setup"], check=True, timeout=600 * self.factor)
        os.makedirs(self.scratch, exist_ok=True)

    def stop(self):
        subprocess.run([self.wine_run, "--prefix", self.path, "--stop"], timeout=120 * self.factor)

    def unix(self, winpath):
        assert winpath[:3].upper() == "C:\\"
        return os.path.join(self.path, "drive_c", *winpath[3:].split("\\"))

    def batch(self, name, lines, timeout=300):
        """Runs cmd lines in one Wine process (a start costs seconds in the VM)."""
        with open(os.path.join(self.scratch, name), "w", newline="\r\n") as f:
            f.write("@echo off\n" + "\n".join(lines) + "\n")
        return self.run("cmd", "/c", "C:\\zrn-pkgtest\\" + name, timeout=timeout, check_rc=False)[1]

    def snapshot(self, keys, views=("32", "64")):
        """{view: {key (lower case): {value name: (type, data)}}} of HKLM keys and their subkeys."""
        lines = []
        for v in views:
            lines.append("echo ##view " + v)
            lines += ['reg query "HKLM\\%s" /s /reg:%s 2>nul' % (k, v) for k in keys]
        out = self.batch("query.bat", lines)
        per_view, view = {}, None
        for line in out.split("\n"):
            if line.startswith("##view "):
                view = line.split()[1]
                per_view[view] = []
            elif view is not None:
                per_view[view].append(line)
        return {v: parse_query(ls) for v, ls in per_view.items()}



def parse_query(lines):
    """{key (lower case): {value name: (type, data)}} from reg query /s output."""
    keys, key = {}, None
    for line in lines:
        if line.startswith("HKEY_LOCAL_MACHINE\\"):
            key = line[len("HKEY_LOCAL_MACHINE\\"):].lower()
            keys.setdefault(key, {})
        elif line.startswith("    ") and key is not None:
            m = re.match(r"^    (.*?)    (REG_\w+)(?:    (.*))?$", line)
            if m:
                keys[key][m.group(1)] = (m.group(2), m.group(3) or "")
    return keys


class Batch:
    """Steps run by one cmd in one Wine start, their output told apart by
    '##sec NAME' lines and each program's exit status by '##rc N'."""

    def __init__(self):
        self.lines = []

    def run(self, tag, cmdline):
        self.lines += ["echo ##sec " + tag, cmdline, "echo ##rc %errorlevel%"]

    def query(self, tag, keys, views=("32", "64")):
        for v in views:
            self.lines.append("echo ##sec %s/%s" % (tag, v))
            self.lines += ['reg query "HKLM\\%s" /s /reg:%s 2>nul' % (k, v) for k in keys]

    def go(self, pfx, name, timeout):
        started = time.time()
        out = pfx.batch(name, self.lines, timeout=timeout)
        print("      %s: %d lines in one Wine start (%.0f s)" % (name, len(self.lines), time.time() - started), flush=True)
        secs, cur = {}, None
        for line in out.split("\n"):
            if line.startswith("##sec "):
                cur = line[6:].strip()
                secs[cur] = []
            elif cur is not None:
                secs[cur].append(line)
        return BatchResult(secs)


class BatchResult:
    def __init__(self, secs):
        self.secs = secs

    def rc(self, tag):
        """The step's exit status; None when the batch never reached it."""
        for line in self.secs.get(tag, []):
            m = re.match(r"^##rc (-?\d+)\s*$", line)
            if m:
                return int(m.group(1))
        return None

    def out(self, tag):
        return "\n".join(l for l in self.secs.get(tag, []) if not l.startswith("##rc "))

    def snap(self, tag, views=("32", "64")):
        return {v: parse_query(self.secs.get("%s/%s" % (tag, v), [])) for v in views}

def winpath(p):
    return "Z:" + p.replace("/", "\\")


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def file_version(path):
    data = open(path, "rb").read()
    i = data.find(b"\xbd\x04\xef\xfe")
    ms = int.from_bytes(data[i + 8:i + 12], "little")
    ls = int.from_bytes(data[i + 12:i + 16], "little")
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def build_packages(root, work, arch, version, old_version):
    out = {}
    for tag, v in (("new", version), ("old", old_version), ("again", version)):
        d = os.path.join(work, tag)
        shutil.rmtree(d, ignore_errors=True)
        subprocess.run([os.path.join(root, "scripts", "package"), "--arch", arch, "--version", v, "--out", d],
                       check=True, timeout=300)
        out[tag] = os.path.join(d, "ZRN-OPOS-CashDrawer-%s-%s.msi" % (v, arch))
    return out


def install_dir(arch):
    return "C:\\%s\\ZRN\\OPOS CashDrawer" % ARCH[arch]["pf"]


def products(pfx, name):
    """DisplayVersion of every installed product called name, in either view."""
    found = []
    for view, keys in pfx.snapshot([UNINSTALL_KEY]).items():
        for key, values in keys.items():
            if values.get("DisplayName", ("", ""))[1] == name:
                found.append(values.get("DisplayVersion", ("", "?"))[1])
    return sorted(set(found))


def log_text(pfx, log):
    """An installer log as text (Windows writes UTF-16, Wine may not)."""
    path = os.path.join(pfx.scratch, log)
    if not os.path.exists(path):
        return "(no log %s)" % log
    data = open(path, "rb").read()
    if data[:2] in (b"\xff\xfe", b"\xfe\xff") or data[1:2] == b"\0":
        return data.decode("utf-16", "replace")
    return data.decode("utf-8", "replace")


def show_msi_errors(pfx, rc, log):
    """The error lines of a failed msiexec's log, on stderr."""
    if rc == 0:
        return
    text = log_text(pfx, log)
    sys.stderr.write("\n".join(l for l in text.splitlines() if "error" in l.lower() or "Return value 3" in l)[-4000:])


# CONFIG documents. The faulty one has two faults, each of which the log
# must name; the good ones replace the technician's drawers and names.
BAD_CONFIG = """{"schema": "zrn-opos-cashdrawer-configuration", "version": 1,
  "devices": [{"key": "CD926", "Port": "COM9"}, {"key": "CD615", "Colour": 1}]}"""
BAD_CONFIG_FAULTS = ["devices[0].Port: 'COM9' is not allowed", 'devices[1]: CD615 has no setting "Colour"',
                     "2 faults in C:\\zrn-pkgtest\\bad.json"]
GOOD_DEVICES = """"devices": [{"key": "CD347", "Port": "COM1", "FirstOC": "27", "SecondOC": "112"},
              {"key": "CD730", "Status": 1}],
  "logicalNames": [{"name": "FrontDrawer", "device": "CD347"}, {"name": "Store12", "device": "CD347"}]"""
# The x64 run's: service settings too, TraceEnabled overridden by TRACEENABLED.
GOOD_CONFIG = """{"schema": "zrn-opos-cashdrawer-configuration", "version": 1,
  "service": {"TraceEnabled": 0, "TraceKeepDays": 30},
  %s}""" % GOOD_DEVICES
# The x86 run's: no service settings, so the till's stay.
GOOD_CONFIG_NO_SERVICE = """{"schema": "zrn-opos-cashdrawer-configuration", "version": 1,
  %s}""" % GOOD_DEVICES


def write_config(pfx, name, text):
    with open(os.path.join(pfx.scratch, name), "w", newline="\r\n") as f:
        f.write(text + "\n")
    return "C:\\zrn-pkgtest\\" + name


def check_configured(devices, what):
    """The good document's drawers and names, and nothing else, in a view's
    device class key ({key: {value: (type, data)}})."""
    base = CLASS_KEY.lower()
    keys = sorted(k[len(base) + 1:] for k in devices if k.startswith(base + "\\"))
    cd347 = devices.get(base + "\\cd347", {})
    names = {n: v[1] for n, v in devices.get(base, {}).items() if n != "(Default)"}
    check(keys == ["cd347", "cd730"] and cd347.get("Port") == ("REG_DWORD", "0x1")
          and cd347.get("SecondOC") == ("REG_SZ", "112")
          and devices.get(base + "\\cd730", {}).get("Status") == ("REG_DWORD", "0x1")
          and names == {"FrontDrawer": "CD347", "Store12": "CD347"},
          "%s: the CONFIG document's drawers and names replace the till's %s" % (what, (keys, names)))


def check_bad_config_failed(pfx, rc, log, what):
    text = log_text(pfx, log)
    # ERROR_INSTALL_FAILURE; a process's exit status reaches Linux in its low
    # eight bits, cmd's %errorlevel% whole.
    check(rc in (1603, 1603 & 0xFF), "%s: a CONFIG document with faults fails the installation (%s)" % (what, rc))
    missing = [f for f in BAD_CONFIG_FAULTS if f not in text]
    check(not missing, "%s: the installer's log names every fault of the document %s" % (what, missing))


def msiexec(pfx, *args, log):
    rc, _ = pfx.run("msiexec", *args, "/qn", "/l*v", "C:\\zrn-pkgtest\\" + log, timeout=600)
    show_msi_errors(pfx, rc, log)
    return rc


def msiexec_line(*args, log):
    return "msiexec %s /qn /l*v C:\\zrn-pkgtest\\%s" % (" ".join(args), log)


def technician_lines(view):
    """A smart-serial drawer on COM1 and two logical names, as the utility writes them."""
    k = "HKLM\\%s\\CD347" % CLASS_KEY
    r = "/reg:%s /f >nul" % view
    lines = ['reg add "%s" /ve /d ZRNOPOSCD.SO %s' % (k, r)]
    for name, typ, data in [("DeviceDesc", "REG_SZ", "Model 347A Smart SerialLINE(r) Interface"),
                            ("DeviceName", "REG_SZ", "CD347"), ("DeviceID", "REG_DWORD", "1"),
                            ("Port", "REG_DWORD", "1"), ("BaudRate", "REG_DWORD", "5"),
                            ("DataBitLen", "REG_DWORD", "8"), ("StopBits", "REG_DWORD", "1"),
                            ("Parity", "REG_DWORD", "0"), ("HandShaking", "REG_DWORD", "0"),
                            ("Status", "REG_DWORD", "0"), ("FirstOC", "REG_SZ", "91"), ("SecondOC", "REG_SZ", "91"),
                            ("DrawerNo", "REG_DWORD", "1"), ("TimeOut", "REG_DWORD", "1000")]:
        lines.append('reg add "%s" /v %s /t %s /d "%s" %s' % (k, name, typ, data, r))
    lines.append('reg add "HKLM\\%s" /v FrontDrawer /d CD347 %s' % (CLASS_KEY, r))
    lines.append('reg add "HKLM\\%s" /v UsbDrawer /d CD730 %s' % (CLASS_KEY, r))
    return lines


FIRE_ARGS = ["--json", "open", "FrontDrawer", "claim", "enable", "fire", "close"]


def fire_line(arch):
    return '"%s\\tools\\zrncd.exe" %s' % (install_dir(arch), " ".join(FIRE_ARGS))


def fire(pfx, arch, what):
    exe = install_dir(arch) + "\\tools\\zrncd.exe"
    rc, out = pfx.run(exe, *FIRE_ARGS, timeout=120, check_rc=False)
    fired(arch, what, rc, out)


def fired(arch, what, rc, out):
    steps = re.findall(r'\{"step":"(\w+)".*?"rc":(-?\d+)', out)
    check(rc == 0 and ("fire", "0") in steps and len(steps) == 5 and all(r == "0" for _, r in steps),
          "%s: the installed %s zrncd opens, claims, enables and fires the simulated drawer (%s)"
          % (what, arch, " ".join("%s=%s" % s for s in steps) or out.strip()[-300:]))


def run_utility(pfx, arch, shot):
    """The installed utility under Xvfb: its manifest asks for administrator
    rights, which must not stop it from starting under Wine."""
    rfd, wfd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(wfd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(wfd)
    # Xvfb writes the number and its newline separately, and ends itself when
    # the second write finds the pipe closed: read up to the newline.
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(rfd, 64)
        if not chunk:
            break
        number += chunk
    os.close(rfd)
    display = ":" + number.decode().strip()
    if display == ":":
        xvfb.wait(timeout=30)
        check(False, "Xvfb starts for the utility's window (exit status %s)" % xvfb.returncode)
        return
    env = dict(os.environ, DISPLAY=display)
    util = None
    # Wine's desktop process binds to the display of the program that starts
    # the server: a fresh server for the utility, started with the display.
    pfx.stop()
    try:
        log_path = shot + ".log"
        log = open(log_path, "w")
        util = subprocess.Popen([pfx.wine_run, "--prefix", pfx.path, "--", install_dir(arch) + "\\QVTUtility.exe"],
                                env=env, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        window = ""
        deadline = time.time() + 180 * pfx.factor
        while not window and time.time() < deadline and util.poll() is None:
            time.sleep(0.5)
            window = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "ZRN OPOS Configuration Utility"],
                                    env=env, capture_output=True, text=True).stdout.strip()
        check(bool(window), "the installed QVTUtility.exe (manifest: requireAdministrator) opens its main window"
              " (after %.0f s; exit status %s)" % (time.time() - deadline + 180 * pfx.factor, util.poll()))
        if not window:
            log.flush()
            with open(log_path, errors="replace") as f:
                print("      what Wine said:\n" + "".join(f.readlines()[-20:]))
        if window:
            subprocess.run(["/usr/bin/import", "-window", "root", shot], env=env, timeout=60)
            print("      screenshot: " + shot)
        # WM_CLOSE to the main window, as the system menu's Close does.
        pfx.run("taskkill", "/im", "QVTUtility.exe", timeout=60, check_rc=False)
        try:
            util.wait(timeout=60 * pfx.factor)
        except subprocess.TimeoutExpired:
            pass
        check(util.poll() is not None, "the utility ends when its window is closed")
    finally:
        if util and util.poll() is None:
            util.kill()
        if util:
            log.close()
        pfx.stop()
        xvfb.terminate()
        xvfb.wait(timeout=30)


def com_keys_absent(snap, what):
    left = [(v, k) for v, keys in snap.items() for k in keys]
    check(not left, "%s: no class, program identifier, type library or interface key is left %s" % (what, left[:4]))


def scenario(args, pfx, arch, pkgs, version, old_version):
    a = ARCH[arch]
    view = a["view"]
    inst = install_dir(arch)
    dist = os.path.join(args.root, "dist", a["build"])

    # 1. The reference registration.
    os.makedirs(pfx.unix(inst), exist_ok=True)
    shutil.copy(os.path.join(dist, "ZRNOPOSCD.dll"), pfx.unix(inst + "\\ZRNOPOSCD.dll"))
    check(pfx.run(a["regsvr32"], "/s", inst + "\\ZRNOPOSCD.dll")[0] == 0, "regsvr32 registers the reference")
    reference = pfx.snapshot(COM_KEYS)
    check(any(k.endswith("inprocserver32") for k in reference.get(view, {})),
          "the reference registration is in the %s-bit view" % view)
    check(pfx.run(a["regsvr32"], "/u", "/s", inst + "\\ZRNOPOSCD.dll")[0] == 0, "regsvr32 /u unregisters it")
    com_keys_absent(pfx.snapshot(COM_KEYS), "after regsvr32 /u")
    shutil.rmtree(pfx.unix("C:\\%s\\ZRN" % a["pf"]))

    # 2. The earlier build: first with a faulty CONFIG, then into the empty prefix.
    bad = write_config(pfx, "bad.json", BAD_CONFIG)
    rc, _ = pfx.run("msiexec", "/i", winpath(pkgs["old"]), "CONFIG=" + bad, "/qn", "/l*v", "C:\\zrn-pkgtest\\bad.log",
                    timeout=600, check_rc=False)
    check_bad_config_failed(pfx, rc, "bad.log", arch)
    left = [os.path.join(d, f) for d, _, fs in os.walk(pfx.unix("C:\\%s" % a["pf"])) for f in fs if "ZRN" in d]
    snap = pfx.snapshot([SERVICE_KEY, CLASS_KEY], views=(view,))[view]
    check(not left and not snap and products(pfx, a["product"]) == [] and not os.path.exists(pfx.unix("C:\\ZRN")),
          "the failed installation left no file, setting, device entry, product or trace folder %s"
          % ((left[:2], sorted(snap)[:2]),))

    check(msiexec(pfx, "/i", winpath(pkgs["old"]), log="old.log") == 0, "the %s package %s installs silently" % (arch, old_version))
    for f in FILES:
        check(os.path.isfile(pfx.unix(inst + "\\" + f.replace("/", "\\"))), "%s is installed" % f)
    for f in SIM_FILES:
        check(not os.path.exists(pfx.unix(inst + "\\" + f.replace("/", "\\"))), "%s is not (Simulator is off by default)" % f)
    lnk = [os.path.join(d, f) for d, _, fs in os.walk(os.path.join(pfx.path, "drive_c")) for f in fs
           if f == "QVTUtility.lnk" and os.path.basename(d) == a["menu"]]
    check(len(lnk) == 1, "the Start-menu shortcut %s\\QVTUtility.lnk exists" % a["menu"])
    snap = pfx.snapshot([SERVICE_KEY, CLASS_KEY], views=(view,))[view]
    settings = snap.get(SERVICE_KEY.lower(), {})
    check(settings.get("TargetPath") == ("REG_SZ", inst), "TargetPath is the install folder: %s" % (settings.get("TargetPath"),))
    check(settings.get("TraceEnabled") == ("REG_DWORD", "0x0"), "TraceEnabled is 0 by default")
    cd730 = snap.get((CLASS_KEY + "\\CD730").lower(), {})
    expected730 = EXPECTED_CD730
    check(cd730 == expected730, "an absent CD730 entry is created with the USB type's values")
    trace_dir = pfx.unix("C:\\ZRN")
    check(os.path.isdir(trace_dir) and not os.path.islink(trace_dir)
          and "C:\\ZRN: the trace folder" in log_text(pfx, "old.log"),
          "the package makes the trace folder C:\\ZRN and gives it its rights")

    # 3. The technician's changes, then two major upgrades: without
    # properties, and with CONFIG, the Simulator feature and TRACEENABLED=1.
    own_drivers = "C:\\POS\\Drivers"
    os.makedirs(pfx.unix(own_drivers), exist_ok=True)
    for f in ("PortDrawerSO.DLL", "USB730SO.DLL"):
        shutil.copy(os.path.join(dist, "sim", f), pfx.unix(own_drivers + "\\" + f))
    service = "HKLM\\%s" % SERVICE_KEY
    pfx.batch("tech.bat", technician_lines(view) + [
        'reg add "HKLM\\%s\\CD730" /v Status /t REG_DWORD /d 2 /reg:%s /f >nul' % (CLASS_KEY, view),
        'reg add "HKLM\\%s\\CD730" /v DeviceDesc /d "Till 3 USB drawer" /reg:%s /f >nul' % (CLASS_KEY, view),
        'reg add "%s" /v TraceEnabled /t REG_DWORD /d 2 /reg:%s /f >nul' % (service, view),
        'reg add "%s" /v TargetPath /d "%s" /reg:%s /f >nul' % (service, own_drivers, view)])
    before = pfx.snapshot([CLASS_KEY], views=(view,))[view]
    check(before.get((CLASS_KEY + "\\CD730").lower(), {}).get("Status") == ("REG_DWORD", "0x2"), "the technician's change is made")
    # Someone has put a link in the trace folder's place (Wine shows a Unix
    # symbolic link to a folder as a junction): the package leaves it alone.
    shutil.rmtree(trace_dir)
    elsewhere = pfx.unix("C:\\elsewhere")
    os.makedirs(elsewhere)
    os.symlink(elsewhere, trace_dir)
    check(msiexec(pfx, "/i", winpath(pkgs["new"]), log="new.log") == 0,
          "the %s package %s installs over %s" % (arch, version, old_version))
    check("C:\\ZRN is a link (junction or symbolic link), left as it is" in log_text(pfx, "new.log")
          and os.path.islink(trace_dir) and os.listdir(elsewhere) == [],
          "a link in the trace folder's place is left alone and named in the log")
    os.unlink(trace_dir)
    check(products(pfx, a["product"]) == [version], "one product is installed afterwards, version %s: %s"
          % (version, products(pfx, a["product"])))
    after = pfx.snapshot([SERVICE_KEY, CLASS_KEY], views=(view,))[view]
    check({k: v for k, v in after.items() if k != SERVICE_KEY.lower()} ==
          {k: v for k, v in before.items() if k != SERVICE_KEY.lower()},
          "without CONFIG the device entries and logical names are exactly as the technician left them")
    settings = after.get(SERVICE_KEY.lower(), {})
    check(settings.get("TraceEnabled") == ("REG_DWORD", "0x2") and settings.get("TargetPath") == ("REG_SZ", own_drivers),
          "the upgrade keeps the technician's TraceEnabled and TargetPath (%s, %s)"
          % (settings.get("TraceEnabled"), settings.get("TargetPath")))
    installed = pfx.snapshot(COM_KEYS)
    for v in ("32", "64"):
        ref = reference.get(v, {})
        if arch == "x86" and v == "64":
            # Wine's RegisterTypeLib also writes the interfaces into the other
            # view; a 32-bit package cannot (no 64-bit component in it).
            ref = {k: x for k, x in ref.items() if not k.startswith("software\\classes\\interface\\")}
        diff = [k for k in set(installed.get(v, {})) | set(ref) if installed.get(v, {}).get(k) != ref.get(k)]
        check(not diff and ref,
              "%s-bit view: the package's COM keys equal regsvr32's, key by key and value by value %s"
              % (v, [(k, installed.get(v, {}).get(k), ref.get(k)) for k in diff[:3]]))

    good = write_config(pfx, "good.json", GOOD_CONFIG)
    check(msiexec(pfx, "/i", winpath(pkgs["again"]), "CONFIG=" + good, "ADDLOCAL=ALL", "TRACEENABLED=1",
                  log="again.log") == 0,
          "the same build packaged again installs over it with CONFIG and the Simulator feature")
    check(products(pfx, a["product"]) == [version], "still one product, version %s" % version)
    for f in FILES + SIM_FILES:
        installed = pfx.unix(inst + "\\" + f.replace("/", "\\"))
        check(os.path.isfile(installed) and sha(installed) == sha(os.path.join(dist, f)),
              "%s is the current build's file" % f)
    check(file_version(pfx.unix(inst + "\\ZRNOPOSCD.dll")).startswith("3.38.1."), "ZRNOPOSCD.dll carries version 3.38.1.<build>")
    configured = pfx.snapshot([SERVICE_KEY, CLASS_KEY], views=(view,))[view]
    check_configured(configured, "upgrade with CONFIG")
    settings = configured.get(SERVICE_KEY.lower(), {})
    check(settings.get("TargetPath") == ("REG_SZ", inst + "\\sim"), "TargetPath is the simulated drivers' folder: %s"
          % (settings.get("TargetPath"),))
    check(settings.get("TraceEnabled") == ("REG_DWORD", "0x1") and settings.get("TraceKeepDays") == ("REG_DWORD", "0x1e"),
          "TRACEENABLED=1 wins over the document's TraceEnabled, TraceKeepDays comes from it (%s, %s)"
          % (settings.get("TraceEnabled"), settings.get("TraceKeepDays")))
    check("imported into the %s-bit view: 2 devices, 2 logical names" % view in log_text(pfx, "again.log"),
          "the installer's log says what was imported")
    check(os.path.isdir(trace_dir) and not os.path.islink(trace_dir)
          and "C:\\ZRN: the trace folder" in log_text(pfx, "again.log"),
          "the link gone, the next installation makes the trace folder again")

    # 4. The installed client through the installed Service Object.
    if args.run_clients:
        fire(pfx, arch, "installed")
        logs = [f for f in os.listdir(pfx.unix("C:\\ZRN")) if f.startswith("OPOSTrace")] \
            if os.path.isdir(pfx.unix("C:\\ZRN")) else []
        text = "".join(open(os.path.join(pfx.unix("C:\\ZRN"), f), errors="replace").read() for f in logs)
        check("> OpenDrawer" in text, "the Service Object traced the fire (TraceEnabled from the package)")

    if args.run_utility:
        run_utility(pfx, arch, os.path.join(os.path.dirname(pfx.path), "qvtutility-installed.png"))

    # 5. Removal.
    check(msiexec(pfx, "/x", winpath(pkgs["again"]), log="remove.log") == 0, "the %s package is removed silently" % arch)
    left = [os.path.join(d, f) for d, _, fs in os.walk(pfx.unix("C:\\%s\\ZRN" % a["pf"])) for f in fs]
    check(not left, "no installed file is left %s" % left[:3])
    check(not any(f == "QVTUtility.lnk" for _, _, fs in os.walk(os.path.join(pfx.path, "drive_c")) for f in fs),
          "the shortcut is gone")
    com_keys_absent(pfx.snapshot(COM_KEYS), "after removal")
    check(products(pfx, a["product"]) == [], "no product is registered")
    rest = pfx.snapshot([SERVICE_KEY, CLASS_KEY], views=(view,))[view]
    check(rest.get(SERVICE_KEY.lower()) == {"TraceKeepDays": ("REG_DWORD", "0x1e")},
          "the service settings the package wrote are gone, the document's TraceKeepDays stays %s"
          % (rest.get(SERVICE_KEY.lower()),))
    check({k: v for k, v in rest.items() if k.startswith(CLASS_KEY.lower())} ==
          {k: v for k, v in configured.items() if k.startswith(CLASS_KEY.lower())},
          "device entries (CD730 included) and logical names stay, unchanged")
    check(os.path.isdir(pfx.unix("C:\\ZRN")), "the trace folder stays")
    if args.run_clients:
        check(any(f.startswith("OPOSTrace") for f in os.listdir(pfx.unix("C:\\ZRN"))), "the trace file stays")
    return reference


TECH_VALUES = [("DeviceDesc", "Model 347A Smart SerialLINE(r) Interface"), ("DeviceName", "CD347"), ("DeviceID", 1),
               ("Port", 1), ("BaudRate", 5), ("DataBitLen", 8), ("StopBits", 1), ("Parity", 0), ("HandShaking", 0),
               ("Status", 0), ("FirstOC", "91"), ("SecondOC", "91"), ("DrawerNo", 1), ("TimeOut", 1000)]
CHANGED730 = [("DeviceDesc", "Till 3 USB drawer"), ("DeviceName", "CD730"), ("DeviceID", 3), ("Status", 2)]


def technician_reg(path):
    """The technician_lines entries of both views as one file for reg import
    (one process instead of one per value), plus a CD730 entry changed by
    hand in the 32-bit view only. The 64-bit reg.exe reaches the 32-bit view
    through Wow6432Node."""
    def key(name, values, lines):
        lines += ["", "[%s]" % name, '@="ZRNOPOSCD.SO"']
        for n, v in values:
            lines.append('"%s"=%s' % (n, "dword:%08x" % v if isinstance(v, int) else '"%s"' % v))

    lines = ["REGEDIT4"]
    for root in ("SOFTWARE", "SOFTWARE\\Wow6432Node"):
        base = "HKEY_LOCAL_MACHINE\\%s\\%s" % (root, CLASS_KEY[len("SOFTWARE\\"):])
        lines += ["", "[%s]" % base, '"FrontDrawer"="CD347"', '"UsbDrawer"="CD730"']
        key(base + "\\CD347", TECH_VALUES, lines)
        if "Wow6432Node" in root:
            key(base + "\\CD730", CHANGED730, lines)
    with open(path, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


def x86_and_side_by_side(args, pfx, pkgs86, pkg64):
    pkg86, old86 = pkgs86["new"], pkgs86["old"]
    inst, inst64 = install_dir("x86"), install_dir("x64")
    regsvr32 = ARCH["x86"]["regsvr32"]
    dist = os.path.join(args.root, "dist", "win32")
    cd730 = (CLASS_KEY + "\\CD730").lower()
    devices = lambda snap: {k: v for k, v in snap.items() if k.startswith(CLASS_KEY.lower())}

    # a, b: the reference, the technician's entries, the x86 package.
    os.makedirs(pfx.unix(inst), exist_ok=True)
    shutil.copy(os.path.join(dist, "ZRNOPOSCD.dll"), pfx.unix(inst + "\\ZRNOPOSCD.dll"))
    technician_reg(os.path.join(pfx.scratch, "tech.reg"))
    b = Batch()
    b.run("reg", '%s /s "%s\\ZRNOPOSCD.dll"' % (regsvr32, inst))
    b.query("reference", COM_KEYS)
    b.run("unreg", '%s /u /s "%s\\ZRNOPOSCD.dll"' % (regsvr32, inst))
    b.query("unregistered", COM_KEYS)
    b.lines.append('rmdir /s /q "C:\\%s\\ZRN"' % ARCH["x86"]["pf"])
    b.run("tech", "reg import C:\\zrn-pkgtest\\tech.reg")
    b.query("before", [CLASS_KEY])
    bad = write_config(pfx, "bad.json", BAD_CONFIG)
    b.run("bad86", msiexec_line("/i", '"%s"' % winpath(old86), "CONFIG=" + bad, log="bad86.log"))
    b.query("afterbad", [SERVICE_KEY, CLASS_KEY])
    b.lines += ["echo ##sec leftbad", 'dir /s /b "C:\\%s\\ZRN" 2>nul' % ARCH["x86"]["pf"]]
    b.run("install86", msiexec_line("/i", '"%s"' % winpath(old86), "ADDLOCAL=ALL", "TRACEENABLED=1", log="x86.log"))
    b.query("installed", COM_KEYS)
    b.query("settings", [SERVICE_KEY, CLASS_KEY], views=("32",))
    # The current build over it, without TRACEENABLED, with a CONFIG
    # document that holds no service settings. ADDLOCAL names the Simulator
    # feature again: Wine's installer does not carry an earlier build's
    # feature states over (MigrateFeatureStates does nothing there).
    good = write_config(pfx, "good86.json", GOOD_CONFIG_NO_SERVICE)
    b.run("upgrade86", msiexec_line("/i", '"%s"' % winpath(pkg86), "CONFIG=" + good, "ADDLOCAL=ALL", log="x86up.log"))
    b.query("upgraded", [SERVICE_KEY, CLASS_KEY])
    b.query("products", [UNINSTALL_KEY])
    r = b.go(pfx, "x86.bat", timeout=1800)

    check(r.rc("reg") == 0, "regsvr32 registers the reference (%s)" % r.rc("reg"))
    reference = r.snap("reference")
    check(any(k.endswith("inprocserver32") for k in reference["32"]), "the reference registration is in the 32-bit view")
    check(r.rc("unreg") == 0, "regsvr32 /u unregisters it (%s)" % r.rc("unreg"))
    com_keys_absent(r.snap("unregistered"), "after regsvr32 /u")
    before = r.snap("before")
    check(r.rc("tech") == 0 and before["32"].get(cd730, {}).get("Status") == ("REG_DWORD", "0x2")
          and before["64"].get((CLASS_KEY + "\\CD347").lower(), {}).get("Port") == ("REG_DWORD", "0x1")
          and cd730 not in before["64"], "the technician's entries are made (a changed CD730 in the 32-bit view only)")
    check_bad_config_failed(pfx, r.rc("bad86"), "bad86.log", "x86")
    afterbad = r.snap("afterbad")
    check(devices(afterbad["32"]) == devices(before["32"]) and devices(afterbad["64"]) == devices(before["64"])
          and not afterbad["32"].get(SERVICE_KEY.lower()) and not r.out("leftbad").strip(),
          "x86: the failed installation left no file and no service setting, and the device entries as they were %s"
          % r.out("leftbad").strip()[:200])
    rc = r.rc("install86")
    show_msi_errors(pfx, rc, "x86.log")
    check(rc == 0, "the x86 package installs silently with the Simulator feature (%s)" % rc)
    for f in FILES + SIM_FILES:
        installed = pfx.unix(inst + "\\" + f.replace("/", "\\"))
        check(os.path.isfile(installed) and sha(installed) == sha(os.path.join(dist, f)),
              "%s is the win32 build's file, under Program Files (x86)" % f)
    check(not os.path.exists(pfx.unix(inst64)), "nothing is installed under Program Files")
    check(file_version(pfx.unix(inst + "\\ZRNOPOSCD.dll")).startswith("3.38.1."), "ZRNOPOSCD.dll carries version 3.38.1.<build>")
    menu = [d for d, _, fs in os.walk(os.path.join(pfx.path, "drive_c")) if "QVTUtility.lnk" in fs]
    check([os.path.basename(d) for d in menu] == [ARCH["x86"]["menu"]],
          "the Start-menu shortcut %s\\QVTUtility.lnk exists" % ARCH["x86"]["menu"])
    settings = r.snap("settings", views=("32",))["32"]
    service = settings.get(SERVICE_KEY.lower(), {})
    check(service.get("TargetPath") == ("REG_SZ", inst + "\\sim") and service.get("TraceEnabled") == ("REG_DWORD", "0x1"),
          "32-bit view: TargetPath is the simulated drivers' folder and TraceEnabled is 1 (%s, %s)"
          % (service.get("TargetPath"), service.get("TraceEnabled")))
    check(devices(settings) == devices(before["32"]),
          "32-bit view: the changed CD730 and the other device entries are exactly as the technician left them")
    installed = r.snap("installed")
    for v in ("32", "64"):
        ref = reference[v]
        if v == "64":
            # Wine's RegisterTypeLib also writes the interfaces into the other
            # view; a 32-bit package cannot (no 64-bit component in it).
            ref = {k: x for k, x in ref.items() if not k.startswith("software\\classes\\interface\\")}
        diff = [k for k in set(installed[v]) | set(ref) if installed[v].get(k) != ref.get(k)]
        check(not diff and ref,
              "%s-bit view: the package's COM keys equal regsvr32's, key by key and value by value %s"
              % (v, [(k, installed[v].get(k), ref.get(k)) for k in diff[:3]]))

    # c. The upgrade with CONFIG: the document's drawers in the 32-bit view,
    # the till's service settings kept.
    rc = r.rc("upgrade86")
    show_msi_errors(pfx, rc, "x86up.log")
    check(rc == 0, "the current x86 build upgrades the earlier one with a CONFIG document (%s)" % rc)
    upgraded = r.snap("upgraded")
    check_configured(devices(upgraded["32"]), "x86, 32-bit view")
    check(devices(upgraded["64"]) == devices(before["64"]), "x86: the 64-bit view's entries are untouched")
    service = upgraded["32"].get(SERVICE_KEY.lower(), {})
    check(service.get("TraceEnabled") == ("REG_DWORD", "0x1") and service.get("TargetPath") == ("REG_SZ", inst + "\\sim"),
          "x86: the upgrade keeps TraceEnabled without TRACEENABLED; TargetPath at the simulated drivers (%s, %s)"
          % (service.get("TraceEnabled"), service.get("TargetPath")))
    new_version = re.search(r"-(3\.38\.1\.\d+)-x86\.msi$", pkg86).group(1)
    found = sorted({values.get("DisplayVersion", ("", ""))[1] for keys in r.snap("products").values()
                    for values in keys.values() if values.get("DisplayName", ("", ""))[1] == ARCH["x86"]["product"]})
    check(found == [new_version], "x86: one product is installed afterwards, version %s: %s" % (new_version, found))

    # d, e: the x64 package beside it; both clients; removal of each.
    b = Batch()
    b.run("install64", msiexec_line("/i", '"%s"' % winpath(pkg64), "ADDLOCAL=ALL", log="x64.log"))
    b.query("both", COM_KEYS)
    b.query("devices64", [CLASS_KEY], views=("64",))
    b.run("fire86", fire_line("x86"))
    b.run("fire64", fire_line("x64"))
    b.run("remove86", msiexec_line("/x", '"%s"' % winpath(pkg86), log="x86x.log"))
    b.query("after86", COM_KEYS)
    b.query("rest86", [SERVICE_KEY], views=("32",))
    b.run("fire64b", fire_line("x64"))
    b.run("remove64", msiexec_line("/x", '"%s"' % winpath(pkg64), log="x64x.log"))
    b.query("after64", COM_KEYS)
    b.query("rest", [SERVICE_KEY, CLASS_KEY])
    r = b.go(pfx, "sbs.bat", timeout=1800)

    rc = r.rc("install64")
    show_msi_errors(pfx, rc, "x64.log")
    check(rc == 0, "the x64 package installs beside it (%s)" % rc)
    snap = r.snap("both")
    ips = "software\\classes\\clsid\\%s\\inprocserver32" % CLSID.lower()
    check(snap["32"].get(ips, {}).get("(Default)", ("", ""))[1] == inst + "\\ZRNOPOSCD.dll"
          and snap["64"].get(ips, {}).get("(Default)", ("", ""))[1] == inst64 + "\\ZRNOPOSCD.dll",
          "each view's class names its own build's ZRNOPOSCD.dll")
    tl = "software\\classes\\typelib\\%s\\1.0\\409" % LIBID.lower()
    check(snap["64"].get(tl + "\\win32") and snap["64"].get(tl + "\\win64"), "the type library is registered for both")
    new730 = r.snap("devices64", views=("64",))["64"].get(cd730, {})
    expected730 = EXPECTED_CD730
    check(new730 == expected730, "64-bit view: the absent CD730 entry is created with the USB type's values %s"
          % (sorted(set(new730.items()) ^ set(expected730.items()))[:4],))
    fired("x86", "side by side", r.rc("fire86"), r.out("fire86"))
    fired("x64", "side by side", r.rc("fire64"), r.out("fire64"))
    text = ""
    if os.path.isdir(pfx.unix("C:\\ZRN")):
        text = "".join(open(os.path.join(pfx.unix("C:\\ZRN"), f), errors="replace").read()
                       for f in os.listdir(pfx.unix("C:\\ZRN")) if f.startswith("OPOSTrace"))
    check("> OpenDrawer" in text, "the 32-bit Service Object traced the fire (TraceEnabled from the package), the trace"
          " file stays after removal")

    rc = r.rc("remove86")
    show_msi_errors(pfx, rc, "x86x.log")
    check(rc == 0, "the x86 package is removed silently (%s)" % rc)
    snap = r.snap("after86")
    tlv = "software\\classes\\typelib\\%s\\1.0" % LIBID.lower()
    iface = "software\\classes\\interface\\" + IIDS[0].lower()
    # The program identifier is not checked here: Wine shares it between the
    # views (as Windows does), so the x64 package's stays visible in both.
    wrong = [what for what, ok in [
        ("32-bit class left", not snap["32"].get("software\\classes\\clsid\\" + CLSID.lower())),
        ("64-bit class gone", snap["64"].get(ips)),
        ("win64 type library gone", snap["64"].get(tl + "\\win64")), ("win32 type library left", not snap["64"].get(tl + "\\win32")),
        ("type library name gone", snap["64"].get(tlv, {}).get("(Default)")), ("type library flags gone", snap["64"].get(tlv + "\\flags")),
        ("64-bit interface gone", snap["64"].get(iface)), ("32-bit interface gone", snap["32"].get(iface))] if not ok]
    print("      after removing x86, the 32-bit view's program identifier key: %s"
          % snap["32"].get("software\\classes\\zrnoposcd.so"), flush=True)
    check(not wrong, "removing x86 takes its class and leaves the x64 registration whole"
          " (type library and both views' interfaces) %s" % wrong)
    check(not r.snap("rest86", views=("32",))["32"], "32-bit view: the service settings the x86 package wrote are gone")
    fired("x64", "after removing x86", r.rc("fire64b"), r.out("fire64b"))
    rc = r.rc("remove64")
    show_msi_errors(pfx, rc, "x64x.log")
    check(rc == 0, "the x64 package is removed silently (%s)" % rc)
    com_keys_absent(r.snap("after64"), "both removed")
    left = [os.path.join(d, f) for pf in (inst, inst64) for d, _, fs in os.walk(pfx.unix(pf.rsplit("\\", 1)[0]))
            for f in fs]
    check(not left, "no installed file is left in either Program Files folder %s" % left[:3])
    check(not any("QVTUtility.lnk" in fs for _, _, fs in os.walk(os.path.join(pfx.path, "drive_c"))), "the shortcuts are gone")
    rest = r.snap("rest")
    check(not rest["32"].get(SERVICE_KEY.lower()) and not rest["64"].get(SERVICE_KEY.lower()),
          "the service settings are gone from both views")
    after = dict(before["64"], **{cd730: new730})
    check(devices(rest["32"]) == devices(upgraded["32"]) and devices(rest["64"]) == after,
          "device entries (both CD730 included) and logical names stay, unchanged, in both views")

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--arch", choices=ARCH, required=True)
    ap.add_argument("--run-clients", action="store_true")
    ap.add_argument("--side-by-side", action="store_true", help="x86 only: the x86 package, then x64 beside it")
    ap.add_argument("--run-utility", action="store_true")
    ap.add_argument("--time-factor", type=int, default=1)
    ap.add_argument("--packages", help="folder of packages built beforehand")
    args = ap.parse_args()

    start = time.time()
    work = os.path.dirname(os.path.abspath(args.prefix))
    # Each run upgrades from an earlier build; the x64 run then installs the
    # current build packaged again (another product code) over it.
    tags = {"x86": ("new", "old"), "x64": ("new",)} if args.side_by_side else {args.arch: ("new", "old", "again")}
    pkgs = {}
    for arch in tags:
        if args.packages:
            # Built beforehand (the test VM has no msitools): <dir>/<arch>/{new,old}/*.msi
            pkgs[arch] = {}
            for tag in tags[arch]:
                d = os.path.join(args.packages, arch, tag)
                found = sorted(f for f in os.listdir(d) if f.endswith(".msi")) if os.path.isdir(d) else []
                if len(found) != 1:
                    print("FAIL  no single %s package in %s (build the %s preset first)" % (tag, d, ARCH[arch]["build"]))
                    return 1
                pkgs[arch][tag] = os.path.join(d, found[0])
        else:
            version = file_version(os.path.join(args.root, "dist", ARCH[arch]["build"], "ZRNOPOSCD.dll"))
            old = "3.38.1.%d" % max(int(version.split(".")[3]) - 1, 0)
            pkgs[arch] = build_packages(args.root, os.path.join(work, "msi", arch), arch, version, old)
    version_of = lambda path: re.search(r"-(3\.38\.1\.\d+)-x(?:86|64)\.msi$", path).group(1)
    if not args.side_by_side:
        version, old_version = version_of(pkgs[args.arch]["new"]), version_of(pkgs[args.arch]["old"])
        check(int(old_version.split(".")[3]) < int(version.split(".")[3]) or version.endswith(".0"),
              "the earlier package %s has a lower build number than %s" % (old_version, version))

    shutil.rmtree(args.prefix, ignore_errors=True)
    pfx = Prefix(args.root, args.prefix, args.time_factor)
    try:
        pfx.setup()
        print("      prefix ready (%.0f s)" % (time.time() - start), flush=True)
        if args.side_by_side:
            x86_and_side_by_side(args, pfx, pkgs["x86"], pkgs["x64"]["new"])
        else:
            scenario(args, pfx, args.arch, pkgs[args.arch], version, old_version)
    finally:
        pfx.stop()
    print("%d checks failed (%.0f s)" % (len(failures), time.time() - start))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
