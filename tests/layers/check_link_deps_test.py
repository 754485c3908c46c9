#!/usr/bin/env python3
# Tests of the link check on small archives compiled here: a library calling into another it does
# not link is caught, naming both and its CMakeLists.txt; links through a group or a library in
# between count; inline code shared through a header does not.
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

CHECK = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-link-deps")
CXX = shutil.which("c++") or shutil.which("g++") or shutil.which("clang++")

SOURCES = {
    # low: a function, and an inline one every user compiles for itself.
    "low": "int low_value() { return 4; }\n"
           "inline int shared_inline() { return 2; }\nint low_user() { return shared_inline(); }\n",
    # mid calls low.
    "mid": "int low_value();\nint mid_value() { return low_value() + 1; }\n",
    # top calls mid, and shares low's inline function without calling low.
    "top": "int mid_value();\ninline int shared_inline() { return 2; }\n"
           "int top_value() { return mid_value() + shared_inline(); }\n",
}


@unittest.skipIf(CXX is None, "no C++ compiler to build the archives")
class CheckLinkDepsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        cls.archives = {}
        for name, text in SOURCES.items():
            src = os.path.join(cls.dir, name + ".cpp")
            obj = os.path.join(cls.dir, name + ".o")
            with open(src, "w") as f:
                f.write(text)
            subprocess.run([CXX, "-c", "-O0", src, "-o", obj], check=True)
            archive = os.path.join(cls.dir, "lib%s.a" % name)
            subprocess.run(["ar", "rcs", archive, obj], check=True)
            cls.archives[name] = archive

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def run_map(self, rows):
        path = os.path.join(self.dir, "map.txt")
        with open(path, "w") as f:
            for name, archive, links in rows:
                f.write("%s\tlib/%s\t%s\t%s\n" % (name, name, archive, " ".join(links)))
        r = subprocess.run([sys.executable, CHECK, path], capture_output=True, text=True)
        return r.returncode, r.stdout

    def test_complete_links_pass_directly_through_a_library_between_and_through_a_group(self):
        code, out = self.run_map([("low", self.archives["low"], []),
                                  ("mid", self.archives["mid"], ["low"]),
                                  ("top", self.archives["top"], ["mid"])])
        self.assertEqual(code, 0, out)
        code, out = self.run_map([("low", self.archives["low"], []),
                                  ("mid", self.archives["mid"], ["low"]),
                                  ("group", "-", ["mid", "low"]),
                                  ("top", self.archives["top"], ["group"])])
        self.assertEqual(code, 0, out)

    def test_a_missing_link_is_named_with_the_list_to_fix(self):
        code, out = self.run_map([("low", self.archives["low"], []),
                                  ("mid", self.archives["mid"], []),
                                  ("top", self.archives["top"], ["mid"])])
        self.assertEqual(code, 1)
        lines = out.strip().splitlines()
        # top's use of the inline function shared with low is no link to low.
        self.assertEqual(len(lines), 1, out)
        self.assertIn("mid uses low", lines[0])
        self.assertIn("low_value()", lines[0])
        self.assertIn("lib/mid/CMakeLists.txt", lines[0])

    def test_an_archive_that_is_not_built_is_a_usage_error(self):
        code, _ = self.run_map([("low", os.path.join(self.dir, "libmissing.a"), [])])
        self.assertEqual(code, 2)


if __name__ == "__main__":
    unittest.main()
