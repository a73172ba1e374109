"""Build hook for a wheel that carries the library.

From the repository's checkout on Linux x86-64,

    pip wheel --no-build-isolation ./bindings/python

builds the library with CMake (build/native/ here) and puts it, with the
yyjson library it links and yyjson's licence, into keldo_crypto/_libs/
(scripts/bundle-native: stripped, RUNPATH $ORIGIN). A wheel holding a
machine-code library is tagged for its platform (py3-none-linux_x86_64):
ctypes needs no particular Python, but the library needs that processor and
system.

    KELDO_CRYPTO_NATIVE_DIR=DIR  take the files from DIR, a folder made by
                                 scripts/bundle-native (no build here)
    KELDO_CRYPTO_BUNDLE=0        the pure package, which loads a library
                                 installed on the system (what a
                                 distribution's package wants)

Outside a checkout (a copy of this folder alone) the package is pure too.
"""

import os
import platform
import shutil
import subprocess
import sys

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # building without the wheel package: no wheel to tag
    bdist_wheel = None

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, "..", ".."))
BUNDLE_SCRIPT = os.path.join(TOP, "scripts", "bundle-native")


def _bundle_source():
    """Where the bundled library comes from: a folder, a build, or None."""
    if os.environ.get("KELDO_CRYPTO_BUNDLE", "1") == "0":
        return None
    given = os.environ.get("KELDO_CRYPTO_NATIVE_DIR")
    if given:
        return ("folder", os.path.abspath(given))
    if not (os.path.isfile(os.path.join(TOP, "CMakeLists.txt")) and os.path.isfile(BUNDLE_SCRIPT)):
        return None
    if sys.platform != "linux" or platform.machine() != "x86_64":
        print("keldo-crypto: bundling is done for Linux x86-64 only; building the pure package",
              file=sys.stderr)
        return None
    return ("build", os.path.join(HERE, "build", "native"))


SOURCE = _bundle_source()


def _build_library(build_dir, dest):
    subprocess.check_call([
        "cmake", "-S", TOP, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
        "-DKELDO_BUILD_TESTS=OFF", "-DKELDO_BUILD_EXAMPLES=OFF", "-DKELDO_BUILD_TOOLS=OFF",
    ])
    subprocess.check_call(["cmake", "--build", build_dir, "--target", "keldo_crypto",
                           "-j", str(os.cpu_count() or 1)])
    subprocess.check_call([BUNDLE_SCRIPT, "linux-x64", build_dir, dest])


class BuildPy(build_py):
    def run(self):
        super().run()
        dest = os.path.join(self.build_lib, "keldo_crypto", "_libs")
        # A library left in build/ by an earlier bundling build must not
        # slip into a pure package.
        shutil.rmtree(dest, ignore_errors=True)
        if SOURCE is None:
            return
        kind, where = SOURCE
        if kind == "build":
            _build_library(where, dest)
        else:
            if not os.path.isfile(os.path.join(where, "libkeldo_crypto.so.1")):
                raise SystemExit(f"keldo-crypto: {where} holds no libkeldo_crypto.so.1")
            shutil.copytree(where, dest)
        licence = os.path.join(TOP, "LICENSE")
        if os.path.isfile(licence):
            shutil.copyfile(licence, os.path.join(dest, "LICENSE.txt"))


class BinaryDistribution(Distribution):
    # Installed as platform-specific (platlib) when a library is inside.
    def has_ext_modules(self):
        return SOURCE is not None


cmdclass = {"build_py": BuildPy}

if bdist_wheel is not None:
    class BdistWheel(bdist_wheel):
        def finalize_options(self):
            super().finalize_options()
            self.root_is_pure = SOURCE is None

        def get_tag(self):
            python, abi, plat = super().get_tag()
            if SOURCE is not None:
                # Loaded with ctypes: any Python 3, one platform.
                return "py3", "none", plat
            return python, abi, plat

    cmdclass["bdist_wheel"] = BdistWheel

setup(cmdclass=cmdclass, distclass=BinaryDistribution)
