#!/usr/bin/env python3
"""Adds up the JUnit reports of every test layer; prints "N passed, N failed", exit 1 on failures.
A layer whose report is missing counts as one failure; skipped tests are listed, not counted.
The 32-bit smoke tier gets one line of its own: it ran, or it was skipped and why."""
import pathlib
import sys
import xml.etree.ElementTree as ET

LAYERS = ("host.xml", "win64.xml", "win32.xml", "integration.xml", "i686.xml")
I686_MODULES = ("test_i686_smoke", "test_i686_java")


def is_i686_case(case):
    """A case of the 32-bit tier: in one of its modules, or a case of another module that ran
    32-bit programs (the wine32 fixture marks those with the property tier=i686)."""
    marked = any(prop.get("name") == "tier" and prop.get("value") == "i686" for prop in case.iter("property"))
    return marked or any(module in case.get("classname", "") or module in case.get("file", "")
                         for module in I686_MODULES)


def i686_tier_line(outcomes, reasons):
    """outcomes: "passed", "failed" or "skipped" per smoke test; reasons: the skip messages."""
    if not outcomes:
        return "i686 tier: not run (no smoke test in the reports)"
    if all(outcome == "skipped" for outcome in outcomes):
        reason = reasons[0] if reasons else "no reason given"
        return f"i686 tier: skipped ({reason})"
    passed = outcomes.count("passed")
    failed = outcomes.count("failed")
    skipped = outcomes.count("skipped")
    line = f"i686 tier: ran, {passed} passed, {failed} failed"
    return line + (f", {skipped} skipped" if skipped else "")


def main(directory):
    passed = failed = skipped = 0
    i686_outcomes, i686_reasons = [], []
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
            smoke = is_i686_case(case)
            if tags & {"failure", "error"}:
                failed += 1
                outcome = "failed"
                print(f"FAILED {report.stem}: {case.get('classname', '')} {case.get('name')}")
            elif "skipped" in tags:
                skipped += 1
                outcome = "skipped"
                reason = case.find("skipped").get("message", "")
                if smoke:
                    i686_reasons.append(reason)
                else:
                    print(f"skipped {report.stem}: {case.get('name')} {reason}")
            else:
                passed += 1
                outcome = "passed"
            if smoke:
                i686_outcomes.append(outcome)
    print(i686_tier_line(i686_outcomes, i686_reasons))
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
