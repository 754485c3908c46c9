#!/usr/bin/env python3
# Tests of the layering check itself: planted upward includes and toolkit headers are caught
# with their file and line; allowed includes, comments and the exception list pass.
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-layers")


def run_on(files):
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "core"), exist_ok=True)
        for rel, text in files.items():
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        r = subprocess.run([sys.executable, CHECK, "--root", root], capture_output=True, text=True)
        return r.returncode, r.stdout, r.stderr


class CheckLayersTest(unittest.TestCase):
    def test_clean_tree_passes(self):
        code, out, _ = run_on({
            "core/system/a.cpp": '// a\n#include "core/system/a.h"\n#include "core/errors/error_stack.h"\n'
                                 '#include "platform/api/platform.h"\n#include <string>\n',
            "agent/b.cpp": '// b\n#include "core/store/store.h"\n#include "agent/b.h"\n',
            "pane/controller/c.cpp": '// c\n#include "pane/windows/sheet_host.h"\n#include "pane/graph/g.h"\n',
            "pane/editing/e.h": '// e\n#include "pane/windows/pane_window.h"\n',
            "tools/ctl/main.cpp": '// m\n#include "agent/app_controller.h"\n#include <systemd/sd-bus.h>\n',
            "pane/ui/w.cpp": '// w\n#include <QWidget>\n#include "platform/sim/sim_mac.h"\n',
            "tests/core/t.cpp": '// t\n#include "tools/common/x.h"\n#include "tests/support/y.h"\n',
        })
        self.assertEqual(code, 0, out)

    def test_planted_upward_includes_are_named_with_file_and_line(self):
        code, out, _ = run_on({
            "core/errors/x.cpp": '// x\n\n#include "core/system/strings.h"\n',
            "pane/windows/y.cpp": '// y\n#include "agent/log_viewer.h"\n#  include "pane/controller/pane_controller.h"\n',
            "platform/sim/z.cpp": '// z\n#include "core/store/store.h"\n',
            "agent/w.cpp": '// w\n#include "pane/curves/fixed64.h"\n#include "platform/linux/bus.h"\n',
            "tools/service/v.cpp": '// v\n#include "tests/support/helper.h"\n',
        })
        self.assertEqual(code, 1)
        for where in ("core/errors/x.cpp:3:", "pane/windows/y.cpp:2:", "pane/windows/y.cpp:3:",
                      "platform/sim/z.cpp:2:", "agent/w.cpp:2:", "agent/w.cpp:3:", "tools/service/v.cpp:2:"):
            self.assertIn(where, out)
        self.assertEqual(len(out.strip().splitlines()), 7, out)

    def test_toolkit_headers_only_in_platform_ui_and_entry_points(self):
        code, out, _ = run_on({
            "core/system/a.cpp": '// a\n#include <curl/curl.h>\n',
            "agent/b.cpp": '// b\n#include <QString>\n',
            "tools/ctl/c.cpp": '// c\n#include <systemd/sd-event.h>\n',
            "platform/linux/d.cpp": '// d\n#include <systemd/sd-event.h>\n',
            "tools/sim/main.cpp": '// e\n#include <curl/curl.h>\n',
        })
        self.assertEqual(code, 1)
        self.assertIn("core/system/a.cpp:2:", out)
        self.assertIn("agent/b.cpp:2:", out)
        self.assertIn("tools/ctl/c.cpp:2:", out)
        self.assertNotIn("platform/linux/d.cpp", out)
        self.assertNotIn("tools/sim/main.cpp", out)

    def test_comments_pass_and_test_code_in_a_shipped_tool_is_caught(self):
        code, out, _ = run_on({
            "core/system/a.cpp": '// a\n/*\n#include "agent/app_controller.h"\n*/\n// #include "pane/ui/x.h"\n',
        })
        self.assertEqual(code, 0, out)
        code, out, _ = run_on({
            "tools/service/load/load_main.cpp": '// l\n#include "tests/support/postgres_server.h"\n',
        })
        self.assertEqual(code, 1, out)
        self.assertIn("tools/service/load/load_main.cpp:2:", out)

if __name__ == "__main__":
    unittest.main()
