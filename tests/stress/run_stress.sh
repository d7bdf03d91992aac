#!/usr/bin/env bash
# Runs the stress program once on one JDK under the agent and judges the run:
# exit status 0, nothing from the agent, a summary with zero violations.
# Usage: run_stress.sh JAVA_HOME AGENT_LIBRARY CLASS_DIR SECONDS
# Exit status 77 when the JDK is absent (ctest reports the test as skipped).
set -u
java_home=$1 agent=$2 classes=$3 seconds=$4
java="$java_home/bin/java"
if [ ! -x "$java" ]; then
    echo "SKIP: no JDK at $java_home"
    exit 77
fi

out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
# A fixed, pre-touched heap keeps the Java heap out of the memory figures.
"$java" -Xms64m -Xmx64m -XX:+AlwaysPreTouch "-agentpath:$agent" -cp "$classes" VeskStress "$seconds" \
    >"$out" 2>"$err"
status=$?
cat "$out"
if [ -s "$err" ]; then
    echo "--- standard error:"
    cat "$err"
fi

failed=0
if [ "$status" -ne 0 ]; then
    echo "FAIL: exit status $status"
    failed=1
fi
# The agent's fatal reports carry the tag; its load refusals start with ERROR: and have no line end.
if grep -q -F '[Vesk]' "$out" "$err" || grep -q '^ERROR:' "$out" "$err"; then
    echo "FAIL: the agent printed"
    failed=1
fi
if ! grep -q -E '^stress: summary .* violations=0 unexpected=0 ' "$out"; then
    echo "FAIL: no summary line with zero violations and nothing unexpected"
    failed=1
fi
if [ -s "$err" ]; then
    echo "FAIL: output on standard error"
    failed=1
fi
exit "$failed"
