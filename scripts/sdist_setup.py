"""setup.py of the tavsn_server sdist (scripts/server_packages.sh puts it at
the sdist's top): building a wheel from it builds the library with CMake, as
the Linux package build does, and puts it beside the module as the package
tavsn_server, with the module's __version__ this release's. Needs CMake and
a C++20 compiler."""
import os
import pathlib
import re
import subprocess

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

HERE = pathlib.Path(__file__).resolve().parent
VERSION = re.search(r"project\(tavsn VERSION (\S+)", (HERE / "CMakeLists.txt").read_text()).group(1)


class BuildWithCMake(build_py):
    def run(self):
        build = HERE / "build" / "sdist-cmake"
        subprocess.run(["cmake", "-S", str(HERE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DTAVSN_LINUX_PACKAGE=ON"], check=True)
        subprocess.run(["cmake", "--build", str(build), "-j", str(os.cpu_count() or 1), "--target",
                        "tavsn_server_shared"], check=True)
        package = pathlib.Path(self.build_lib) / "tavsn_server"
        package.mkdir(parents=True, exist_ok=True)
        module = (build / "python" / "tavsn_server.py").read_text()
        (package / "__init__.py").write_text(module)
        (package / "py.typed").touch()
        soname = "libtavsn_server.so." + VERSION.split(".")[0]
        (package / soname).write_bytes((build / "server" / ("libtavsn_server.so." + VERSION)).read_bytes())


class BinaryDistribution(Distribution):
    def has_ext_modules(self):
        return True  # the library inside makes the wheel platform-specific

    def has_pure_modules(self):
        return True  # so that build runs build_py, which makes the package


setup(cmdclass={"build_py": BuildWithCMake}, distclass=BinaryDistribution, packages=[])
