#!/usr/bin/env python3
"""The unity build compiles each subsystem's sources together: a file-local name (an anonymous
namespace's function, class, constant) defined in two sources of one subsystem either fails to
compile or, worse, joins one overload set and silently changes which function a call takes (a
string_view helper lost to a std::string one, leaving a view of a dead temporary). Lists such
names; exit 1 when there is any. Overloads meant for distinct types are listed in ALLOWED."""
import collections
import glob
import os
import re
import sys

ALLOWED = {("foundation", "mapPole"), ("freeform", "originOf"),  # 2D/3D twins, distinct types
           ("qorv", "xyz")}  # the tool: point and vector forms beside text.h's three numbers

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
DEF = re.compile(r"^(?:inline |static |constexpr |template <[^>]*> )*[\w:<>,\*&\s]+?[\s\*&](\w+)\(")
TYPE = re.compile(r"^(?:class|struct|enum(?: class)?) (\w+)|^using (\w+) =")
CONST = re.compile(r"^(?:static )?(?:inline )?(?:constexpr|const)\s+[\w:<>]+\s+(\w+)\s*[=\[{]")


def local_names(path):
    names, inside = set(), False
    for line in open(path, encoding="utf-8"):
        if line.startswith("namespace {"):
            inside = True
        elif inside and re.match(r"^\}  // namespace\s*$", line):
            inside = False
        elif inside and not line.startswith((" ", "\t", "#", "//")):
            for m in (DEF.match(line), TYPE.match(line), CONST.match(line)):
                if m:
                    name = next(g for g in m.groups() if g)
                    if name not in ("if", "for", "while", "switch", "return"):
                        names.add(name)
    return names


def header_names(path):
    """Functions a header of the folder declares: a file-local one of that name would hide them,
    or join their overload set, in every unit that includes the header."""
    names = set()
    for line in open(path, encoding="utf-8"):
        m = DEF.match(line)
        if m and line.rstrip().endswith(";") and not line.startswith((" ", "\t", "#", "//")):
            names.add(m.group(1))
    return names


groups = collections.defaultdict(list)
for f in sorted(glob.glob(os.path.join(root, "qorv", "*", "*.cpp")) +
                glob.glob(os.path.join(root, "qorv", "siblings", "*", "*.cpp")) +
                glob.glob(os.path.join(root, "tools", "qorv", "*.cpp")) +
                glob.glob(os.path.join(root, "python", "*.cpp"))):
    groups[os.path.basename(os.path.dirname(f))].append(f)
clashes = 0
for group, files in sorted(groups.items()):
    seen = collections.defaultdict(list)
    for f in files:
        for n in local_names(f):
            seen[n].append(os.path.basename(f))
    folders = {os.path.dirname(f) for f in files}
    for h in sorted(h for d in folders for h in glob.glob(os.path.join(d, "*.h"))):
        for n in header_names(h) & set(seen):
            seen[n].append(os.path.basename(h))
    for name, where in sorted(seen.items()):
        if len(where) > 1 and (group, name) not in ALLOWED:
            print(f"{group}: '{name}' is file-local in {', '.join(where)}")
            clashes += 1
sys.exit(1 if clashes else 0)
