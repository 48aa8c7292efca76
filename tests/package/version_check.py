#!/usr/bin/env python3
"""Every shipped binary carries a version resource with the release and
build number, file description, company and product name:

  version_check.py --version 3.38.1.N [--asks-admin EXE]... FILE...

--asks-admin: the program's embedded manifest asks for administrator rights.
"""
import argparse
import struct
import sys


def string_value(data, key):
    """The value of a StringFileInfo String whose key is key (UTF-16LE)."""
    needle = (key + "\0").encode("utf-16-le")
    i = data.find(needle)
    if i < 0:
        return None
    j = i + len(needle)
    j += (-j) % 4  # the value starts on a 32-bit boundary
    end = j
    while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
        end += 2
    return data[j:end].decode("utf-16-le", "replace")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--version", required=True)
    ap.add_argument("--asks-admin", action="append", default=[])
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()
    bad = 0
    for path in args.asks_admin:
        data = open(path, "rb").read()
        ok = b'<requestedExecutionLevel level="requireAdministrator"' in data
        print("%s  %s: manifest asks for administrator rights" % ("ok  " if ok else "FAIL", path))
        bad += not ok
    want = tuple(int(x) for x in args.version.split("."))
    for path in args.files:
        data = open(path, "rb").read()
        problems = []
        i = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO signature
        if i < 0:
            problems.append("no version resource")
        else:
            fms, fls, pms, pls = struct.unpack_from("<IIII", data, i + 8)
            fixed = (fms >> 16, fms & 0xFFFF, fls >> 16, fls & 0xFFFF)
            product = (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)
            if fixed != want or product != want:
                problems.append("file/product version %s/%s" % (fixed, product))
            for key, expected in (("FileVersion", args.version), ("ProductVersion", args.version),
                                  ("CompanyName", "ZRN"), ("ProductName", "ZRN OPOS ADK")):
                got = string_value(data, key)
                if got != expected:
                    problems.append("%s is %r" % (key, got))
            if not string_value(data, "FileDescription"):
                problems.append("no FileDescription")
        print("%s  %s%s" % ("FAIL" if problems else "ok  ", path, ": " + "; ".join(problems) if problems else
                            " " + args.version + ", " + str(string_value(data, "FileDescription"))))
        bad += bool(problems)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
