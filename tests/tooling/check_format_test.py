#!/usr/bin/env python3
"""scripts/check-format on planted trees that carry the repository's .clang-format.

    check_format_test.py REPOSITORY_ROOT

Exits 77 (skipped) when no clang-format is installed.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

REPOSITORY = None

FORMATTED = """#pragma once

#include <string>

namespace ambrell {

class Greeter {
public:
    explicit Greeter(std::string name) : name_(std::move(name)) {}

    [[nodiscard]] std::string greeting() const;

private:
    std::string name_;
};

}  // namespace ambrell
"""

UNFORMATTED = """#pragma once

namespace ambrell {
  int  twice( int value ){return value*2;}
}
"""


def run_check(root):
    return subprocess.run([sys.executable, os.path.join(REPOSITORY, "scripts", "check-format"), root],
                          capture_output=True, text=True)


class CheckFormatTest(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory(prefix="check-format-")
        self.addCleanup(directory.cleanup)
        self.root = directory.name
        shutil.copy(os.path.join(REPOSITORY, ".clang-format"), self.root)

    def write(self, path, text):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)

    def test_formatted_files_pass(self):
        self.write("foundation/Greeter.h", FORMATTED)
        self.write("tests/foundation/Greeter_test.cpp", '#include "foundation/Greeter.h"\n')
        result = run_check(self.root)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout, "")

    def test_an_unformatted_file_fails_by_name_and_alone(self):
        self.write("foundation/Greeter.h", FORMATTED)
        self.write("data/Twice.h", UNFORMATTED)
        result = run_check(self.root)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertEqual(result.stdout.splitlines(), ["data/Twice.h: not formatted"])

    def test_files_outside_the_sources_and_build_folders_are_left_alone(self):
        self.write("foundation/Greeter.h", FORMATTED)
        self.write("notes/Twice.txt", UNFORMATTED)
        self.write("build/asan/Twice.h", UNFORMATTED)
        result = run_check(self.root)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_in_a_git_tree_ignored_files_are_left_alone_and_new_ones_checked(self):
        if shutil.which("git") is None:
            self.skipTest("git is not installed")
        self.write("foundation/Greeter.h", FORMATTED)
        self.write(".gitignore", "generated/\n")
        self.write("generated/Twice.h", UNFORMATTED)
        subprocess.run(["git", "-C", self.root, "init", "-q"], check=True)
        self.assertEqual(run_check(self.root).returncode, 0)
        self.write("zip/Twice.cpp", UNFORMATTED)
        result = run_check(self.root)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertEqual(result.stdout.splitlines(), ["zip/Twice.cpp: not formatted"])


def main():
    global REPOSITORY
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    REPOSITORY = os.path.abspath(sys.argv.pop(1))
    if not (os.environ.get("CLANG_FORMAT") or shutil.which("clang-format-14") or shutil.which("clang-format")):
        print("clang-format is not installed (scripts/install-deps installs it)")
        return 77
    suite = unittest.TestLoader().loadTestsFromTestCase(CheckFormatTest)
    outcome = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if outcome.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
