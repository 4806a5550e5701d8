#!/usr/bin/env python3
"""scripts/check-layering on planted trees, and on the repository itself.

    check_layering_test.py REPOSITORY_ROOT
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

REPOSITORY = None


def run_check(root):
    return subprocess.run([sys.executable, os.path.join(REPOSITORY, "scripts", "check-layering"), root],
                          capture_output=True, text=True)


class PlantedTree:
    """A temporary tree with the repository's own layer list."""

    def __init__(self):
        self.directory = tempfile.TemporaryDirectory(prefix="check-layering-")
        self.root = self.directory.name
        os.makedirs(os.path.join(self.root, "cmake"))
        shutil.copy(os.path.join(REPOSITORY, "cmake", "layers.txt"), os.path.join(self.root, "cmake"))

    def write(self, path, *includes):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write("#pragma once\n\n")
            for include in includes:
                f.write(f"#include {include}\n")
            f.write("\nnamespace ambrell {}\n")

    def close(self):
        self.directory.cleanup()


class CheckLayeringTest(unittest.TestCase):
    def setUp(self):
        self.tree = PlantedTree()
        self.addCleanup(self.tree.close)
        # Every layer used below exists, each including only what is below it.
        self.tree.write("platform/Base.h", "<string>")
        self.tree.write("platform/runtime/Queue.h", '"platform/Base.h"')
        self.tree.write("Ambrell/CVError.h", '"platform/Base.h"')
        self.tree.write("foundation/Service.h", '"Ambrell/CVError.h"', '"platform/runtime/Queue.h"')
        self.tree.write("data/Model.h", '"foundation/Service.h"', '"Source/AXCommon/Index.h"')
        self.tree.write("data/Model.cpp", '"data/Model.h"', '"Helper.h"')
        self.tree.write("data/Helper.h", "<vector>")
        self.tree.write("Source/AXCommon/Index.h", "<cstdint>")
        self.tree.write("tests/data/Model_test.cpp", '"data/Model.h"', '"tests/support/Fixture.h"')
        self.tree.write("tests/support/Fixture.h", '"data/Model.h"')

    def assertFails(self, *expected):
        result = run_check(self.tree.root)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        for text in expected:
            self.assertIn(text, result.stdout)
        return result.stdout

    def test_a_tree_in_layer_order_passes(self):
        result = run_check(self.tree.root)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout, "")

    def test_an_include_of_a_later_folder_is_named_with_its_file_and_line(self):
        self.tree.write("Ambrell/CVLocation.h", "<optional>", '"platform/Base.h"', '"data/Model.h"')
        output = self.assertFails('Ambrell/CVLocation.h:5: includes "data/Model.h"')
        self.assertEqual(len(output.splitlines()), 1, output)

    def test_the_search_engine_may_not_include_the_content_models_it_now_sits_below(self):
        self.tree.write("Source/AXCommon/Records.h", '"data/Model.h"')
        self.assertFails('Source/AXCommon/Records.h:3: includes "data/Model.h"')

    def test_a_relative_include_counts_where_it_lands(self):
        self.tree.write("foundation/Cache.cpp", '"../data/Helper.h"')
        self.assertFails('foundation/Cache.cpp:3: includes "../data/Helper.h"')

    def test_an_angled_include_of_a_project_header_counts_too(self):
        self.tree.write("platform/Paths.h", "<foundation/Service.h>")
        self.assertFails("platform/Paths.h:3: includes <foundation/Service.h>")

    def test_a_library_folder_may_not_include_test_fixtures(self):
        self.tree.write("foundation/Probe.h", '"tests/support/Fixture.h"')
        self.assertFails('foundation/Probe.h:3: includes "tests/support/Fixture.h"', "outside every layer")

    def test_the_mqtt_client_sees_only_the_platform(self):
        self.tree.write("livedata/mqtt/Session.h", '"platform/runtime/Queue.h"')
        self.tree.write("livedata/LiveData.h", '"livedata/mqtt/Session.h"', '"data/Model.h"')
        self.assertEqual(run_check(self.tree.root).returncode, 0)
        self.tree.write("livedata/mqtt/Codec.h", '"Ambrell/CVError.h"')
        self.assertFails('livedata/mqtt/Codec.h:3: includes "Ambrell/CVError.h"')

    def test_in_a_git_tree_new_files_are_checked_before_they_are_committed(self):
        if shutil.which("git") is None:
            self.skipTest("git is not installed")
        git = ["git", "-C", self.tree.root, "-c", "user.name=t", "-c", "user.email=t@t"]
        subprocess.run(git[:3] + ["init", "-q"], check=True)
        with open(os.path.join(self.tree.root, ".gitignore"), "w", encoding="utf-8") as f:
            f.write("ignored/\n")
        subprocess.run(git + ["add", "-A"], check=True)
        subprocess.run(git + ["commit", "-q", "-m", "planted"], check=True)
        self.assertEqual(run_check(self.tree.root).returncode, 0)
        self.tree.write("zip/Archive.h", '"routemodel/Route.h"')
        self.assertFails('zip/Archive.h:3: includes "routemodel/Route.h"')


def main():
    global REPOSITORY
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    REPOSITORY = os.path.abspath(sys.argv.pop(1))

    class RealTree(unittest.TestCase):
        def test_the_repository_passes(self):
            result = run_check(REPOSITORY)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    suite = unittest.TestSuite()
    loader = unittest.TestLoader()
    suite.addTests(loader.loadTestsFromTestCase(CheckLayeringTest))
    suite.addTests(loader.loadTestsFromTestCase(RealTree))
    outcome = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if outcome.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
