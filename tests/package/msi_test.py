#!/usr/bin/env python3
"""The Windows Installer packages end to end, in a Wine prefix of their own:

  msi_test.py --root ROOT --prefix DIR --arch x64|x86 [--packages DIR]
              [--run-clients] [--run-utility] [--side-by-side] [--time-factor N]

1. Reference: ZRNOPOSCD.dll copied to the install folder and registered
   with the regsvr32 of its bitness; the COM keys of both registry views are
   kept, then unregistered again (nothing may stay).
2. A package built with a lower build number is installed silently into the
   empty prefix: files, shortcut, service settings and a new CD730 entry.
3. A technician changes the CD730 entry and adds a smart-serial drawer with
   a logical name; the current package is installed over it with the
   Simulator feature and TRACEENABLED=1 (a major upgrade): one product is
   left, the files are the current ones, the technician's entries are as
   they were, TargetPath points at the simulated drivers, and the COM keys of
   both views equal the reference, key by key and value by value.
4. With --run-clients the installed zrncd fires the drawer through the
   installed Service Object (created by its program identifier); with
   --run-utility the installed QVTUtility.exe opens its window under Xvfb.
5. Removal: no file, class, program identifier or type library
   registration is left; device entries, logical names and the trace file
   stay.
6. With --side-by-side (x86 only, where 32-bit programs run): both packages
   on one prefix, each bitness's client reaches its own Service Object;
   removing the x86 package leaves the x64 one working, removing that
   leaves nothing.
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
        snap, view, key = {}, None, None
        for line in out.split("\n"):
            if line.startswith("##view "):
                view = line.split()[1]
                snap[view] = {}
            elif line.startswith("HKEY_LOCAL_MACHINE\\"):
                key = line[len("HKEY_LOCAL_MACHINE\\"):].lower()
                snap[view].setdefault(key, {})
            elif line.startswith("    ") and key is not None:
                m = re.match(r"^    (.*?)    (REG_\w+)(?:    (.*))?$", line)
                if m:
                    snap[view][key][m.group(1)] = (m.group(2), m.group(3) or "")
        return snap


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
    for tag, v in (("new", version), ("old", old_version)):
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


def msiexec(pfx, *args, log):
    rc, _ = pfx.run("msiexec", *args, "/qn", "/l*v", "C:\\zrn-pkgtest\\" + log, timeout=600)
    if rc != 0:
        try:
            text = open(os.path.join(pfx.scratch, log), encoding="utf-16", errors="replace").read()
        except (OSError, UnicodeError):
            text = open(os.path.join(pfx.scratch, log), errors="replace").read()
        sys.stderr.write("\n".join(l for l in text.splitlines() if "error" in l.lower() or "Return value 3" in l)[-4000:])
    return rc


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


def fire(pfx, arch, what):
    exe = install_dir(arch) + "\\tools\\zrncd.exe"
    rc, out = pfx.run(exe, "--json", "open", "FrontDrawer", "claim", "enable", "fire", "close", timeout=120,
                      check_rc=False)
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
    display = ":" + os.read(rfd, 64).decode().strip()
    os.close(rfd)
    env = dict(os.environ, DISPLAY=display)
    util = None
    # Wine's desktop process binds to the display of the program that starts
    # the server: a fresh server for the utility, started with the display.
    pfx.stop()
    try:
        util = subprocess.Popen([pfx.wine_run, "--prefix", pfx.path, "--", install_dir(arch) + "\\QVTUtility.exe"],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        window = ""
        deadline = time.time() + 180 * pfx.factor
        while not window and time.time() < deadline and util.poll() is None:
            time.sleep(0.5)
            window = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "ZRN OPOS Configuration Utility"],
                                    env=env, capture_output=True, text=True).stdout.strip()
        check(bool(window), "the installed QVTUtility.exe (manifest: requireAdministrator) opens its main window"
              " (after %.0f s; exit status %s)" % (time.time() - deadline + 180 * pfx.factor, util.poll()))
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

    # 2. The earlier build into an empty prefix.
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
    expected730 = {"(Default)": ("REG_SZ", "ZRNOPOSCD.SO"), "ADKConfig": ("REG_SZ", "ZRN 3.38.1_CCO"),
                   "ServiceVersion": ("REG_SZ", "3.38.1_CCO"),
                   "ServiceDesc": ("REG_SZ", "ZRN OPOS CashDrawer Service Object (serial, parallel, USB)"),
                   "DeviceDesc": ("REG_SZ", "Model 730 USBLine(tm) Interface"), "DeviceName": ("REG_SZ", "CD730"),
                   "DeviceID": ("REG_DWORD", "0x3"), "DeviceState": ("REG_DWORD", "0x0"), "PortSel": ("REG_SZ", "USB"),
                   "Port": ("REG_DWORD", "0x0"), "StatusSel": ("REG_SZ", "0,1,2,3"), "Status": ("REG_DWORD", "0x0"),
                   "TimeOut": ("REG_DWORD", "0x3e8")}
    check(cd730 == expected730, "an absent CD730 entry is created with the USB type's values")

    # 3. The technician's changes, then the major upgrade.
    pfx.batch("tech.bat", technician_lines(view) + [
        'reg add "HKLM\\%s\\CD730" /v Status /t REG_DWORD /d 2 /reg:%s /f >nul' % (CLASS_KEY, view),
        'reg add "HKLM\\%s\\CD730" /v DeviceDesc /d "Till 3 USB drawer" /reg:%s /f >nul' % (CLASS_KEY, view)])
    before = pfx.snapshot([CLASS_KEY], views=(view,))[view]
    check(before.get((CLASS_KEY + "\\CD730").lower(), {}).get("Status") == ("REG_DWORD", "0x2"), "the technician's change is made")
    check(msiexec(pfx, "/i", winpath(pkgs["new"]), "ADDLOCAL=ALL", "TRACEENABLED=1", log="new.log") == 0,
          "the %s package %s installs over %s with the Simulator feature" % (arch, version, old_version))
    check(products(pfx, a["product"]) == [version], "one product is installed afterwards, version %s: %s"
          % (version, products(pfx, a["product"])))
    for f in FILES + SIM_FILES:
        installed = pfx.unix(inst + "\\" + f.replace("/", "\\"))
        check(os.path.isfile(installed) and sha(installed) == sha(os.path.join(dist, f)),
              "%s is the current build's file" % f)
    check(file_version(pfx.unix(inst + "\\ZRNOPOSCD.dll")).startswith("3.38.1."), "ZRNOPOSCD.dll carries version 3.38.1.<build>")
    after = pfx.snapshot([SERVICE_KEY, CLASS_KEY], views=(view,))[view]
    check({k: v for k, v in after.items() if k != SERVICE_KEY.lower()} ==
          {k: v for k, v in before.items() if k != SERVICE_KEY.lower()},
          "device entries and logical names are exactly as the technician left them")
    settings = after.get(SERVICE_KEY.lower(), {})
    check(settings.get("TargetPath") == ("REG_SZ", inst + "\\sim"), "TargetPath is the simulated drivers' folder: %s"
          % (settings.get("TargetPath"),))
    check(settings.get("TraceEnabled") == ("REG_DWORD", "0x1"), "TRACEENABLED=1 sets TraceEnabled")
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
    check(msiexec(pfx, "/x", winpath(pkgs["new"]), log="remove.log") == 0, "the %s package is removed silently" % arch)
    left = [os.path.join(d, f) for d, _, fs in os.walk(pfx.unix("C:\\%s\\ZRN" % a["pf"])) for f in fs]
    check(not left, "no installed file is left %s" % left[:3])
    check(not any(f == "QVTUtility.lnk" for _, _, fs in os.walk(os.path.join(pfx.path, "drive_c")) for f in fs),
          "the shortcut is gone")
    com_keys_absent(pfx.snapshot(COM_KEYS), "after removal")
    check(products(pfx, a["product"]) == [], "no product is registered")
    rest = pfx.snapshot([SERVICE_KEY, CLASS_KEY], views=(view,))[view]
    check(not rest.get(SERVICE_KEY.lower()), "the service settings the package wrote are gone")
    check({k: v for k, v in rest.items() if k.startswith(CLASS_KEY.lower())} ==
          {k: v for k, v in before.items() if k.startswith(CLASS_KEY.lower())},
          "device entries (CD730 included) and logical names stay, unchanged")
    if args.run_clients:
        check(any(f.startswith("OPOSTrace") for f in os.listdir(pfx.unix("C:\\ZRN"))), "the trace file stays")
    return reference


def side_by_side(args, pfx, pkgs64, pkgs86):
    """Both packages on one prefix; each bitness's client reaches its own Service Object."""
    pfx.batch("tech64.bat", technician_lines("64"))
    check(msiexec(pfx, "/i", winpath(pkgs86["new"]), "ADDLOCAL=ALL", log="sbs86.log") == 0, "x86 package installs")
    check(msiexec(pfx, "/i", winpath(pkgs64["new"]), "ADDLOCAL=ALL", log="sbs64.log") == 0, "x64 package installs beside it")
    snap = pfx.snapshot(["Software\\Classes\\CLSID\\" + CLSID + "\\InprocServer32", "Software\\Classes\\TypeLib\\" + LIBID])
    ips = "software\\classes\\clsid\\%s\\inprocserver32" % CLSID.lower()
    check(snap["32"].get(ips, {}).get("(Default)", ("", ""))[1] == install_dir("x86") + "\\ZRNOPOSCD.dll"
          and snap["64"].get(ips, {}).get("(Default)", ("", ""))[1] == install_dir("x64") + "\\ZRNOPOSCD.dll",
          "each view's class names its own build's ZRNOPOSCD.dll")
    tl = "software\\classes\\typelib\\%s\\1.0\\409" % LIBID.lower()
    check(snap["64"].get(tl + "\\win32") and snap["64"].get(tl + "\\win64"), "the type library is registered for both")
    fire(pfx, "x86", "side by side")
    fire(pfx, "x64", "side by side")
    check(msiexec(pfx, "/x", winpath(pkgs86["new"]), log="sbs86x.log") == 0, "x86 package is removed")
    snap = pfx.snapshot(COM_KEYS)
    tlv = "software\\classes\\typelib\\%s\\1.0" % LIBID.lower()
    iface = "software\\classes\\interface\\" + IIDS[0].lower()
    check(not snap["32"].get("software\\classes\\clsid\\" + CLSID.lower()) and snap["64"].get(ips)
          and snap["64"].get(tl + "\\win64") and not snap["64"].get(tl + "\\win32")
          and snap["64"].get(tlv, {}).get("(Default)") and snap["64"].get(tlv + "\\flags")
          and snap["64"].get(iface) and snap["32"].get(iface),
          "removing x86 leaves the x64 registration whole (type library and both views' interfaces)")
    fire(pfx, "x64", "after removing x86")
    check(msiexec(pfx, "/x", winpath(pkgs64["new"]), log="sbs64x.log") == 0, "x64 package is removed")
    com_keys_absent(pfx.snapshot(COM_KEYS), "both removed")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--arch", choices=ARCH, required=True)
    ap.add_argument("--run-clients", action="store_true")
    ap.add_argument("--side-by-side", action="store_true")
    ap.add_argument("--run-utility", action="store_true")
    ap.add_argument("--time-factor", type=int, default=1)
    ap.add_argument("--packages", help="folder of packages built beforehand")
    args = ap.parse_args()

    start = time.time()
    work = os.path.dirname(os.path.abspath(args.prefix))
    arches = [args.arch] + (["x64"] if args.side_by_side else [])
    pkgs = {}
    for arch in arches:
        if args.packages:
            # Built beforehand (the test VM has no msitools): <dir>/<arch>/{new,old}/*.msi
            pkgs[arch] = {}
            # Side by side needs only the other package's current build.
            for tag in ("new", "old") if arch == args.arch else ("new",):
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
    version, old_version = version_of(pkgs[args.arch]["new"]), version_of(pkgs[args.arch]["old"])
    check(int(old_version.split(".")[3]) < int(version.split(".")[3]) or version.endswith(".0"),
          "the earlier package %s has a lower build number than %s" % (old_version, version))

    shutil.rmtree(args.prefix, ignore_errors=True)
    pfx = Prefix(args.root, args.prefix, args.time_factor)
    try:
        pfx.setup()
        scenario(args, pfx, args.arch, pkgs[args.arch], version, old_version)
        if args.side_by_side:
            side_by_side(args, pfx, pkgs["x64"], pkgs[args.arch])
    finally:
        pfx.stop()
    print("%d checks failed (%.0f s)" % (len(failures), time.time() - start))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
