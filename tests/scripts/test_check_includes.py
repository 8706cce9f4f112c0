#!/usr/bin/env python3
"""The include check passes a tree that keeps to the layers and fails each kind
of bad include, in small trees of its own."""

import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                     "check_includes.py")

SOUND = {
    "platform/Waits.h": "#pragma once\n#include <chrono>\n",
    "core/State.h": '#pragma once\n#include "platform/Waits.h"\n',
    "render/Gl.h": '#pragma once\n#include "core/State.h"\n#include <EGL/egl.h>\n',
    "render/Gl.cpp": '#include "render/Gl.h"\n  #  include "platform/Waits.h"\n',
    "resources/Res.h": "#pragma once\n",
    "ui/Window.cpp": '#include "resources/Res.h"\n#include "render/Gl.h"\n',
}


def check(extra):
    with tempfile.TemporaryDirectory() as root:
        for name, text in {**SOUND, **extra}.items():
            os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        run = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
        return run.returncode, run.stdout


class IncludeCheck(unittest.TestCase):
    def test_sound_tree_passes(self):
        self.assertEqual(check({}), (0, "includes of 6 files keep to the layers\n"))

    def test_each_bad_include_fails(self):
        cases = {
            "core/Up.cpp": ('#include "render/Gl.h"\n', "core/ may not include render/"),
            "core/Angle.cpp": ("#include <render/Gl.h>\n", "core/ may not include render/"),
            "render/Res.cpp": ('#include "resources/Res.h"\n', "render/ may not include resources/"),
            "core/Climb.cpp": ('#include "../render/Gl.h"\n', "climbs"),
            "render/Dot.cpp": ('#include "render/../core/State.h"\n', "climbs"),
            "render/Gone.cpp": ('#include "render/Nope.h"\n', "no such file in render/"),
            "render/Bare.cpp": ('#include "Gl.h"\n', "names no layer folder"),
            "net/Net.cpp": ('#include "core/State.h"\n', "net/: a folder of sources missing"),
        }
        for name, (text, says) in cases.items():
            with self.subTest(name):
                code, out = check({name: text})
                self.assertEqual(code, 1, out)
                self.assertIn(says, out)
                self.assertEqual(out.count("\n"), 2, out)  # that fault and the count


if __name__ == "__main__":
    unittest.main()
