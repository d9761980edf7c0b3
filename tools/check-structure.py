#!/usr/bin/env python3
"""Checks the shape of the code under src/ that the compiler does not:

  layers     no file of a lower folder includes a file of a higher one
             (the order is LAYERS below; plugin/ may include them all)
  cycles     no file reaches itself through its quoted includes
  length     no function body (free function, member, constructor, a template
             in a header) runs to MAX_LINES lines or more, counted from the
             line its signature begins on to its closing brace

Prints one line per finding and, last, "N passed, N failed" (one count per
check), as tools/test-all.sh reads it. Exit status 1 when anything failed.

  python3 tools/check-structure.py [--self-test]
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SRC = os.path.join(ROOT, "src")
# Lowest first: a folder may include its own files and those of the folders
# before it, never those after it.
LAYERS = ["platform", "common", "player", "requests", "http", "pages", "plugin"]
MAX_LINES = 80
SOURCE_EXTENSIONS = (".h", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def source_files():
    for folder, _, names in os.walk(SRC):
        for name in sorted(names):
            if name.endswith(SOURCE_EXTENSIONS):
                path = os.path.join(folder, name)
                yield os.path.relpath(path, SRC).replace(os.sep, "/")


def read(relative):
    with open(os.path.join(SRC, relative), encoding="utf-8", errors="replace") as f:
        return f.read()


def layer_of(relative):
    top = relative.split("/")[0]
    return LAYERS.index(top) if top in LAYERS else None


def check_layers(files, includes):
    findings = []
    for name in files:
        own = layer_of(name)
        for included in includes[name]:
            other = layer_of(included)
            if own is not None and other is not None and other > own:
                findings.append("layers: %s includes %s (a higher layer)" % (name, included))
    return findings


def check_cycles(files, includes):
    """Depth-first search over the include graph; reports each cycle once."""
    findings, state, stack = [], {}, []

    def visit(name):
        state[name] = "open"
        stack.append(name)
        for included in includes.get(name, []):
            if included not in includes:
                continue  # a system or generated header
            if state.get(included) == "open":
                cycle = stack[stack.index(included):] + [included]
                findings.append("cycles: " + " -> ".join(cycle))
            elif included not in state:
                visit(included)
        stack.pop()
        state[name] = "done"

    for name in files:
        if name not in state:
            visit(name)
    return findings


def strip_comments_and_literals(text):
    """The text with comments, string and character literals blanked out,
    keeping every line break so that line numbers stay."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append("\n" * text.count("\n", i, end))
            i = end
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            open_paren = text.find("(", i)
            delimiter = text[i + 2:open_paren]
            end = text.find(")" + delimiter + '"', open_paren)
            end = n if end < 0 else end + len(delimiter) + 2
            out.append('""' + "\n" * text.count("\n", i, end))
            i = end
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():
                out.append(c)  # a digit separator (1'000)
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


# What a brace that opens a scope (not a function body) is preceded by.
SCOPE_OPENER = re.compile(r"\b(namespace|class|struct|union|enum)\b[^()]*$|extern\s*\"\"\s*$")
CONTROL = re.compile(r"^\s*(if|for|while|switch|catch|do|else|try|return)\b")


def function_lengths(text):
    """(first line, last line, header) of every function body that opens at
    namespace or class scope."""
    code = strip_comments_and_literals(text)
    found = []
    scopes = []  # for each open brace: "scope", "function" or "other"
    statement_start = 0  # where the text before the next brace begins
    body_start = None
    i = 0
    while i < len(code):
        c = code[i]
        if c == ";" and (not scopes or scopes[-1] == "scope"):
            statement_start = i + 1
        elif c == "{":
            header = code[statement_start:i]
            if scopes and scopes[-1] != "scope":
                scopes.append("other")
            elif SCOPE_OPENER.search(header.strip()) or header.strip().endswith("="):
                scopes.append("scope" if SCOPE_OPENER.search(header.strip()) else "other")
            elif ")" in header and not CONTROL.match(header):
                scopes.append("function")
                first = header.strip()
                offset = statement_start + (len(header) - len(header.lstrip()))
                body_start = (code.count("\n", 0, offset) + 1, first.splitlines()[0] if first else "")
            else:
                scopes.append("other")
            statement_start = i + 1
        elif c == "}":
            kind = scopes.pop() if scopes else "other"
            if kind == "function" and body_start is not None:
                last = code.count("\n", 0, i) + 1
                found.append((body_start[0], last, body_start[1]))
                body_start = None
            if not scopes or scopes[-1] == "scope":
                statement_start = i + 1
        elif c == ":" and (not scopes or scopes[-1] == "scope"):
            # "public:" and the like end a header; "::" and a constructor's
            # initialiser list do not.
            before = code[statement_start:i].strip()
            if before in ("public", "private", "protected"):
                statement_start = i + 1
        elif c == "#" and (i == 0 or code[i - 1] == "\n"):
            end = code.find("\n", i)
            while end > 0 and code[end - 1] == "\\":
                end = code.find("\n", end + 1)
            i = len(code) if end < 0 else end
            if not scopes or scopes[-1] == "scope":
                statement_start = i
            continue
        i += 1
    return found


def check_lengths(files):
    findings = []
    for name in files:
        for first, last, header in function_lengths(read(name)):
            if last - first + 1 >= MAX_LINES:
                findings.append("length: %s:%d: %d lines: %s" % (name, first, last - first + 1, header[:80]))
    return findings


def self_test():
    sample = """namespace a {
struct S {
  int F() const {
    return 1;
  }
  S() : x_(0) {}
  int x_;
};
// } a brace in a comment
const char* kText = "{";
int G(int v) {
  if (v) {
    return 2;
  }
  auto f = [](int w) { return w; };
  return f(v);
}
}  // namespace a
"""
    got = [(first, last) for first, last, _ in function_lengths(sample)]
    want = [(3, 5), (6, 6), (11, 17)]
    if got != want:
        print("self-test: function_lengths gave %s, not %s" % (got, want))
        return 1
    graph = {"a.h": ["b.h"], "b.h": ["a.h"], "c.h": []}
    if len(check_cycles(sorted(graph), graph)) != 1:
        print("self-test: the cycle a.h -> b.h -> a.h was not found")
        return 1
    print("self-test: ok")
    return 0


def main():
    if "--self-test" in sys.argv:
        return self_test()
    files = list(source_files())
    includes = {name: INCLUDE.findall(read(name)) for name in files}
    passed = failed = 0
    for check in (lambda: check_layers(files, includes), lambda: check_cycles(files, includes),
                  lambda: check_lengths(files)):
        findings = check()
        for finding in findings:
            print(finding)
        if findings:
            failed += 1
        else:
            passed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
