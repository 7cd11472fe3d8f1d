#!/usr/bin/env python3
"""Both package manifests against the CMake files: format 3, valid, and every catkin package that a
CMake file finds or exports declared with the dependency types rosdep and the buildfarm read.

Usage: package_xml_test.py REPO_ROOT"""
import pathlib
import re
import sys
import unittest

from catkin_pkg.package import parse_package

ROOT = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else ".").resolve()
PACKAGES = ["tavo_msg", "tavo_hal"]
KEYWORDS = {"REQUIRED", "QUIET", "COMPONENTS", "CONFIG", "NO_MODULE", "EXACT"}


def in_own_project(path, package_dir):
    """True when PATH belongs to a separate CMake project inside the package (a downstream user)."""
    for folder in path.parents:
        if folder == package_dir:
            return False
        lists = folder / "CMakeLists.txt"
        if lists.exists() and "project(" in lists.read_text():
            return True
    return False


def cmake_files(package_dir):
    return [f for f in sorted(package_dir.rglob("*"))
            if f.is_file() and (f.name == "CMakeLists.txt" or f.suffix == ".cmake")
            and not in_own_project(f, package_dir)]


def arguments_after(keyword, text):
    """The words after KEYWORD up to the next upper-case keyword."""
    words = text.split()
    if keyword not in words:
        return []
    found = []
    for word in words[words.index(keyword) + 1:]:
        if re.fullmatch(r"[A-Z_]+", word):
            break
        found.append(word)
    return found


def found_catkin_components(text):
    components = []
    for call in re.findall(r"find_package\(\s*catkin\b([^)]*)\)", text):
        components += [w for w in arguments_after("COMPONENTS", call) if w not in KEYWORDS]
    return components


def exported_catkin_depends(text):
    exported = []
    for call in re.findall(r"catkin_package\(([^)]*)\)", text):
        exported += arguments_after("CATKIN_DEPENDS", call)
    return exported


class PackageManifests(unittest.TestCase):
    def manifest(self, name):
        warnings = []
        package = parse_package(str(ROOT / name), warnings=warnings)
        package.validate(warnings=warnings)
        self.assertEqual(warnings, [], f"{name}/package.xml")
        self.assertEqual(package.package_format, 3, f"{name}/package.xml")
        return package

    def test_every_found_and_exported_catkin_package_is_declared(self):
        for name in PACKAGES:
            with self.subTest(package=name):
                self.check_declared(name)

    def check_declared(self, name):
        package = self.manifest(name)
        build = {d.name for d in package.build_depends}
        tests = {d.name for d in package.test_depends}
        exports = {d.name for d in package.build_export_depends}
        runs = {d.name for d in package.exec_depends}
        for cmake in cmake_files(ROOT / name):
            text = cmake.read_text()
            needed = build | tests if "test" in cmake.relative_to(ROOT / name).parts else build
            for component in found_catkin_components(text):
                self.assertIn(component, needed, f"{cmake.relative_to(ROOT)} finds {component}")
            for depend in exported_catkin_depends(text):
                self.assertIn(depend, exports, f"{cmake.relative_to(ROOT)} exports {depend}")
                self.assertIn(depend, runs, f"{cmake.relative_to(ROOT)} exports {depend}")

    def test_the_parser_sees_the_calls(self):
        # Guards the test itself: a parser that finds nothing would pass everything above.
        text = (ROOT / "tavo_hal" / "CMakeLists.txt").read_text()
        self.assertIn("roscpp", found_catkin_components(text))
        self.assertIn("tavo_msg", exported_catkin_depends(text))
        self.assertEqual(found_catkin_components("find_package(catkin REQUIRED COMPONENTS a b)\n"), ["a", "b"])
        self.assertEqual(arguments_after("CATKIN_DEPENDS", "CATKIN_DEPENDS x y\n CFG_EXTRAS z"), ["x", "y"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
