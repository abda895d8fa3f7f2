#!/usr/bin/env python3
"""Random argument lists against the tool's contract, not its texts: the exit
code is one the README documents, --json gives exactly one JSON document
with that exit code, and no control character of an argument reaches the
output raw.

    python3 tests/cli/test_cli_properties.py --tool build/native/tavsn [--runs N] [--seed S]
"""
import argparse
import json
import random
import subprocess
import sys

IDS = ["TQ1101020011263744550B3B2B5B4B7B", "TQ110101001126374455110037265544", "TQ1221000A1B7B480E00B8FF26006C9C",
       "TQ1221000A1B7B470E00B90026006C9C", "TQ1225000A1B7B48160072C626006C9C", "TQ1221000A1B7B480E00B8FF26006C9D"]
WORDS = ["decode", "verify", "compare", "decod", "--json", "--help", "-h", "-v", "--", "-", "", "--trace", "--bogus",
         "--mac", "--mac=0A1B2C3D4E5F", "0A:1B:2C:3D:4E:5F", "zz", "--list-order", "given", "sorted", "--mac-source",
         "0", "1", "2", "--cpu-text", "--serial", "--uuid-text", "33221100-77665544-bbaa9988-ffeeddcc", "--policy",
         "count", "evidence", "--max-changed", "4", "99", "-1", "--must-keep", "mac,processor", "cpu", "--json=1",
         "--version"]
# Each is a control character, a line separator or a direction override.
CONTROLS = ["\n", "\r", "\t", "\x1b", "\x7f", "\x08", "\u0085", "\u009b", "\u2028", "\u202e"]
DOCUMENTED_EXIT_CODES = range(0, 8)


def random_argument(rng):
    choice = rng.random()
    if choice < 0.35:
        return rng.choice(WORDS)
    text = rng.choice(IDS)
    if choice < 0.6:
        return text
    position = rng.randrange(len(text) + 1)
    insert = rng.choice(CONTROLS + ["\u00e9", "g", "0", "\U0001F600", "TQ11"])
    return text[:position] + insert + text[position + rng.random() < 0.5:]


VALUE_OPTIONS = {"--mac", "--list-order", "--mac-source", "--cpu-text", "--serial", "--uuid-text", "--policy",
                 "--max-changed", "--must-keep"}


def json_requested(args):
    """Whether --json stands as an option: not after "--", not as the value
    of an option before it (GNU conventions)."""
    taking_value = False
    for a in args:
        if taking_value:
            taking_value = False
        elif a == "--":
            return False
        elif a == "--json":
            return True
        else:
            taking_value = a in VALUE_OPTIONS
    return False


def check(tool, args):
    done = subprocess.run([tool, *args], capture_output=True, timeout=30)
    problems = []
    if done.returncode not in DOCUMENTED_EXIT_CODES:
        problems.append(f"exit code {done.returncode}")
    output = (done.stdout + done.stderr).decode("utf-8", "replace")
    for a in args:
        for control in CONTROLS:
            # The tool's own lines end in newlines; an argument's are escaped.
            leaked = a in output if control == "\n" else control in output
            if control in a and leaked:
                problems.append(f"control character {control!r} of an argument reached the output")
    if json_requested(args):
        try:
            document = json.loads(done.stdout)
            if document.get("exit_code") != done.returncode:
                problems.append("the document's exit_code differs")
        except ValueError as error:
            problems.append(f"no single JSON document: {error}")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runs", type=int, default=400)
    parser.add_argument("--seed", type=int, default=17)
    options = parser.parse_args()
    rng = random.Random(options.seed)
    failed = 0
    for _ in range(options.runs):
        args = [random_argument(rng) for _ in range(rng.randrange(0, 6))]
        problems = check(options.tool, args)
        if problems:
            failed += 1
            print(f"FAIL {args!r}: {'; '.join(problems)}")
    print(f"{options.runs - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
