"""Prints the pyproject.toml of the tavsn_server wheel and sdist: the
metadata package indexes show (the README as the long description, the
project's links from release.conf, classifiers).

    python3 scripts/pyproject.py VERSION scripts/release.conf wheel|sdist

The wheel's tree holds the package tavsn_server, built; the sdist's the
sources, from which its setup.py builds the package."""
import sys

version, conf, kind = sys.argv[1:4]
links = dict(line.strip().split("=", 1) for line in open(conf) if "=" in line and not line.startswith("#"))
print(f'''[build-system]
requires = ["setuptools>=61", "wheel"]
build-backend = "setuptools.build_meta"

[project]
name = "tavsn_server"
version = "{version}"
description = "Decode, verify and compare tavsn machine identifiers on a licence server"
readme = {{file = "README.md", content-type = "text/markdown"}}
requires-python = ">=3.7"
license = {{text = "MIT"}}
authors = [{{name = "the tavsn developers"}}]
keywords = ["licensing", "machine-id", "hardware-id", "fingerprint"]
classifiers = [
    "Development Status :: 5 - Production/Stable",
    "Intended Audience :: Developers",
    "License :: OSI Approved :: MIT License",
    "Operating System :: POSIX :: Linux",
    "Programming Language :: Python :: 3",
    "Programming Language :: Python :: 3 :: Only",
    "Topic :: System :: Systems Administration",
    "Typing :: Typed",
]

[project.urls]
Homepage = "{links['homepage']}"
Source = "{links['homepage']}"
Issues = "{links['issues']}"
Changelog = "{links['homepage']}/blob/main/CHANGELOG.md"

[tool.setuptools]
zip-safe = false
license-files = ["LICENSE"]''')
if kind == "wheel":
    print('''packages = ["tavsn_server"]

[tool.setuptools.package-data]
tavsn_server = ["py.typed", "libtavsn_server.so.*"]''')
