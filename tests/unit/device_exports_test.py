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


def verdict(ours, theirs, our_name="?ours", their_name="?theirs"):
    return de.classify("zelmor_op", our_name, signature(ours), [(their_name, signature(theirs))])


def kinds_of(v):
    return sorted({d.kind for d in v.differences})


# (name, our declaration, the library's, the difference kind): one row per kind.
SAME_CALL_ROWS = [
    ("const on a pointed-to type", "int __cdecl zelmor_op(unsigned char const *, void *)",
     "int __cdecl zelmor_op(unsigned char *, void *)", "const"),
    ("const pointer", "int __cdecl zelmor_op(char const *, void *)",
     "int __cdecl zelmor_op(char const * const, void *)", "const"),
    ("unsigned long for unsigned int", "int __cdecl zelmor_op(unsigned int, void *)",
     "int __cdecl zelmor_op(unsigned long, void *)", "integer spelling"),
    ("int result as long", "int __cdecl zelmor_op(void *)", "long __cdecl zelmor_op(void *)", "integer spelling"),
    ("char text as unsigned char", "int __cdecl zelmor_op(char const *, void *)",
     "int __cdecl zelmor_op(unsigned char const *, void *)", "integer spelling"),
    ("unsigned int pointee as unsigned long", "int __cdecl zelmor_op(unsigned int *, void *)",
     "int __cdecl zelmor_op(unsigned long *, void *)", "integer spelling"),
    ("unsigned char for bool", "int __cdecl zelmor_op(bool, void *)", "int __cdecl zelmor_op(unsigned char, void *)",
     "integer spelling"),
    ("int for an enum", "int __cdecl zelmor_op(enum EncryptionType, void *)",
     "int __cdecl zelmor_op(int, void *)", "enum or integer"),
    ("another enum", "int __cdecl zelmor_op(enum EncryptionType, void *)",
     "int __cdecl zelmor_op(enum Cipher, void *)", "enum or integer"),
    ("class for struct", "int __cdecl zelmor_op(struct ZelmorKeyPair *, void *)",
     "int __cdecl zelmor_op(class ZelmorKeyPair *, void *)", "record tag"),
    ("another tag in a vector", "class std::vector<struct ZelmorKeyPair, class std::allocator<struct ZelmorKeyPair>> "
     "const & __cdecl zelmor_op(char const *, void *)",
     "class std::vector<class KeyPair, class std::allocator<class KeyPair>> const & __cdecl zelmor_op(char const *, "
     "void *)", "record tag"),
    ("reference for pointer", "int __cdecl zelmor_op(int *, void *)", "int __cdecl zelmor_op(int &, void *)",
     "pointer or reference"),
    ("typed handle", "int __cdecl zelmor_op(void *)", "int __cdecl zelmor_op(struct Context *)", "void pointer"),
    ("integer handle", "int __cdecl zelmor_op(void *)", "int __cdecl zelmor_op(unsigned __int64)",
     "pointer-sized integer"),
    ("integer handle out", "int __cdecl zelmor_op(void **)", "int __cdecl zelmor_op(unsigned __int64 *)",
     "pointer-sized integer"),
    ("in a namespace", "int __cdecl zelmor_op(void *)", "int __cdecl zelmor::zelmor_op(void *)", "namespace"),
    ("static member", "int __cdecl zelmor_op(void *)", "public: static int __cdecl Library::zelmor_op(void *)",
     "namespace"),
]

DIFFERENT_CALL_ROWS = [
    ("size_t length", "int __cdecl zelmor_op(unsigned int, void *)",
     "int __cdecl zelmor_op(unsigned __int64, void *)", "integer width"),
    ("size_t length out", "int __cdecl zelmor_op(unsigned int *, void *)",
     "int __cdecl zelmor_op(unsigned __int64 *, void *)", "integer width"),
    ("BOOL result for bool", "bool __cdecl zelmor_op(void *)", "int __cdecl zelmor_op(void *)", "bool or integer"),
    ("64-bit integer for an enum", "int __cdecl zelmor_op(enum EncryptionType, void *)",
     "int __cdecl zelmor_op(__int64, void *)", "integer width"),
    ("bool argument for int", "int __cdecl zelmor_op(int, void *)", "int __cdecl zelmor_op(bool, void *)",
     "bool or integer"),
    ("std::string for text", "int __cdecl zelmor_op(char const *, void *)",
     "int __cdecl zelmor_op(class std::basic_string<char, struct std::char_traits<char>, class std::allocator<char>> "
     "const &, void *)", "standard-library type"),
    ("vector for a list", "class std::vector<unsigned char, class std::allocator<unsigned char>> __cdecl "
     "zelmor_op(void *)", "class std::basic_string<char, struct std::char_traits<char>, class std::allocator<char>> "
     "__cdecl zelmor_op(void *)", "standard-library type"),
    ("another container", "class std::vector<unsigned char, class std::allocator<unsigned char>> __cdecl "
     "zelmor_op(void *)",
     "class std::list<unsigned char, class std::allocator<unsigned char>> __cdecl zelmor_op(void *)",
     "standard-library type"),
    ("bytes for a record", "int __cdecl zelmor_op(struct ZelmorKeyPair *, void *)",
     "int __cdecl zelmor_op(unsigned char *, void *)", "pointed-to type"),
    ("record by value", "struct TokenInfo __cdecl zelmor_op(void *)", "struct TokenInfo * __cdecl zelmor_op(void *)",
     "by value or by address"),
    ("32-bit handle", "int __cdecl zelmor_op(void *)", "int __cdecl zelmor_op(unsigned int)",
     "by value or by address"),
    ("one more parameter", "int __cdecl zelmor_op(void *)", "int __cdecl zelmor_op(int, void *)", "parameter count"),
    ("member function", "int __cdecl zelmor_op(void *)", "public: int __cdecl Library::zelmor_op(void *)",
     "member function"),
    ("wide text", "int __cdecl zelmor_op(char const *, void *)", "int __cdecl zelmor_op(wchar_t const *, void *)",
     "other type"),
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


OURS = "int __cdecl zelmor_op(unsigned char const *, unsigned int, void *)"


class Choice(unittest.TestCase):
    def test_verdict_by_what_the_library_exports(self):
        same = ("?same", signature("int __cdecl zelmor_op(unsigned char *, unsigned long, void *)"))
        wider = ("?wider", signature("int __cdecl zelmor_op(unsigned char *, unsigned __int64, void *)"))
        other = ("?other", signature("int __cdecl zelmor_other(unsigned char const *, unsigned int, void *)"))
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
