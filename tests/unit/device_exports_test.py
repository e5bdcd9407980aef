#!/usr/bin/env python3
"""The export classifier of scripts/device_exports.py on demangled name pairs."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import device_exports as de  # noqa: E402


def signature(text):
    parsed = de.parse_signature(text)
    assert parsed is not None, text
    return parsed


def verdict(ours, theirs):
    return de.classify("zelmor_op", "?ours", signature(ours), [("?theirs", signature(theirs))])


def kinds_of(v):
    return sorted({d.kind for d in v.differences})


def op(parameters, result="int", name="zelmor_op"):
    """The operation's declaration as demangling spells it."""
    return f"{result} __cdecl {name}({parameters})"


def vector(element):
    return f"class std::vector<{element}, class std::allocator<{element}>>"


STRING = "class std::basic_string<char, struct std::char_traits<char>, class std::allocator<char>>"

# (name, our declaration, the library's, the difference kind): one row per kind.
SAME_CALL_ROWS = [
    ("const on a pointed-to type", op("unsigned char const *, void *"), op("unsigned char *, void *"), "const"),
    ("const pointer", op("char const *, void *"), op("char const * const, void *"), "const"),
    ("unsigned long for unsigned int", op("unsigned int, void *"), op("unsigned long, void *"), "integer spelling"),
    ("int result as long", op("void *"), op("void *", "long"), "integer spelling"),
    ("char text as unsigned char", op("char const *, void *"), op("unsigned char const *, void *"),
     "integer spelling"),
    ("unsigned int pointee as unsigned long", op("unsigned int *, void *"), op("unsigned long *, void *"),
     "integer spelling"),
    ("unsigned char for bool", op("bool, void *"), op("unsigned char, void *"), "integer spelling"),
    ("int for an enum", op("enum EncryptionType, void *"), op("int, void *"), "enum or integer"),
    ("another enum", op("enum EncryptionType, void *"), op("enum Cipher, void *"), "enum or integer"),
    ("class for struct", op("struct ZelmorKeyPair *, void *"), op("class ZelmorKeyPair *, void *"), "record tag"),
    ("another tag in a vector", op("char const *, void *", vector("struct ZelmorKeyPair") + " const &"),
     op("char const *, void *", vector("class KeyPair") + " const &"), "record tag"),
    ("reference for pointer", op("int *, void *"), op("int &, void *"), "pointer or reference"),
    ("typed handle", op("void *"), op("struct Context *"), "void pointer"),
    ("integer handle", op("void *"), op("unsigned __int64"), "pointer-sized integer"),
    ("integer handle out", op("void **"), op("unsigned __int64 *"), "pointer-sized integer"),
    ("in a namespace", op("void *"), op("void *", name="zelmor::zelmor_op"), "namespace"),
    ("static member", op("void *"), "public: static " + op("void *", name="Library::zelmor_op"), "namespace"),
]

DIFFERENT_CALL_ROWS = [
    ("size_t length", op("unsigned int, void *"), op("unsigned __int64, void *"), "integer width"),
    ("size_t length out", op("unsigned int *, void *"), op("unsigned __int64 *, void *"), "integer width"),
    ("BOOL result for bool", op("void *", "bool"), op("void *"), "bool or integer"),
    ("64-bit integer for an enum", op("enum EncryptionType, void *"), op("__int64, void *"), "integer width"),
    ("bool argument for int", op("int, void *"), op("bool, void *"), "bool or integer"),
    ("std::string for text", op("char const *, void *"), op(STRING + " const &, void *"), "standard-library type"),
    ("vector for a list", op("void *", vector("unsigned char")), op("void *", STRING), "standard-library type"),
    ("another container", op("void *", vector("unsigned char")),
     op("void *", "class std::list<unsigned char, class std::allocator<unsigned char>>"), "standard-library type"),
    ("bytes for a record", op("struct ZelmorKeyPair *, void *"), op("unsigned char *, void *"), "pointed-to type"),
    ("record by value", op("void *", "struct TokenInfo"), op("void *", "struct TokenInfo *"),
     "by value or by address"),
    ("32-bit handle", op("void *"), op("unsigned int"), "by value or by address"),
    ("one more parameter", op("void *"), op("int, void *"), "parameter count"),
    ("member function", op("void *"), "public: " + op("void *", name="Library::zelmor_op"), "member function"),
    ("wide text", op("char const *, void *"), op("wchar_t const *, void *"), "other type"),
]


class SameCall(unittest.TestCase):
    def test_differences_that_keep_the_call_change_only_the_name(self):
        for name, ours, theirs, kind in SAME_CALL_ROWS:
            with self.subTest(name):
                v = verdict(ours, theirs)
                self.assertEqual((v.result, kinds_of(v)), ("name differs, same call", [kind]))


class DifferentCall(unittest.TestCase):
    def test_differences_that_change_the_call_are_named(self):
        for name, ours, theirs, kind in DIFFERENT_CALL_ROWS:
            with self.subTest(name):
                v = verdict(ours, theirs)
                self.assertEqual((v.result, kind in kinds_of(v)), ("different call", True))


class Kinds(unittest.TestCase):
    def test_every_documented_kind_has_a_row(self):
        covered = {row[3] for row in SAME_CALL_ROWS + DIFFERENT_CALL_ROWS} | {"plain C name"}
        self.assertEqual(set(de.SAME_CALL) | set(de.DIFFERENT_CALL), covered)


OURS = op("unsigned char const *, unsigned int, void *")


class Choice(unittest.TestCase):
    def test_verdict_by_what_the_library_exports(self):
        same = ("?same", signature(op("unsigned char *, unsigned long, void *")))
        wider = ("?wider", signature(op("unsigned char *, unsigned __int64, void *")))
        other = ("?other", signature(op("unsigned char const *, unsigned int, void *", name="zelmor_other")))
        rows = [
            ("our name exported", [wider, ("?ours", signature(OURS))], ("binds", "?ours")),
            ("same-call overload preferred", [wider, same], ("name differs, same call", "?same")),
            ("only a different call", [wider], ("different call", "?wider")),
            ("undecorated export", [("zelmor_op", None)], ("different call", "zelmor_op")),
            ("other operations only", [other, ("zelmor_other", None)], ("missing", None)),
        ]
        for name, exports, expected in rows:
            with self.subTest(name):
                v = de.classify("zelmor_op", "?ours", signature(OURS), exports)
                self.assertEqual((v.result, v.theirs), expected)


class Listings(unittest.TestCase):
    def test_names_are_read_from_every_listing_form(self):
        rows = [
            ("llvm-readobj", "Export {\n  Ordinal: 1\n  Name: ?zelmor_a@@YAXXZ\n  RVA: 0x1000\n}\n"),
            ("dumpbin", "    ordinal hint RVA      name\n\n          1    0 00001000 ?zelmor_a@@YAXXZ\n"
                        "          2    1 00001010 zelmor_b\n"),
            ("one name a line", "?zelmor_a@@YAXXZ\nzelmor_b\n"),
        ]
        expected = {"llvm-readobj": ["?zelmor_a@@YAXXZ"]}
        for name, listing in rows:
            with self.subTest(name):
                self.assertEqual(de.names_in(listing), expected.get(name, ["?zelmor_a@@YAXXZ", "zelmor_b"]))


if __name__ == "__main__":
    unittest.main()
