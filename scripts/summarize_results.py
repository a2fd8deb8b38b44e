#!/usr/bin/env python3
"""Adds up the JUnit reports of every test layer; prints "N passed, N failed", exit 1 on failures.
A layer whose report is missing counts as one failure; skipped tests are listed, not counted."""
import pathlib
import sys
import xml.etree.ElementTree as ET

LAYERS = ("host.xml", "win64.xml", "win32.xml", "integration.xml")


def main(directory):
    passed = failed = skipped = 0
    folder = pathlib.Path(directory)
    for name in LAYERS:
        if not (folder / name).exists():
            print(f"summary: the report {name} is missing", file=sys.stderr)
            failed += 1
    for report in sorted(folder.glob("*.xml")):
        try:
            cases = list(ET.parse(report).getroot().iter("testcase"))
        except ET.ParseError:
            print(f"summary: the report {report.name} is unreadable", file=sys.stderr)
            failed += 1
            continue
        for case in cases:
            tags = {child.tag for child in case}
            if tags & {"failure", "error"}:
                failed += 1
                print(f"FAILED {report.stem}: {case.get('classname', '')} {case.get('name')}")
            elif "skipped" in tags:
                skipped += 1
                reason = case.find("skipped").get("message", "")
                print(f"skipped {report.stem}: {case.get('name')} {reason}")
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
