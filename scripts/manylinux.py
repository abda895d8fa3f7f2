"""Prints the wheel platform tag of the oldest manylinux policy (PEP 600)
that a shared library meets: the libraries it needs are among those every
such system has, and no symbol it takes from them is of a newer version than
the policy's. Exits 1, naming the symbol, when none is met.

    python3 scripts/manylinux.py libtavsn_server.so.1.3.0   # manylinux_2_34_x86_64"""
import re
import subprocess
import sys

# The newest symbol version each policy allows, by library, for x86_64 and
# i686 (the policies of auditwheel, the tool package indexes apply).
POLICIES = {
    "manylinux_2_5": {"GLIBC": (2, 5), "CXXABI": (1, 3, 1), "GLIBCXX": (3, 4, 9), "GCC": (4, 2, 0)},
    "manylinux_2_12": {"GLIBC": (2, 12), "CXXABI": (1, 3, 3), "GLIBCXX": (3, 4, 13), "GCC": (4, 5, 0)},
    "manylinux_2_17": {"GLIBC": (2, 17), "CXXABI": (1, 3, 7), "GLIBCXX": (3, 4, 19), "GCC": (4, 8, 0)},
    "manylinux_2_24": {"GLIBC": (2, 24), "CXXABI": (1, 3, 10), "GLIBCXX": (3, 4, 22), "GCC": (6, 0, 0)},
    "manylinux_2_27": {"GLIBC": (2, 27), "CXXABI": (1, 3, 11), "GLIBCXX": (3, 4, 24), "GCC": (7, 0, 0)},
    "manylinux_2_28": {"GLIBC": (2, 28), "CXXABI": (1, 3, 11), "GLIBCXX": (3, 4, 24), "GCC": (7, 0, 0)},
    "manylinux_2_31": {"GLIBC": (2, 31), "CXXABI": (1, 3, 12), "GLIBCXX": (3, 4, 28), "GCC": (9, 0, 0)},
    "manylinux_2_34": {"GLIBC": (2, 34), "CXXABI": (1, 3, 13), "GLIBCXX": (3, 4, 29), "GCC": (7, 0, 0)},
}
# What every manylinux system provides; anything else would have to be
# inside the wheel.
SYSTEM_LIBRARIES = {"libc.so.6", "libm.so.6", "libgcc_s.so.1", "libstdc++.so.6", "libpthread.so.0", "libdl.so.2",
                    "librt.so.1", "ld-linux-x86-64.so.2", "ld-linux.so.2"}
MACHINES = {"X86-64": "x86_64", "Intel 80386": "i686"}


def needed_libraries(path):
    dynamic = subprocess.run(["readelf", "-dW", path], check=True, capture_output=True, text=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)


def symbol_versions(path):
    """{(namespace, version tuple)} of the undefined symbols' versions."""
    table = subprocess.run(["objdump", "-T", path], check=True, capture_output=True, text=True).stdout
    found = set()
    for line in table.splitlines():
        if "*UND*" not in line:
            continue
        match = re.search(r"\b(GLIBC|CXXABI|GLIBCXX|GCC)_([\d.]+)\b", line)
        if match:
            found.add((match.group(1), tuple(int(part) for part in match.group(2).split("."))))
    return found


def machine(path):
    header = subprocess.run(["readelf", "-hW", path], check=True, capture_output=True, text=True).stdout
    described = re.search(r"Machine:\s+(.*)", header).group(1)
    return next(tag for name, tag in MACHINES.items() if name in described)


def violations(policy, libraries, versions):
    """Why the library does not meet the policy: [] when it does."""
    limits = POLICIES[policy]
    return ([f"needs {name}" for name in libraries if name not in SYSTEM_LIBRARIES] +
            [f"{space}_{'.'.join(map(str, version))}" for space, version in sorted(versions)
             if version > limits[space]])


def oldest_policy(path):
    libraries, versions = needed_libraries(path), symbol_versions(path)
    for policy in POLICIES:
        if not violations(policy, libraries, versions):
            return policy
    sys.exit(f"{path} meets no manylinux policy: {', '.join(violations(list(POLICIES)[-1], libraries, versions))}")


if __name__ == "__main__":
    print(f"{oldest_policy(sys.argv[1])}_{machine(sys.argv[1])}")
