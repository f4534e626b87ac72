"""Writes the type stubs of the built module (qorv.pyi) from its own signatures and docstrings,
so editors and type checkers see what the module holds, and the stubs never fall behind it.

    python3 stubgen.py SITE_DIR OUT_FILE
"""
import inspect
import re
import sys

KNOWN = {"int", "float", "bool", "str", "bytes", "None", "object", "dict", "list", "tuple",
         "List", "Tuple", "Dict", "Optional", "Union", "Iterator", "Sequence", "Callable", "Any"}


def clean_type(text, own):
    if "::" in text or "<" in text:  # a C++ name the module does not register
        return "Any"
    text = re.sub(r"numpy\.ndarray\[[^\]]*\]", "numpy.ndarray", text)
    text = text.replace("qorv.", "")

    def word(m):
        w = m.group(0)
        if w in KNOWN or w in own or w.startswith("numpy."):
            return w
        return "Any"
    return re.sub(r"[A-Za-z_][A-Za-z_0-9.]*", word, text)


def split_args(text):
    out, depth, cur = [], 0, ""
    for c in text:
        if c in "[(":
            depth += 1
        elif c in "])":
            depth -= 1
        if c == "," and depth == 0:
            out.append(cur.strip())
            cur = ""
        else:
            cur += c
    if cur.strip():
        out.append(cur.strip())
    return out


def signatures(name, doc, own):
    """Every 'name(args) -> ret' line of a pybind11 docstring (overloads numbered or not)."""
    found = []
    for line in (doc or "").splitlines():
        m = re.match(r"^\s*(?:\d+\.\s*)?" + re.escape(name) + r"\((.*)\)\s*->\s*(.+)$", line)
        if not m:
            continue
        args = []
        for a in split_args(m.group(1)):
            default = ""
            if "=" in a:
                a, _ = a.split("=", 1)
                default = " = ..."
            if ":" in a:
                n, t = a.split(":", 1)
                args.append(f"{n.strip()}: {clean_type(t.strip(), own)}{default}")
            else:
                args.append(a.strip() + default)
        found.append((", ".join(args), clean_type(m.group(2).strip(), own)))
    return found


def summary(doc, name):
    lines = [l for l in (doc or "").splitlines()
             if l.strip() and not re.match(r"^\s*(?:\d+\.\s*)?" + re.escape(name) + r"\(", l)
             and l.strip() != "Overloaded function."]
    return " ".join(l.strip() for l in lines).replace('"""', "'''")


def function(out, name, obj, own, indent=""):
    sigs = signatures(name, obj.__doc__, own) or [("*args: Any, **kwargs: Any", "Any")]
    doc = summary(obj.__doc__, name)
    over = len(sigs) > 1
    for args, ret in sigs:
        if over:
            out.append(f"{indent}@overload")
        body = f'\n{indent}    """{doc}"""' if doc else " ..."
        out.append(f"{indent}def {name}({args}) -> {ret}:{body}" + ("" if not doc else "\n" + indent + "    ..."))


def main(site, target):
    sys.path.insert(0, site)
    import qorv
    own = {n for n in dir(qorv) if isinstance(getattr(qorv, n), type)}
    out = ['"""Type stubs of the qorv module (generated from its signatures and docstrings)."""',
           "from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple, Union, overload",
           "import numpy", ""]
    for name in sorted(dir(qorv)):
        if name.startswith("_"):
            continue
        obj = getattr(qorv, name)
        if isinstance(obj, type):
            out.append(f"class {name}:")
            doc = (obj.__doc__ or "").strip().replace('"""', "'''")
            if doc:
                out.append(f'    """{doc}"""')
            for key, member in sorted(obj.__dict__.items()):
                if isinstance(member, property):
                    t = "Any"
                    if member.fget is not None:
                        sig = signatures("", member.fget.__doc__, own)
                        if sig:
                            t = sig[0][1]
                    out.append("    @property")
                    pdoc = (member.__doc__ or "").strip().splitlines()
                    pdoc = " ".join(l for l in pdoc if not l.startswith("(")).replace('"""', "'''")
                    out.append(f"    def {key}(self) -> {t}:")
                    out.append(f'        """{pdoc}"""' if pdoc else "        ...")
                elif callable(member) and (not key.startswith("_") or key in (
                        "__init__", "__getitem__", "__len__", "__iter__", "__contains__", "__enter__",
                        "__exit__", "__repr__", "__eq__", "__add__", "__sub__", "__mul__", "__rmul__",
                        "__neg__", "__array__")):
                    function(out, key, member, own, "    ")
            out.append("")
        elif callable(obj):
            function(out, name, obj, own)
            out.append("")
    with open(target, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
