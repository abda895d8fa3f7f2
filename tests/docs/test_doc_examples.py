#!/usr/bin/env python3
"""Runs the examples of README.md and docs/*.md against the built tool,
server library and Python module, so that a page that drifts from the code
fails.

- A tool example is an indented block (4 spaces) with lines that start with
  "$ tavsn ": each such command runs with the built tool; the lines after
  it, up to the next "$ " line or the block's end, are its exact standard
  output, where a line "..." stands for any lines (none included) and a
  last line "(exit N)" gives a non-zero exit code.
- A fenced c or python block preceded by the line "<!-- example: run -->" is
  compiled with the system C compiler against include/tavsn_server.h and the
  built library and run, or run with the Python module importable; it must
  exit with 0.
- "<!-- example: not run: REASON -->" marks one that cannot run here. Every
  fenced c, python and csharp block carries one of the two markers.
- Every link to a file of the repository, or to a heading of a page, leads
  somewhere.

    python3 tests/docs/test_doc_examples.py --source . --tool build/linux/tavsn \
        --library build/linux/server/libtavsn_server.so"""
import argparse
import os
import pathlib
import re
import shlex
import subprocess
import sys
import tempfile

CHECKED_LANGUAGES = ("c", "python", "csharp")
RUN_MARKER = "<!-- example: run -->"
NOT_RUN_MARKER = re.compile(r"<!-- example: not run: (\S.*?) -->$")
EXIT_LINE = re.compile(r"\(exit (\d+)\)$")


class Example:
    def __init__(self, page, line, kind, text, expected=None, exit_code=0):
        self.page, self.line, self.kind, self.text = page, line, kind, text
        self.expected, self.exit_code = expected, exit_code

    def where(self):
        return "%s:%d" % (self.page, self.line)


def fenced_blocks(lines):
    """(index of the opening fence, language, body lines) of each fenced block."""
    index = 0
    while index < len(lines):
        opening = re.match(r"```(\S*)\s*$", lines[index])
        if not opening:
            index += 1
            continue
        end = index + 1
        while end < len(lines) and not lines[end].startswith("```"):
            end += 1
        yield index, opening.group(1), lines[index + 1:end]
        index = end + 1


def marker_before(lines, index):
    """The nearest non-blank line above a fence."""
    index -= 1
    while index >= 0 and not lines[index].strip():
        index -= 1
    return lines[index].strip() if index >= 0 else ""


def indented_blocks(lines, fenced):
    """(index of the first line, lines without their indent) of each indented
    block outside fences; blank lines inside a block belong to it."""
    index = 0
    while index < len(lines):
        if index in fenced or not lines[index].startswith("    ") or (index > 0 and lines[index - 1].strip()):
            index += 1
            continue
        start, block = index, []
        while index < len(lines) and (lines[index].startswith("    ") or not lines[index].strip()):
            block.append(lines[index][4:])
            index += 1
        while block and not block[-1].strip():
            block.pop()
        yield start, block


def tool_examples(page, start, block):
    """The commands of an indented block with their expected output."""
    commands = [i for i, line in enumerate(block) if line.startswith("$ ")]
    for number, at in enumerate(commands):
        end = commands[number + 1] if number + 1 < len(commands) else len(block)
        expected = block[at + 1:end]
        exit_code = 0
        if expected and EXIT_LINE.match(expected[-1]):
            exit_code = int(EXIT_LINE.match(expected[-1]).group(1))
            expected = expected[:-1]
        yield Example(page, start + at + 1, "tool", block[at][2:], expected, exit_code)


def page_examples(page, text, problems):
    lines = text.split("\n")
    examples, fenced = [], set()
    for index, language, body in fenced_blocks(lines):
        fenced.update(range(index, index + len(body) + 2))
        if language not in CHECKED_LANGUAGES:
            continue
        marker = marker_before(lines, index)
        if marker == RUN_MARKER:
            if language == "csharp":
                problems.append("%s:%d: a csharp block cannot run here; mark it not run" % (page, index + 1))
            else:
                examples.append(Example(page, index + 1, language, "\n".join(body) + "\n"))
        elif not NOT_RUN_MARKER.match(marker):
            problems.append("%s:%d: a %s block without '%s' or '<!-- example: not run: REASON -->' above it" %
                            (page, index + 1, language, RUN_MARKER))
    for start, block in indented_blocks(lines, fenced):
        examples.extend(tool_examples(page, start, block))
    return examples


def heading_anchor(heading):
    """The anchor a Markdown renderer gives a heading: lower case, words
    joined by hyphens, punctuation dropped."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def broken_links(source, page, text):
    """Links to a file of the repository, or to a heading of a page, that
    lead nowhere: pages are added and renamed by several hands."""
    problems = []
    for number, line in enumerate(text.split("\n"), 1):
        for target in re.findall(r"\]\(([^)\s]+)\)", line):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            linked = (source / page).parent / path if path else source / page
            if not linked.exists():
                problems.append("%s:%d: the link %s leads to no file" % (page, number, target))
            elif anchor and linked.suffix == ".md":
                headings = re.findall(r"^#+ (.*)$", linked.read_text(encoding="utf-8"), re.M)
                if anchor not in {heading_anchor(h) for h in headings}:
                    problems.append("%s:%d: the link %s leads to no heading" % (page, number, target))
    return problems


def output_matches(expected, actual):
    """Line by line; a line "..." stands for any lines, none included."""
    if not expected:
        return not actual
    if expected[0] == "...":
        return any(output_matches(expected[1:], actual[skip:]) for skip in range(len(actual) + 1))
    return bool(actual) and expected[0] == actual[0] and output_matches(expected[1:], actual[1:])


class Runner:
    def __init__(self, source, tool, library, scratch):
        self.source, self.tool, self.scratch = source, tool, scratch
        self.library_dir = library.parent
        self.env = dict(os.environ, PYTHONPATH=str(source / "bindings/python"), TAVSN_SERVER_LIBRARY=str(library),
                        LC_ALL="C.UTF-8")

    def run(self, example):
        """None when the example does what its page says, else what it did."""
        return getattr(self, "run_" + example.kind)(example)

    def run_tool(self, example):
        words = shlex.split(example.text)
        if not words or words[0] != "tavsn":
            return "a command of an example runs the tool: it begins with 'tavsn'"
        done = subprocess.run([str(self.tool)] + words[1:], capture_output=True, text=True, env=self.env,
                              cwd=self.scratch, timeout=60)
        actual = done.stdout.split("\n")
        if actual and actual[-1] == "":
            actual.pop()
        if done.returncode != example.exit_code or not output_matches(example.expected, actual):
            return "exit code %d (page: %d); standard output:\n%s\nstandard error:\n%s" % (
                done.returncode, example.exit_code, done.stdout, done.stderr)
        return None

    def run_c(self, example):
        program = pathlib.Path(self.scratch) / "example"
        source = program.with_suffix(".c")
        source.write_text(example.text)
        compiled = subprocess.run(
            [os.environ.get("CC", "cc"), "-std=c99", "-Wall", "-Werror", "-I", str(self.source / "include"),
             str(source), "-o", str(program), "-L", str(self.library_dir), "-Wl,-rpath," + str(self.library_dir),
             "-ltavsn_server"], capture_output=True, text=True)
        if compiled.returncode != 0:
            return "does not compile:\n" + compiled.stderr
        return self.outcome(subprocess.run([str(program)], capture_output=True, text=True, env=self.env,
                                           cwd=self.scratch, timeout=60))

    def run_python(self, example):
        return self.outcome(subprocess.run([sys.executable, "-c", example.text], capture_output=True, text=True,
                                           env=self.env, cwd=self.scratch, timeout=60))

    @staticmethod
    def outcome(done):
        if done.returncode == 0:
            return None
        return "exit code %d; standard output:\n%s\nstandard error:\n%s" % (done.returncode, done.stdout, done.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True, type=pathlib.Path)
    parser.add_argument("--tool", required=True, type=pathlib.Path, help="the built tavsn")
    parser.add_argument("--library", required=True, type=pathlib.Path, help="the built libtavsn_server.so")
    args = parser.parse_args()
    source = args.source.resolve()
    pages = [source / "README.md"] + sorted((source / "docs").glob("*.md"))
    problems, examples = [], []
    for page in pages:
        name, text = str(page.relative_to(source)), page.read_text(encoding="utf-8")
        examples.extend(page_examples(name, text, problems))
        problems.extend(broken_links(source, name, text))
    with tempfile.TemporaryDirectory() as scratch:
        runner = Runner(source, args.tool.resolve(), args.library.resolve(), scratch)
        for example in examples:
            failure = runner.run(example)
            if failure is not None:
                problems.append("%s: the %s example does not do what the page shows: %s\n%s" %
                                (example.where(), example.kind, example.text.strip(), failure))
    counts = {kind: sum(e.kind == kind for e in examples) for kind in ("tool", "c", "python")}
    print("doc examples: %d pages; ran %d tool commands, %d C and %d Python snippets; %d problems" %
          (len(pages), counts["tool"], counts["c"], counts["python"], len(problems)))
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems or not examples else 0


if __name__ == "__main__":
    sys.exit(main())
