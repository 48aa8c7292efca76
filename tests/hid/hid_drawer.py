#!/usr/bin/env python3
"""USB drawer interfaces on /dev/uhid for the duration of a command.

  hid_drawer.py [--] COMMAND [ARGS...]

Runs COMMAND with ZRN_HID_DRAWER=127.0.0.1:PORT in its environment: a line
protocol on that port makes, changes and unplugs HID devices that the
kernel shows as /dev/hidraw* (and Wine's HID bus hands to Windows
programs). Exit status: COMMAND's; 77 when /dev/uhid cannot be used.

Each device plays the drawer interface: 2-byte vendor reports, which a
Windows program sees as 3-byte reports with report identifier 0. To the
idle report (00 00 00) it answers with its drawer's state; to the opening
report (00 01 01) a closed drawer opens and reports state 1, an open one
reports nothing (its state did not change). Commands, one a line, each
answered by one line "ok ..." or "error ...":

  add NAME VID PID      a new device (ids in hex), its drawer closed
  unplug NAME           the device goes away (destroyed)
  replug NAME           the same device comes back, its drawer closed
  state NAME S          the drawer reports state S (1 open, 2 closed, 3)
  fires NAME MODE       what an opening report does: answer (the default),
                        ignore (no answer), three (answers state 3), or
                        unplug:N (the N-th opening report from now unplugs
                        the device instead of opening it)
  reports NAME          the output reports written to it since the last
                        time asked, as hex, oldest first ("ok 000000 000101")
  present NAME          "ok 1" while the device exists, else "ok 0"
  clear                 every device unplugged and forgotten

Commands that change a device answer once the kernel has it, so a command
that follows sees the change in order.
"""
import os
import select
import socket
import struct
import subprocess
import sys
import time

UHID_DESTROY = 1
UHID_START = 2
UHID_OUTPUT = 6
UHID_GET_REPORT = 9
UHID_GET_REPORT_REPLY = 10
UHID_CREATE2 = 11
UHID_INPUT2 = 12
UHID_SET_REPORT = 13
UHID_SET_REPORT_REPLY = 14
EVENT_SIZE = 4 + 4372  # struct uhid_event: type and the largest member (create2)
BUS_USB = 0x03
DEBUG = os.environ.get("ZRN_HID_DRAWER_DEBUG") == "1"
EIO = 5

# Vendor-defined, no report identifiers: one 2-byte input and one 2-byte
# output report.
DESCRIPTOR = bytes([
    0x06, 0x00, 0xFF,  # usage page (vendor 0xFF00)
    0x09, 0x01,        # usage 1
    0xA1, 0x01,        # collection (application)
    0x15, 0x00,        #   logical minimum 0
    0x26, 0xFF, 0x00,  #   logical maximum 255
    0x75, 0x08,        #   report size 8
    0x95, 0x02,        #   report count 2
    0x09, 0x02,        #   usage 2
    0x81, 0x02,        #   input (data, variable, absolute)
    0x09, 0x03,        #   usage 3
    0x91, 0x02,        #   output (data, variable, absolute)
    0xC0,              # end collection
])


def settle():
    """Waits (bounded) until udev has handed on the kernel's events: Wine's
    HID bus learns of a device's coming and going from them, so the test's
    next step finds them on their way."""
    try:
        subprocess.run(["udevadm", "settle", "--timeout=10"], check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except OSError:
        pass


class Device:
    def __init__(self, name, vendor, product):
        self.name, self.vendor, self.product = name, vendor, product
        self.fd = None
        self.state = 2
        self.fires = "answer"
        self.unplug_at = 0  # opening reports to go before the unplug
        self.reports = []

    def plug(self):
        self.fd = os.open("/dev/uhid", os.O_RDWR | os.O_CLOEXEC | os.O_NONBLOCK)
        self.state = 2
        name = ("ZRN test drawer " + self.name).encode()[:127]
        req = struct.pack("<128s64s64sHHIIII4096s", name, b"zrn-hid-drawer", self.name.encode()[:63],
                          len(DESCRIPTOR), BUS_USB, self.vendor, self.product, 0x0100, 0, DESCRIPTOR)
        os.write(self.fd, struct.pack("<I", UHID_CREATE2) + req)
        # The kernel has bound the device (its hidraw node exists) once it says START.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            select.select([self.fd], [], [], 0.5)
            if self.serve_one() == UHID_START:
                settle()
                return
        raise RuntimeError("the kernel did not start " + self.name)

    def unplug(self):
        if self.fd is None:
            return
        try:
            os.write(self.fd, struct.pack("<I", UHID_DESTROY))
        finally:
            os.close(self.fd)
            self.fd = None
        settle()

    def send_state(self, state):
        if state != 3:
            self.state = state
        os.write(self.fd, struct.pack("<IH", UHID_INPUT2, 2) + bytes([state, 0]))

    def serve_one(self):
        """Reads and answers one event of the kernel; its type (None: none was there)."""
        try:
            ev = os.read(self.fd, EVENT_SIZE)
        except BlockingIOError:
            return None
        kind = struct.unpack_from("<I", ev)[0]
        if DEBUG:
            print("hid_drawer: %s event %d" % (self.name, kind), file=sys.stderr, flush=True)
        if kind == UHID_OUTPUT:
            data, size = ev[4:4 + 4096], struct.unpack_from("<H", ev, 4 + 4096)[0]
            self.output(bytes(data[:size]))
        elif kind == UHID_GET_REPORT:
            ident = struct.unpack_from("<I", ev, 4)[0]
            os.write(self.fd, struct.pack("<IIHH", UHID_GET_REPORT_REPLY, ident, EIO, 0))
        elif kind == UHID_SET_REPORT:
            ident = struct.unpack_from("<I", ev, 4)[0]
            os.write(self.fd, struct.pack("<IIH", UHID_SET_REPORT_REPLY, ident, EIO))
        return kind

    def output(self, report):
        self.reports.append(report.hex())
        data = report[1:] if len(report) == 3 else report
        if data[:1] == b"\x00":  # idle: the interface tells its state
            self.send_state(self.state)
            return
        if self.unplug_at > 0:
            self.unplug_at -= 1
            if self.unplug_at == 0:
                self.unplug()
                return
        if self.fires == "ignore":
            return
        if self.fires == "three":
            self.send_state(3)
        elif self.state != 1:
            self.send_state(1)


class Drawers:
    def __init__(self):
        self.devices = {}

    def command(self, line):
        words = line.split()
        if not words:
            return "error empty command"
        verb, args = words[0], words[1:]
        try:
            if verb == "add" and len(args) == 3:
                name = args[0]
                if name in self.devices and self.devices[name].fd is not None:
                    return "error %s exists" % name
                dev = Device(name, int(args[1], 16), int(args[2], 16))
                dev.plug()
                self.devices[name] = dev
                return "ok"
            if verb == "clear" and not args:
                for dev in self.devices.values():
                    dev.unplug()
                self.devices.clear()
                return "ok"
            if not args or args[0] not in self.devices:
                return "error unknown command or device: " + line
            dev = self.devices[args[0]]
            if verb == "unplug" and len(args) == 1:
                dev.unplug()
                return "ok"
            if verb == "replug" and len(args) == 1:
                if dev.fd is None:
                    dev.plug()
                return "ok"
            if verb == "present" and len(args) == 1:
                return "ok %d" % (dev.fd is not None)
            if verb == "reports" and len(args) == 1:
                out, dev.reports = dev.reports, []
                return " ".join(["ok"] + out)
            if dev.fd is None:
                return "error %s is unplugged" % dev.name
            if verb == "state" and len(args) == 2 and args[1] in ("1", "2", "3"):
                dev.send_state(int(args[1]))
                return "ok"
            if verb == "fires" and len(args) == 2:
                mode = args[1]
                if mode in ("answer", "ignore", "three"):
                    dev.fires, dev.unplug_at = mode, 0
                    return "ok"
                if mode.startswith("unplug:") and mode[7:].isdigit() and int(mode[7:]) > 0:
                    dev.fires, dev.unplug_at = "ignore", int(mode[7:])
                    return "ok"
            return "error bad command: " + line
        except (OSError, RuntimeError, ValueError) as e:
            return "error %s: %s" % (line, e)


def serve(drawers, listener, child):
    clients = {}  # socket -> bytes received, not yet a whole line
    while child.poll() is None:
        devices = {d.fd: d for d in drawers.devices.values() if d.fd is not None}
        ready, _, _ = select.select([listener] + list(clients) + list(devices), [], [], 0.2)
        for r in ready:
            if r is listener:
                conn, _ = listener.accept()
                clients[conn] = b""
            elif r in clients:
                try:
                    data = r.recv(4096)
                except OSError:
                    data = b""
                if not data:
                    del clients[r]
                    r.close()
                    continue
                clients[r] += data
                while b"\n" in clients[r]:
                    line, clients[r] = clients[r].split(b"\n", 1)
                    reply = drawers.command(line.decode(errors="replace").strip())
                    r.sendall((reply + "\n").encode())
            elif devices[r].fd == r:  # not unplugged by an earlier event of this round
                devices[r].serve_one()


def main(argv):
    if argv and argv[0] == "--":
        argv = argv[1:]
    if not argv:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    # The test VM's start loads uhid; nothing here loads a module into the machine it runs on.
    if not os.access("/dev/uhid", os.R_OK | os.W_OK):
        print("hid_drawer: /dev/uhid cannot be used (needs the uhid module and root; "
              "the test VM has both)", file=sys.stderr)
        return 77
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    env = dict(os.environ, ZRN_HID_DRAWER="127.0.0.1:%d" % listener.getsockname()[1])
    drawers = Drawers()
    child = subprocess.Popen(argv, env=env)
    try:
        serve(drawers, listener, child)
    finally:
        if child.poll() is None:
            child.kill()
        child.wait()
        drawers.command("clear")
    return child.returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
