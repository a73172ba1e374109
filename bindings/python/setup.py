"""Build hook: the compiled module keldo_crypto._ext, and a wheel that
carries the library.

From the repository's checkout on Linux x86-64,

    pip wheel --no-build-isolation ./bindings/python

compiles _ext (keldo_crypto/_ext.c, CPython's Limited API for 3.9 and
later: one abi3 build for every such Python), builds the library with CMake
(build/native/ here) and puts it, with the yyjson library it links and
yyjson's licence, into keldo_crypto/_libs/ (scripts/bundle-native:
stripped, RUNPATH $ORIGIN). The wheel is tagged cp39-abi3-linux_x86_64:
any CPython from 3.9 on, that processor and system.

What the build needs is checked before anything is built: a C compiler and
Python's headers always (Debian: gcc, python3-dev), and for the bundled
library CMake, a C++ compiler, yyjson's headers, patchelf, strip and readelf
(scripts/bootstrap python installs them all).

    KELDO_CRYPTO_NATIVE_DIR=DIR  take the library from DIR, a folder made by
                                 scripts/bundle-native (no build here)
    KELDO_CRYPTO_BUNDLE=0        no library inside: the package loads one
                                 installed on the system (what a
                                 distribution's package wants)
    KELDO_CRYPTO_INCLUDE_DIR=DIR where keldo_crypto.h is, for a copy of this
                                 folder outside a checkout (which bundles no
                                 library either)
"""

import os
import platform
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # building without the wheel package: no wheel to tag
    bdist_wheel = None

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, "..", ".."))
BUNDLE_SCRIPT = os.path.join(TOP, "scripts", "bundle-native")
IN_CHECKOUT = os.path.isfile(os.path.join(TOP, "CMakeLists.txt")) and os.path.isfile(BUNDLE_SCRIPT)
# The oldest Python the module is built for: the Limited API of 3.9.
LIMITED_API = "0x03090000"
ABI3_TAG = "cp39"


def _fail(message):
    raise SystemExit(f"keldo-crypto: {message}")


def _bundle_source():
    """Where the bundled library comes from: a folder, a build, or None."""
    if os.environ.get("KELDO_CRYPTO_BUNDLE", "1") == "0":
        return None
    given = os.environ.get("KELDO_CRYPTO_NATIVE_DIR")
    if given:
        return ("folder", os.path.abspath(given))
    if not IN_CHECKOUT:
        return None
    if sys.platform != "linux" or platform.machine() != "x86_64":
        print("keldo-crypto: bundling is done for Linux x86-64 only; the package will load "
              "an installed library", file=sys.stderr)
        return None
    return ("build", os.path.join(HERE, "build", "native"))


SOURCE = _bundle_source()


def _include_dir():
    given = os.environ.get("KELDO_CRYPTO_INCLUDE_DIR")
    where = os.path.abspath(given) if given else os.path.join(TOP, "include")
    if not os.path.isfile(os.path.join(where, "keldo_crypto.h")):
        _fail(f"keldo_crypto.h not found in {where}: build from the repository's checkout, "
              "or set KELDO_CRYPTO_INCLUDE_DIR to the folder that holds it")
    return where


def _preflight(bundling_build):
    """Everything the build will run, named at once rather than as a
    traceback deep in the build."""
    missing = []
    header = os.path.join(sysconfig.get_paths()["include"], "Python.h")
    if not os.path.isfile(header):
        missing.append(f"Python's headers ({header}; Debian: python3-dev)")
    cc = os.environ.get("CC") or sysconfig.get_config_var("CC") or "cc"
    if shutil.which(cc.split()[0]) is None:
        missing.append(f"a C compiler ({cc}; Debian: gcc)")
    if bundling_build:
        for tool, package in (("cmake", "cmake"), ("c++", "g++"), ("patchelf", "patchelf"),
                              ("strip", "binutils"), ("readelf", "binutils")):
            if shutil.which(tool) is None:
                missing.append(f"{tool} (Debian: {package})")
    if missing:
        _fail("cannot build the package; missing: " + "; ".join(missing)
              + (". From a checkout, scripts/bootstrap python installs them." if IN_CHECKOUT else ""))


def _build_library(build_dir, dest):
    subprocess.check_call([
        "cmake", "-S", TOP, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
        "-DKELDO_BUILD_TESTS=OFF", "-DKELDO_BUILD_EXAMPLES=OFF", "-DKELDO_BUILD_TOOLS=OFF",
    ])
    subprocess.check_call(["cmake", "--build", build_dir, "--target", "keldo_crypto",
                           "-j", str(os.cpu_count() or 1)])
    subprocess.check_call([BUNDLE_SCRIPT, "linux-x64", build_dir, dest])


class BuildExt(build_ext):
    def run(self):
        _preflight(SOURCE is not None and SOURCE[0] == "build")
        for ext in self.extensions:
            ext.include_dirs.append(_include_dir())
        super().run()


class BuildPy(build_py):
    def run(self):
        super().run()
        dest = os.path.join(self.build_lib, "keldo_crypto", "_libs")
        # A library left in build/ by an earlier bundling build must not
        # slip into a package without one.
        shutil.rmtree(dest, ignore_errors=True)
        if SOURCE is None:
            return
        kind, where = SOURCE
        if kind == "build":
            _preflight(True)
            _build_library(where, dest)
        else:
            if not os.path.isfile(os.path.join(where, "libkeldo_crypto.so.1")):
                _fail(f"{where} holds no libkeldo_crypto.so.1")
            shutil.copytree(where, dest)
        licence = os.path.join(TOP, "LICENSE")
        if os.path.isfile(licence):
            shutil.copyfile(licence, os.path.join(dest, "LICENSE.txt"))


ext = Extension(
    "keldo_crypto._ext",
    sources=["keldo_crypto/_ext.c"],
    define_macros=[("Py_LIMITED_API", LIMITED_API)],
    py_limited_api=True,
)

cmdclass = {"build_py": BuildPy, "build_ext": BuildExt}

if bdist_wheel is not None:
    class BdistWheel(bdist_wheel):
        def finalize_options(self):
            # The module uses the Limited API of 3.9: one wheel for 3.9 on.
            self.py_limited_api = ABI3_TAG
            super().finalize_options()

    cmdclass["bdist_wheel"] = BdistWheel

setup(cmdclass=cmdclass, ext_modules=[ext])
