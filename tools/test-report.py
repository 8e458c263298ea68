#!/usr/bin/env python3
"""Reads CTest's JUnit file of one tree and the GoogleTest XML reports its
programs left, prints what failed (program, case, message, and the program's
own output: sanitizer reports, Wine's err lines), and ends with the line
"<passed> <failed>" counted in test programs."""
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


def main(junit, reports):
    try:
        suite = ET.parse(junit).getroot()
    except (OSError, ET.ParseError) as error:
        print("no CTest results in %s: %s" % (junit, error))
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
    main(sys.argv[1], sys.argv[2])
