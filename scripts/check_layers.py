#!/usr/bin/env python3
"""Keeps the includes of common/, monitor/ and settings/ pointing down.

The portable core is built and unit-tested natively, so it must not lean on
Windows, and each folder of the monitor builds on the ones below it only, so
that a lower folder can be tested without the ones above. The compiler is
happy with an include that goes up a layer; this is not. It prints one line
per offending include (file:line: what is wrong) and exits with 1 when there
is any.

    check_layers.py [--root DIR]   check the tree (default: this repository)
    check_layers.py --self-test    check the checker on a small made-up tree
"""
import os
import re
import sys
import tempfile

ROOTS = ("common", "monitor", "settings")
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".inc", ".rc")

# The monitor's folders, bottom up. A folder may include its own level and
# those below, except that two different folders on one level stay apart.
MONITOR_LEVELS = {
    "monitor/services": 1,
    "monitor/mail": 2,
    "monitor/state": 3,
    "monitor/net": 4,
    "monitor/pop3": 5,
    "monitor/imap": 5,
    "monitor/protocol": 6,
    "monitor/cycle": 7,
    "monitor/popup": 8,
    "monitor/desktop": 8,
    "monitor/app": 9,
    "monitor/win32": 10,
}
OTHER_UNITS = ("common", "common/win32", "settings", "settings/win32")

# Windows SDK headers a core file might reach for; any <win*.h> and <ws2*.h>
# counts too.
PLATFORM_HEADERS = {
    "windows.h", "windowsx.h", "winsock.h", "winsock2.h", "ws2tcpip.h", "ws2def.h",
    "mswsock.h", "iphlpapi.h", "commctrl.h", "commdlg.h", "shellapi.h", "shlobj.h",
    "shlwapi.h", "shobjidl.h", "ras.h", "raserror.h", "rasdlg.h", "mmsystem.h",
    "mmreg.h", "wincrypt.h", "security.h", "sspi.h", "schannel.h", "ntsecapi.h",
    "objbase.h", "ole2.h", "oleauto.h", "olectl.h", "combaseapi.h", "uxtheme.h",
    "dwmapi.h", "imm.h", "richedit.h", "psapi.h", "tlhelp32.h", "dbghelp.h",
    "lmcons.h", "tchar.h", "direct.h", "io.h", "process.h",
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def is_platform_header(name):
    base = name.replace("\\", "/").rsplit("/", 1)[-1].lower()
    return base in PLATFORM_HEADERS or re.fullmatch(r"(win|ws2)\w*\.h", base) is not None


def unit_of(path):
    """The folder a repository path belongs to for these rules: its top
    folder plus the next one, if any (deeper folders go with that one)."""
    parts = path.split("/")
    if parts[0] not in ROOTS:
        return None
    if len(parts) <= 2:  # a file right in common/, monitor/ or settings/
        return parts[0]
    return parts[0] + "/" + parts[1]


def known(unit):
    return unit in MONITOR_LEVELS or unit in OTHER_UNITS


def is_win32(unit):
    return unit.endswith("/win32")


def describe(unit):
    level = MONITOR_LEVELS.get(unit)
    return unit if level is None else "%s (layer %d)" % (unit, level)


def include_problem(src, dst):
    """Why folder `src` may not include folder `dst`, or None when it may.
    Both are known folders."""
    if src == dst:
        return None
    src_root, dst_root = src.split("/")[0], dst.split("/")[0]
    if src_root == "monitor" and dst_root == "settings":
        return "the monitor may not include the settings program"
    if src_root == "settings" and dst_root == "monitor":
        return "the settings program may not include the monitor"
    if is_win32(dst) and not is_win32(src):
        return "%s is core code and may not include a win32/ folder" % src
    if dst_root == "common":
        return None  # common/win32 below a win32 folder was let through above
    if src_root == "common":
        return "common/ may include only common/"
    if src_root == "settings":
        return None  # settings/win32 over settings; the rest was settled above
    # Both in the monitor.
    if src == "monitor/win32":
        return None
    a, b = MONITOR_LEVELS[src], MONITOR_LEVELS[dst]
    if a == b:
        return "%s and %s are on one level and may not include each other" % (src, dst)
    if b > a:
        return "%s may not include %s above it" % (describe(src), describe(dst))
    return None


def resolve(root, including, spelled):
    """The repository path an include names: next to the including file
    when such a file exists there, else from the repository root."""
    spelled = spelled.replace("\\", "/")
    beside = os.path.normpath(os.path.join(os.path.dirname(including), spelled))
    if not beside.startswith("..") and os.path.isfile(os.path.join(root, beside)):
        return beside.replace(os.sep, "/")
    return os.path.normpath(spelled).replace(os.sep, "/")


def sources(root):
    for top in ROOTS:
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames.sort()
            for f in sorted(filenames):
                if f.endswith(SOURCE_SUFFIXES):
                    yield os.path.relpath(os.path.join(dirpath, f), root).replace(os.sep, "/")


def check(root):
    """Every violation in the tree under `root`, as printable lines."""
    out = []
    reported_folders = set()
    for path in sources(root):
        unit = unit_of(path)
        if not known(unit):
            if unit not in reported_folders:
                reported_folders.add(unit)
                out.append("%s: folder not in the layer table" % unit)
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
        for number, line in enumerate(lines, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            bracket, spelled = m.groups()
            where = "%s:%d: " % (path, number)
            shown = "<%s>" % spelled if bracket == "<" else '"%s"' % spelled
            target = resolve(root, path, spelled)
            target_unit = unit_of(target)
            if target_unit is None:
                # Not one of ours: the standard library, or the platform.
                if is_platform_header(spelled) and not is_win32(unit):
                    out.append(where + "includes %s: a platform header outside a win32/ folder"
                               % shown)
                elif bracket == '"' and not is_platform_header(spelled):
                    out.append(where + "includes %s, which is in no layer" % shown)
                continue
            if not known(target_unit):
                out.append(where + "includes %s from %s, a folder not in the layer table"
                           % (shown, target_unit))
                continue
            problem = include_problem(unit, target_unit)
            if problem:
                out.append(where + "includes %s: %s" % (shown, problem))
    return out


# A made-up tree: every include marked "// bad" must be reported, and
# nothing else but the folder that is missing from the table.
SELF_TEST_TREE = {
    "common/a.h": '#include <vector>\n#include "common/b.h"\n'
                  '// #include "monitor/app/x.h"\n',
    "common/b.h": '#include "a.h"\n#include <windows.h> // bad\n'
                  '#include "monitor/mail/m.h" // bad\n',
    "common/win32/r.h": '#include <winsock2.h>\n#include "common/a.h"\n'
                        '#include "monitor/win32/w.h" // bad\n',
    "common/win32/res/v.inc": '#include <winver.h>\n',
    "monitor/services/s.h": '#include "common/a.h"\n#include "monitor/mail/m.h" // bad\n',
    "monitor/mail/m.h": '#include "monitor/services/s.h"\n#include <string>\n',
    "monitor/mail/m.cpp": '#include "m.h"\n#include "../cycle/c.h" // bad\n'
                          '#  include <Windows.h> // bad\n',
    "monitor/cycle/c.h": '#include "monitor/mail/m.h"\n#include "monitor/state/t.h"\n'
                         '#include "common/win32/r.h" // bad\n',
    "monitor/state/t.h": '  #include "monitor/mail/m.h"\n  #include "monitor/pop3/p.h" // bad\n',
    "monitor/pop3/p.h": '#include "monitor/state/t.h"\n#include "settings/o.h" // bad\n',
    "monitor/popup/u.h": '#include "monitor/desktop/d.h" // bad\n#include "monitor/cycle/c.h"\n',
    "monitor/desktop/d.h": '#include "monitor/app/a.h" // bad\n#include "monitor/popup/u.h" // bad\n'
                           '#include <ras.h> // bad\n',
    "monitor/app/a.h": '#include "monitor/popup/u.h"\n#include "monitor/desktop/d.h"\n'
                       '#include "monitor/extra/e.h" // bad\n',
    "monitor/extra/e.h": '#include "monitor/win32/w.h"\n',
    "monitor/win32/w.h": '#include <windows.h>\n#include "monitor/app/a.h"\n'
                         '#include "common/win32/r.h"\n#include "settings/win32/sw.h" // bad\n',
    "settings/o.h": '#include "common/a.h"\n#include "monitor/mail/m.h" // bad\n'
                    '#include "settings/win32/sw.h" // bad\n#include <commctrl.h> // bad\n',
    "settings/win32/sw.h": '#include <commctrl.h>\n#include "settings/o.h"\n'
                           '#include "common/win32/r.h"\n#include "missing.h" // bad\n',
    "tests/t.cpp": '#include <windows.h>\n#include "monitor/win32/w.h"\n',
}


def self_test():
    with tempfile.TemporaryDirectory() as root:
        expected = {"monitor/extra"}
        for path, text in SELF_TEST_TREE.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)
            if unit_of(path) == "monitor/extra" or path.startswith("tests/"):
                continue
            for number, line in enumerate(text.splitlines(), 1):
                if line.endswith("// bad"):
                    expected.add("%s:%d" % (path, number))
        found = check(root)
    where = [v.split(": ", 1)[0] for v in found]
    reported = set(where)
    missed = sorted(expected - reported)
    extra = sorted(reported - expected)
    twice = sorted({w for w in where if where.count(w) > 1})
    for w in missed:
        print("self-test: not reported: %s" % w)
    for v in found:
        if v.split(": ", 1)[0] in extra:
            print("self-test: reported wrongly: %s" % v)
    for w in twice:
        print("self-test: reported more than once: %s" % w)
    if missed or extra or twice:
        return 1
    print("check_layers self-test: passed (%d forbidden includes reported, no allowed one)"
          % len(found))
    return 0


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    args = list(argv)
    if args == ["--self-test"]:
        return self_test()
    if len(args) == 2 and args[0] == "--root":
        root = args[1]
    elif args:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    if not any(os.path.isdir(os.path.join(root, top)) for top in ROOTS):
        print("check_layers: no %s under %s" % ("/, ".join(ROOTS) + "/", root), file=sys.stderr)
        return 2
    found = check(root)
    for v in found:
        print(v)
    if found:
        print("check_layers: %d violation(s); the layer table is MONITOR_LEVELS in "
              "scripts/check_layers.py" % len(found), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
