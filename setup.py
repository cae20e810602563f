"""Builds the wheel of the Python module through the project's CMake.

The package and the project's shared libraries it loads come from the CMake
install component python_wheel (python/wheel.cmake): the package zfit/
(__init__.py and the compiled zfit._zfit) at the top of the wheel, the
libraries in zfit.libs/ beside it.

Environment:
  ZFIT_CMAKE_BUILD_DIR  a CMake build tree already configured for this
                        interpreter (such as build/release): only the module
                        is brought up to date there, nothing is configured
  CMAKE_ARGS            further arguments for the CMake configure step
  CMAKE_GENERATOR, CMAKE_BUILD_PARALLEL_LEVEL  as CMake reads them
"""
import os
import re
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
GIVEN_BUILD_DIR = os.environ.get("ZFIT_CMAKE_BUILD_DIR")


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as cmake_lists:
        return re.search(r"project\(zfit VERSION ([0-9.]+)", cmake_lists.read()).group(1)


def keep_one_file_per_library(folder):
    """Wheels hold no symbolic links: each library's name (its soname, the
    link) becomes the file itself, and the versioned file goes."""
    for name in os.listdir(folder):
        link = os.path.join(folder, name)
        if os.path.islink(link):
            target = os.path.join(folder, os.readlink(link))
            os.unlink(link)
            os.replace(target, link)


class CMakeBuild(build_ext):
    """Builds the module with CMake and installs the wheel's component into
    the folder the wheel is made from."""

    def build_extension(self, ext):
        build_dir = GIVEN_BUILD_DIR or os.path.join(os.path.abspath(self.build_temp), "cmake")
        if not GIVEN_BUILD_DIR:
            self.configure(build_dir)
        jobs = [] if "CMAKE_BUILD_PARALLEL_LEVEL" in os.environ else ["--parallel", str(os.cpu_count() or 1)]
        subprocess.run(["cmake", "--build", build_dir, "--target", "zfit_python", *jobs], check=True)

        module = os.path.abspath(self.get_ext_fullpath(ext.name))
        staging = os.path.dirname(os.path.dirname(module))
        shutil.rmtree(os.path.join(staging, "zfit.libs"), ignore_errors=True)
        subprocess.run(["cmake", "--install", build_dir, "--component", "python_wheel", "--prefix", staging],
                       check=True)
        keep_one_file_per_library(os.path.join(staging, "zfit.libs"))
        if not os.path.exists(module):
            sys.exit("zfit: %s holds no module named %s: is it configured for %s?"
                     % (build_dir, os.path.basename(module), sys.executable))

    @staticmethod
    def configure(build_dir):
        generator = [] if "CMAKE_GENERATOR" in os.environ or not shutil.which("ninja") else ["-G", "Ninja"]
        subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, *generator,
                        "-DCMAKE_BUILD_TYPE=Release",
                        "-DZFIT_BUILD_TESTS=OFF", "-DZFIT_BUILD_BENCH=OFF", "-DZFIT_BUILD_TOOLS=OFF",
                        "-DZFIT_PYTHON_REQUIRED=ON", "-DPython_EXECUTABLE=" + sys.executable,
                        *shlex.split(os.environ.get("CMAKE_ARGS", ""))], check=True)


# setuptools' own scratch folders (and its zfit.egg-info) stay inside a build
# folder: beside the given CMake tree, or under build/ of the source tree.
build_base = os.path.join(GIVEN_BUILD_DIR or os.path.join(ROOT, "build"), "python-package")
os.makedirs(build_base, exist_ok=True)

setup(
    version=project_version(),
    ext_modules=[Extension("zfit._zfit", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": build_base}, "egg_info": {"egg_base": build_base}},
)
