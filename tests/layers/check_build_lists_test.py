#!/usr/bin/env python3
# Tests of the build-list check: a source named in no CMakeLists.txt is caught with the list to add
# it to; names relative to a folder above, from the top of the tree, and test scripts count.
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-build-lists")

ROOT_LIST = "project(x)\nadd_subdirectory(core)\n"


def run_on(files):
    with tempfile.TemporaryDirectory() as root:
        files = dict(files)
        files.setdefault("CMakeLists.txt", ROOT_LIST)
        for rel, text in files.items():
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        r = subprocess.run([sys.executable, CHECK, "--root", root], capture_output=True, text=True)
        return r.returncode, r.stdout, r.stderr


class CheckBuildListsTest(unittest.TestCase):
    def test_every_way_of_naming_a_source_counts(self):
        code, out, _ = run_on({
            "core/store/CMakeLists.txt": "velmora_library(velmora_store\n  a.cpp\n  b.cpp\n)\n",
            "core/store/a.cpp": "// a\n", "core/store/b.cpp": "// b\n", "core/store/a.h": "// header\n",
            # A folder below the list's own.
            "agent/CMakeLists.txt": "velmora_library(velmora_agent\n  snapping/s.cpp\n)\n",
            "agent/snapping/s.cpp": "// s\n",
            # From the top of the tree, and from the list's own folder by variable.
            "bench/CMakeLists.txt": "target_sources(b PRIVATE ${PROJECT_SOURCE_DIR}/tests/udev/m.cpp)\n"
                                    "add_executable(t \"${CMAKE_CURRENT_SOURCE_DIR}/t.cpp\")\n",
            "tests/udev/m.cpp": "// m\n", "bench/t.cpp": "// t\n",
            # Test scripts; scripts elsewhere are helpers, not tests.
            "tests/CMakeLists.txt": "set(cli_tests\n  cli/one.sh\n)\n",
            "tests/cli/one.sh": "#!/bin/sh\n", "tests/support/helper.sh": "#!/bin/sh\n",
        })
        self.assertEqual(code, 0, out)

    def test_unlisted_sources_are_named_with_the_list_to_add_them_to(self):
        code, out, _ = run_on({
            "core/store/CMakeLists.txt": "velmora_library(velmora_store\n  a.cpp\n)\n",
            "core/store/a.cpp": "// a\n",
            "core/store/new_record.cpp": "// new\n",
            "agent/CMakeLists.txt": "velmora_library(velmora_agent\n  a.cpp\n)\n",
            "agent/a.cpp": "// a\n",
            "agent/snapping/glide.cpp": "// below a listed folder\n",
            "tests/CMakeLists.txt": "set(cli_tests\n  cli/one.sh\n)\n",
            "tests/cli/one.sh": "#!/bin/sh\n", "tests/cli/two.sh": "#!/bin/sh\n",
            "tests/pane/new_test.cpp": "// t\n",
        })
        self.assertEqual(code, 1)
        lines = out.strip().splitlines()
        self.assertEqual(len(lines), 4, out)
        for path, owner in (("core/store/new_record.cpp", "core/store/CMakeLists.txt"),
                            ("agent/snapping/glide.cpp", "agent/CMakeLists.txt"),
                            ("tests/cli/two.sh", "tests/CMakeLists.txt"),
                            ("tests/pane/new_test.cpp", "tests/CMakeLists.txt")):
            self.assertTrue(any(l.startswith(path + ":") and owner in l for l in lines), (path, out))

    def test_a_name_in_a_comment_or_in_another_folder_does_not_count(self):
        code, out, _ = run_on({
            # Commented out, and a same-named file of another folder.
            "core/store/CMakeLists.txt": "velmora_library(velmora_store\n  # gone.cpp\n  a.cpp\n)\n",
            "core/store/gone.cpp": "// gone\n", "core/store/a.cpp": "// a\n",
            "core/devices/a.cpp": "// a of another folder\n",
        })
        self.assertEqual(code, 1)
        self.assertIn("core/store/gone.cpp:", out)
        self.assertIn("core/devices/a.cpp:", out)
        self.assertNotIn("core/store/a.cpp:", out)

    def test_not_a_source_tree(self):
        with tempfile.TemporaryDirectory() as root:
            r = subprocess.run([sys.executable, CHECK, "--root", root], capture_output=True, text=True)
        self.assertEqual(r.returncode, 2)


if __name__ == "__main__":
    unittest.main()
