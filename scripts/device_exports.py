#!/usr/bin/env python3
"""Checks a device library's exports against the 28 operations the module imports.

    device_exports.py FILE [--bindings OUT]

FILE is ZelmorDSCLibrary.dll, its import library ZelmorDSCLibrary.lib, or a
text list of exported names (the output of `dumpbin /exports` or
`llvm-readobj --coff-exports`, or one name a line). For each operation it
prints one line:

    binds                    the library exports the name the module imports
    name differs, same call  an export of that operation differs from our
                             declaration only in ways that leave the x64 call
                             unchanged (const, integer spelling, enum or
                             integer, record tag, pointer or reference, ...)
    different call           it differs in a way that changes the call
    missing                  the library exports no such operation

It exits 0 when every operation binds or differs only in name. --bindings
writes "our-name library-name" per operation, for the build to import the
library's names. The tools come from LLVM (llvm-readobj, llvm-nm,
llvm-undname) or from Visual Studio (dumpbin, undname), whichever is found.
"""

import os
import re
import shutil
import subprocess
import sys
from dataclasses import dataclass, field
from typing import List, Optional

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUR_NAMES = os.path.join(ROOT, "scripts", "msvc", "expected_device_imports.txt")
HEADER = "src/device/ZelmorDSCLibrary.h"

# ---- Types as a demangler prints them -------------------------------------

INTEGER_WIDTHS = {
    "bool": 8, "char": 8, "signed char": 8, "unsigned char": 8, "__int8": 8, "unsigned __int8": 8,
    "short": 16, "unsigned short": 16, "__int16": 16, "unsigned __int16": 16,
    "int": 32, "unsigned int": 32, "long": 32, "unsigned long": 32, "__int32": 32, "unsigned __int32": 32,
    "__int64": 64, "unsigned __int64": 64, "long long": 64, "unsigned long long": 64,
}
BUILTIN_WORDS = {"unsigned", "signed", "char", "short", "int", "long", "__int8", "__int16", "__int32", "__int64",
                 "bool", "void", "float", "double", "wchar_t", "char8_t", "char16_t", "char32_t"}
RECORD_KEYWORDS = {"class", "struct", "union"}
IGNORED_WORDS = {"__ptr64", "__restrict", "__unaligned", "volatile"}


@dataclass
class Type:
    kind: str  # builtin, enum, record, pointer, reference, other
    name: str = ""  # builtin spelling, enum or record name without template arguments
    keyword: str = ""  # class, struct or union for records
    args: List["Type"] = field(default_factory=list)  # template arguments, or the target of a pointer
    const: bool = False
    text: str = ""

    def __str__(self):
        return self.text


def split_top_level(text, separator=","):
    parts, depth, current = [], 0, ""
    for char in text:
        if char in "<([":
            depth += 1
        elif char in ">)]":
            depth -= 1
        if char == separator and depth == 0:
            parts.append(current)
            current = ""
        else:
            current += char
    parts.append(current)
    return [part.strip() for part in parts]


def tokens_of(text):
    """Words (a name keeps its template arguments), '*', '&' and '&&'."""
    tokens, i = [], 0
    while i < len(text):
        char = text[i]
        if char.isspace():
            i += 1
        elif char in "*&":
            if text.startswith("&&", i):
                tokens.append("&&")
                i += 2
            else:
                tokens.append(char)
                i += 1
        else:
            start, depth = i, 0
            while i < len(text) and (depth > 0 or not (text[i].isspace() or text[i] in "*&")):
                depth += {"<": 1, ">": -1}.get(text[i], 0)
                i += 1
            tokens.append(text[start:i])
    return tokens


def parse_type(text):
    text = " ".join(text.split())
    if "(" in text or "[" in text:
        return Type("other", text=text)
    tokens = [token for token in tokens_of(text) if token not in IGNORED_WORDS]
    const = False
    base = None
    i = 0
    while i < len(tokens) and base is None:
        token = tokens[i]
        if token == "const":
            const = True
            i += 1
        elif token in RECORD_KEYWORDS or token == "enum":
            name = tokens[i + 1] if i + 1 < len(tokens) else ""
            i += 2
            if token == "enum":
                base = Type("enum", name=name)
            else:
                bare, _, rest = name.partition("<")
                args = [parse_type(arg) for arg in split_top_level(rest[:-1])] if rest else []
                base = Type("record", name=bare, keyword=token, args=args)
        elif token in BUILTIN_WORDS:
            words = []
            while i < len(tokens) and tokens[i] in BUILTIN_WORDS | {"const"}:
                if tokens[i] == "const":
                    const = True
                else:
                    words.append(tokens[i])
                i += 1
            base = Type("builtin", name=" ".join(words))
        else:
            return Type("other", text=text)
    if base is None:
        return Type("other", text=text)
    current = base
    current.const = const
    for token in tokens[i:]:
        if token == "const":
            current.const = True
        elif token == "*":
            current = Type("pointer", args=[current])
        elif token in ("&", "&&"):
            current = Type("reference", args=[current])
        else:
            return Type("other", text=text)
    current.text = text
    return current


@dataclass
class Signature:
    name: str  # qualified function name
    result: Type
    params: List[Type]
    member: bool  # a non-static member function: a hidden object pointer comes first
    text: str

    @property
    def operation(self):
        return self.name.split("::")[-1]


CONVENTIONS = ("__cdecl", "__stdcall", "__fastcall", "__vectorcall", "__thiscall", "__clrcall")


def parse_signature(text):
    """A function as a demangler prints it, or None for anything else."""
    text = " ".join(text.split())
    depth = 0
    for i, char in enumerate(text):
        depth += {"<": 1, ">": -1, "(": 1, ")": -1}.get(char, 0)
        if depth == 0 and char == " ":
            word = text[i + 1:].split(" ", 1)[0]
            if word in CONVENTIONS:
                head, tail = text[:i], text[i + 1 + len(word):].strip()
                break
    else:
        return None
    access = re.match(r"(?:(public|private|protected): )?((?:static |virtual )*)", head)
    result = head[access.end():]
    open_paren = tail.find("(")
    if open_paren < 0 or not tail.endswith(")") and not re.search(r"\)( const| __ptr64)*$", tail):
        return None
    name = tail[:open_paren].strip()
    params_text = tail[open_paren + 1:tail.rfind(")")]
    params = [] if params_text.strip() in ("", "void") else [parse_type(p) for p in split_top_level(params_text)]
    member = access.group(1) is not None and "static" not in access.group(2)
    return Signature(name, parse_type(result), params, member, text)


# ---- Comparison ------------------------------------------------------------

# Kinds of difference: the ones that leave the x64 call as it is, and the others.
SAME_CALL = {
    "const": "const-ness of the pointed-to type or of the pointer",
    "integer spelling": "another integer type of the same width (bool counts as an 8-bit integer)",
    "enum or integer": "an enum where a 32-bit integer is, or another enum",
    "record tag": "struct, class or union, or another tag name, for a record of our layout",
    "pointer or reference": "a reference where a pointer is, or the reverse",
    "void pointer": "void* where a typed pointer is, or the reverse (an opaque handle, raw bytes)",
    "pointer-sized integer": "a 64-bit integer where a pointer is passed, or the reverse (an opaque handle)",
    "namespace": "the function declared in a namespace or as a static member",
}
DIFFERENT_CALL = {
    "integer width": "an integer of another width: the callee reads or writes more or fewer bytes",
    "bool or integer": "bool where a wider integer is (BOOL, int): only the low byte is set or read",
    "standard-library type": "a standard-library string or vector where another type is, or another one",
    "pointed-to type": "a pointer to another kind of data",
    "by value or by address": "a value where a pointer or reference is passed, or the reverse",
    "parameter count": "more or fewer parameters",
    "member function": "a non-static member function takes a hidden object pointer",
    "plain C name": "exported without C++ decoration, so its types cannot be checked",
    "other type": "a type of another kind (floating point, wide text, function or array)",
}


@dataclass
class Difference:
    where: str  # "parameter 3", "result", "function"
    kind: str
    ours: str
    theirs: str

    @property
    def same_call(self):
        return self.kind in SAME_CALL


def is_std(t):
    return t.kind == "record" and t.name.startswith("std::")


def is_pointer_like(t):
    return t.kind in ("pointer", "reference")


def compare_targets(ours, theirs, where, found):
    """Types in memory, behind a pointer or reference, or a template argument."""
    if ours.const != theirs.const:
        found.append(Difference(where, "const", ours.text, theirs.text))
    if ours.kind == "builtin" and ours.name == "void" or theirs.kind == "builtin" and theirs.name == "void":
        if ours.kind != theirs.kind or ours.name != theirs.name:
            found.append(Difference(where, "void pointer", ours.text, theirs.text))
        return
    compare_values(ours, theirs, where, found, in_memory=True)


def compare_values(ours, theirs, where, found, in_memory=False):
    """Types passed or returned in a register (or in memory when in_memory)."""
    def add(kind):
        found.append(Difference(where, kind, ours.text or str(ours.name), theirs.text or str(theirs.name)))

    if ours.kind == "other" or theirs.kind == "other":
        if " ".join(ours.text.split()) != " ".join(theirs.text.split()):
            add("other type")
        return
    if is_pointer_like(ours) and is_pointer_like(theirs):
        if ours.kind != theirs.kind:
            add("pointer or reference")
        if ours.kind == "pointer" and theirs.kind == "pointer" and ours.const != theirs.const:
            add("const")
        compare_targets(ours.args[0], theirs.args[0], where, found)
        return
    if is_pointer_like(ours) or is_pointer_like(theirs):
        value = theirs if is_pointer_like(ours) else ours
        if value.kind == "builtin" and INTEGER_WIDTHS.get(value.name) == 64:
            add("pointer-sized integer")
        else:
            add("by value or by address")
        return
    if is_std(ours) or is_std(theirs):
        if not (is_std(ours) and is_std(theirs)) or ours.name != theirs.name or len(ours.args) != len(theirs.args):
            add("standard-library type")
            return
        for mine, yours in zip(ours.args, theirs.args):
            compare_targets(mine, yours, where, found)
        return
    if ours.kind == "record" or theirs.kind == "record":
        if ours.kind != theirs.kind:
            add("by value or by address" if not in_memory else "pointed-to type")
        elif ours.name != theirs.name or ours.keyword != theirs.keyword:
            add("record tag")
        return
    # Builtins and enums: an enum is a 32-bit integer.
    def width(t):
        return 32 if t.kind == "enum" else INTEGER_WIDTHS.get(t.name)

    if ours.kind == "enum" or theirs.kind == "enum":
        if ours.kind == theirs.kind and ours.name == theirs.name:
            return
        add("enum or integer" if width(ours) == width(theirs) else "integer width")
        return
    if ours.name == theirs.name:
        return
    if width(ours) is None or width(theirs) is None:
        add("other type")
    elif (ours.name == "bool") != (theirs.name == "bool") and width(ours) != width(theirs):
        add("bool or integer")
    elif width(ours) != width(theirs):
        add("integer width")
    else:
        add("integer spelling")


def compare(ours: Signature, theirs: Signature) -> List[Difference]:
    found: List[Difference] = []
    if ours.name != theirs.name:
        found.append(Difference("function", "namespace", ours.name, theirs.name))
    if theirs.member:
        found.append(Difference("function", "member function", ours.name, theirs.name))
    compare_values(ours.result, theirs.result, "result", found)
    if len(ours.params) != len(theirs.params):
        found.append(Difference("parameters", "parameter count", str(len(ours.params)), str(len(theirs.params))))
        return found
    for index, (mine, yours) in enumerate(zip(ours.params, theirs.params), start=1):
        compare_values(mine, yours, f"parameter {index}", found)
    return found


@dataclass
class Verdict:
    operation: str
    result: str  # binds, name differs, same call, different call, missing
    ours: str  # our decorated name
    theirs: Optional[str] = None  # the library's decorated name
    ours_text: str = ""
    theirs_text: str = ""
    differences: List[Difference] = field(default_factory=list)


def classify(operation, our_name, our_signature, exports):
    """exports: list of (decorated name, Signature or None); the best match wins."""
    if our_name in (name for name, _ in exports):
        return Verdict(operation, "binds", our_name, our_name, our_signature.text, our_signature.text)
    candidates = []
    for name, signature in exports:
        if signature is not None and signature.operation == operation:
            differences = compare(our_signature, signature)
            same = all(d.same_call for d in differences)
            candidates.append((0 if same else 1, len(differences), name, signature.text, differences))
        elif signature is None and name.lstrip("_") == operation:
            plain = [Difference("function", "plain C name", our_name, name)]
            candidates.append((1, 1, name, name, plain))
    if not candidates:
        return Verdict(operation, "missing", our_name, ours_text=our_signature.text)
    rank, _, name, text, differences = min(candidates, key=lambda c: (c[0], c[1]))
    result = "name differs, same call" if rank == 0 else "different call"
    return Verdict(operation, result, our_name, name, our_signature.text, text, differences)


# ---- Reading the library ---------------------------------------------------


def find_tool(*names):
    for name in names:
        path = shutil.which(name)
        if path:
            return path
    return None


def run(command):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True).stdout


def export_listing(path):
    with open(path, "rb") as stream:
        magic = stream.read(8)
    if magic.startswith(b"MZ") or magic.startswith(b"!<arch>"):
        is_dll = magic.startswith(b"MZ")
        readobj = find_tool("llvm-readobj-14", "llvm-readobj")
        nm = find_tool("llvm-nm-14", "llvm-nm")
        dumpbin = find_tool("dumpbin")
        if is_dll and readobj:
            return run([readobj, "--coff-exports", path])
        if not is_dll and nm:
            # An import library defines __imp_NAME for every exported NAME.
            return "\n".join(line.split()[-1][len("__imp_"):] for line in run([nm, path]).splitlines()
                             if line.split() and line.split()[-1].startswith("__imp_"))
        if dumpbin:
            return run([dumpbin, "/exports", path])
        sys.exit("device-exports: neither LLVM (llvm-readobj, llvm-nm) nor Visual Studio's dumpbin was found")
    with open(path, encoding="utf-8", errors="replace") as stream:
        return stream.read()


def is_candidate(word):
    """A C++ decorated name, or a plain name that could be an operation's."""
    return word.startswith("?") or re.fullmatch(r"_?zelmor_\w+", word) is not None


def names_in(listing):
    """The C++ and zelmor_ names exported in a listing of any accepted form."""
    names = []
    for line in listing.splitlines():
        match = re.match(r"\s*Name: (\S+)", line)
        words = [match.group(1)] if match else line.split()
        names.extend([word for word in words if is_candidate(word)][:1])
    return list(dict.fromkeys(names))


def demangle(names):
    """Decorated name -> demangled text, for the names the demangler reads."""
    decorated = [name for name in names if name.startswith("?")]
    tool = find_tool("llvm-undname-14", "llvm-undname")
    texts = {}
    if tool:
        output = run([tool] + decorated) if decorated else ""
        lines = output.splitlines()
        for i, line in enumerate(lines[:-1]):
            if line in decorated and not lines[i + 1].startswith("error"):
                texts[line] = lines[i + 1]
        return texts
    tool = find_tool("undname")
    if not tool:
        sys.exit("device-exports: neither llvm-undname nor Visual Studio's undname was found")
    for name in decorated:
        match = re.search(r'is :- "(.*)"', run([tool, name]))
        if match:
            texts[name] = match.group(1)
    return texts


def our_operations():
    with open(OUR_NAMES, encoding="utf-8") as stream:
        return [line.strip() for line in stream if line.strip()]


def check(listing):
    ours = our_operations()
    exports = names_in(listing)
    texts = demangle(ours + exports)
    parsed = [(name, parse_signature(texts[name]) if name in texts else None) for name in exports]
    verdicts = []
    for name in ours:
        signature = parse_signature(texts[name])
        verdicts.append(classify(signature.operation, name, signature, parsed))
    return sorted(verdicts, key=lambda v: v.operation), len(exports)


def report(verdicts, source, export_count, out=sys.stdout):
    width = max(len(v.operation) for v in verdicts) + 2
    print(f"{source}: {export_count} C++ or zelmor_ names exported; the module imports {len(verdicts)} operations.",
          file=out)
    print(f"{'operation':<{width}}result", file=out)
    for v in verdicts:
        line = v.result
        if v.differences:
            places = {}
            for d in v.differences:
                places.setdefault(d.where, {})[d.kind] = None
            line += ": " + ", ".join(f"{where} ({', '.join(kinds)})" for where, kinds in places.items())
        print(f"{v.operation:<{width}}{line}", file=out)
        if v.result != "binds":
            print(f"{'':<{width}}  ours:    {v.ours_text}", file=out)
        if v.theirs and v.result != "binds":
            print(f"{'':<{width}}  library: {v.theirs_text}", file=out)
        for d in v.differences:
            if not d.same_call:
                print(f"{'':<{width}}  {d.where}: {d.ours} here, {d.theirs} in the library: "
                      f"{DIFFERENT_CALL[d.kind]}", file=out)
    counts = {r: sum(v.result == r for v in verdicts)
              for r in ("binds", "name differs, same call", "different call", "missing")}
    print("; ".join(f"{n} {r}" for r, n in counts.items()), file=out)
    if counts["different call"] or counts["missing"]:
        print(f"The module cannot load beside this library. Declare each operation marked 'different call' in "
              f"{HEADER} as the 'library:' line shows and rebuild; an operation marked 'missing' is not exported "
              f"by this library under any name.", file=out)
        return False
    if counts["name differs, same call"]:
        print("Every operation is there: configure with -DZELMOR_DEVICE_EXPORTS=<this file> to import the "
              "library's own names.", file=out)
    return True


def main(argv):
    args = argv[1:]
    bindings = None
    if len(args) == 3 and args[1] == "--bindings":
        bindings = args[2]
        args = args[:1]
    if len(args) != 1 or args[0].startswith("-"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        verdicts, count = check(export_listing(args[0]))
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"device-exports: cannot read {args[0]}: {error}", file=sys.stderr)
        return 2
    ok = report(verdicts, args[0], count)
    if bindings and ok:
        with open(bindings, "w", encoding="utf-8") as stream:
            for v in verdicts:
                stream.write(f"{v.ours} {v.theirs}\n")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
