#!/usr/bin/env bash
# The suites written against TestRadio, a third time: on the real stack in the rig's guest
# (QB7720_TEST_BACKEND=realstack), each bridge one of the HCI peripheral's controllers. Prints per
# suite the tests run, passed, failed and skipped (with the skip's reason); the XML reports and the
# rig's logs stay in LOGS (default BUILD-DIR/world-logs).
#   tests/realstack/suites.sh BUILD-DIR [SUITE...]     (suites: dll devicelib discovery terminal;
#                                                      default all)
# QB7720_WORLD_FILTER, a gtest filter, bounds each suite; QB7720_WORLD_LOGS moves the logs.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
shift
suites=("$@")
((${#suites[@]})) || suites=(dll devicelib discovery terminal)
declare -A binary=([dll]=dll_core_tests [devicelib]=qb_devicelib_tests [discovery]=qb_dll_discovery_tests
    [terminal]=tst_window_device)

if [ -z "${QB7720_REAL_STACK:-}" ]; then
    logs=${QB7720_WORLD_LOGS:-$build/world-logs}
    mkdir -p "$logs"
    cd "$root"
    exec bash scripts/real-stack.sh --bridges "${QB7720_WORLD_BRIDGES:-5}" --logs "$logs" \
        --peripheral "$build/bin/qb7720-emulator" --timeout "${QB7720_REAL_STACK_TIMEOUT:-3000}" -- \
        bash "$0" "$build" "${suites[@]}"
fi

# In the guest, where only the rig's results share is writable.
logs=$QB7720_REAL_STACK_LOGS
export QB7720_TEST_BACKEND=realstack
failed=0
for suite in "${suites[@]}"; do
    exe=$build/bin/${binary[$suite]:-none}
    [ -x "$exe" ] || { echo "suites: no $exe"; failed=1; continue; }
    xml=$logs/$suite.xml
    rm -f "$xml"
    if [ "$suite" = terminal ]; then
        # A QtTest suite: offscreen, its report in JUnit's form; the filter does not apply.
        QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 timeout --kill-after=10 "${QB7720_WORLD_SUITE_LIMIT:-1500}" \
            "$exe" -o "$xml,junitxml" -o "-,txt" >"$logs/$suite.log" 2>&1
    else
        timeout --kill-after=10 "${QB7720_WORLD_SUITE_LIMIT:-1500}" "$exe" --gtest_color=no \
            --gtest_filter="${QB7720_WORLD_FILTER:-*}" --gtest_output="xml:$xml" >"$logs/$suite.log" 2>&1
    fi
    status=$?
    echo "suite $suite: exit status $status"
    ((status == 0)) || failed=1
    [ -s "$xml" ] && python3 - "$suite" "$xml" <<'PY'

import sys, xml.etree.ElementTree as ET
suite, path = sys.argv[1], sys.argv[2]
# Comments kept: QtTest's JUnit report gives a skip only as a comment of type "skip".
parser = ET.XMLParser(target=ET.TreeBuilder(insert_comments=True))
cases = ET.parse(path, parser).getroot().iter("testcase")
counts = {"passed": 0, "failed": 0, "skipped": 0}
lines = []
for c in cases:
    if c.get("status") == "notrun":
        continue
    name = (c.get("classname") or "") + "." + c.get("name")
    failure = c.find("failure")
    skipped = c.find("skipped")
    if skipped is None and failure is None:
        for child in c:
            if child.tag is ET.Comment and 'type="skip"' in (child.text or ""):
                skipped = ET.Element("skipped", message=child.text.split('message="')[-1].split('"')[0])
    if failure is not None:
        counts["failed"] += 1
        lines.append("  FAILED  %s: %s" % (name, failure.get("message", "").splitlines()[0][:200] if failure.get("message") else ""))
    elif skipped is not None or c.get("result") == "skipped":
        counts["skipped"] += 1
        lines.append("  SKIPPED %s: %s" % (name, (skipped.get("message", "") if skipped is not None else "").replace("\n", " ")[:200]))
    else:
        counts["passed"] += 1
print("suite %s: %d run, %d passed, %d failed, %d skipped" % (suite, sum(counts.values()), counts["passed"], counts["failed"], counts["skipped"]))
print("\n".join(lines))
PY
    if [ ! -s "$xml" ]; then
        # Cut short: what the log shows so far.
        echo "suite $suite (cut short, from its log): $(grep -c '^\[       OK \]' "$logs/$suite.log") passed," \
            "$(grep -c '^\[  FAILED  \].*ms)$' "$logs/$suite.log") failed, $(grep -c '^\[  SKIPPED \]' "$logs/$suite.log") skipped"
    fi
done
exit "$failed"
