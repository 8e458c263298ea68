#!/usr/bin/env python3
"""Reads CTest's JUnit file of one tree and the GoogleTest XML reports its
programs left, prints what failed (program, case, message, and the program's
own output: sanitizer reports, Wine's err lines), and ends with the line
"<passed> <failed>" counted in test programs. With --lines: one line a
program instead, "ok NAME (N s)" or "FAIL NAME (N s): its first failing
case", as the stack bench's results have them."""
import os
import sys
import xml.etree.ElementTree as ET


def failed_cases(report):
    try:
        root = ET.parse(report).getroot()
    except (OSError, ET.ParseError):
        return None
    cases = []
    for case in root.iter("testcase"):
        for failure in case.findall("failure"):
            message = (failure.get("message") or "").strip().splitlines()
            cases.append("%s.%s: %s" % (case.get("classname"), case.get("name"),
                                        " | ".join(message[:3])))
    return cases


def read_suite(junit):
    try:
        return ET.parse(junit).getroot(), None
    except (OSError, ET.ParseError) as error:
        return None, "no CTest results in %s: %s" % (junit, error)


def lines(junit, reports):
    suite, problem = read_suite(junit)
    if suite is None:
        print("FAIL ctest (0 s): " + problem)
        return
    for case in suite.iter("testcase"):
        name = case.get("name")
        took = "%s (%.0f s)" % (name, float(case.get("time") or 0))
        if case.get("status") == "run":
            print("ok " + took)
            continue
        cases = failed_cases(os.path.join(reports, name + ".xml"))
        output = (case.findtext("system-out") or "").strip().splitlines()
        reason = cases[0] if cases else (output[-1] if output else case.get("status"))
        print("FAIL %s: %s" % (took, reason))


def main(junit, reports):
    suite, problem = read_suite(junit)
    if suite is None:
        print(problem)
        print("0 1")
        return
    passed = failed = 0
    for case in suite.iter("testcase"):
        name = case.get("name")
        if case.get("status") == "run":
            passed += 1
            continue
        failed += 1
        print("FAILED %s (%s)" % (name, case.get("status")))
        cases = failed_cases(os.path.join(reports, name + ".xml"))
        for line in cases or []:
            print("  " + line)
        output = (case.findtext("system-out") or "").splitlines()
        if output:
            print("  -- last lines of its output:")
            for line in output[-40:]:
                print("  | " + line)
    print("%d %d" % (passed, failed))


if __name__ == "__main__":
    if sys.argv[1] == "--lines":
        lines(sys.argv[2], sys.argv[3])
    else:
        main(sys.argv[1], sys.argv[2])
