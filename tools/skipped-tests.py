#!/usr/bin/env python3
"""Names the tests that a ctest run skipped, from its JUnit file
(ctest --output-junit): whole ctest tests that did not run, GoogleTest cases
that called GTEST_SKIP, and pytest tests that were skipped or are expected
failures (pytest run with -rsxX). Prints one line "SKIPPED: <test>: <reason>"
per skipped test and ends with "skipped N"."""

import re
import sys
import xml.etree.ElementTree as ET

GTEST_RUN = re.compile(r"^\[ RUN      \] (\S+)")
GTEST_SKIPPED = re.compile(r"^\[  SKIPPED \] (\S+) \(")
PYTEST_SKIPPED = re.compile(r"^SKIPPED \[(\d+)\] (.*?): (.*)$")
PYTEST_XFAIL = re.compile(r"^XFAIL (\S+)(?: - (.*))?$")


def skips_in_output(owner, text):
    found = []
    reason = []
    for line in text.splitlines():
        if GTEST_RUN.match(line):
            reason = []
            continue
        m = GTEST_SKIPPED.match(line)
        if m:
            words = [r for r in reason if r and not r.endswith(": Skipped")]
            found.append((1, "%s %s" % (owner, m.group(1)), " ".join(words) or "no reason given"))
            reason = []
            continue
        m = PYTEST_SKIPPED.match(line)
        if m:
            where = re.sub(r"^(\.\./)+", "", m.group(2))
            found.append((int(m.group(1)), "%s %s" % (owner, where), m.group(3)))
            continue
        m = PYTEST_XFAIL.match(line)
        if m:
            found.append((1, "%s %s" % (owner, m.group(1)), "expected failure: " + (m.group(2) or "")))
            continue
        reason.append(line.strip())
    return found


def main(paths):
    total = 0
    for path in paths:
        try:
            root = ET.parse(path).getroot()
        except (OSError, ET.ParseError) as error:
            # No report: the run itself failed, and the test command counts
            # that as a failure; there is nothing to count as skipped.
            print("NOTE: %s: no test report (%s)" % (path, error))
            continue
        for case in root.iter("testcase"):
            name = case.get("name", "?")
            status = case.get("status", "")
            if status in ("notrun", "disabled") or case.find("skipped") is not None:
                print("SKIPPED: %s: the test did not run" % name)
                total += 1
                continue
            out = case.find("system-out")
            for count, where, reason in skips_in_output(name, out.text if out is not None and out.text else ""):
                print("SKIPPED: %s: %s" % (where, reason))
                total += count
    print("skipped %d" % total)


if __name__ == "__main__":
    main(sys.argv[1:])
