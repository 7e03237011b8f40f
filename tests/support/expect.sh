# The shell tests' one check: source it, then `expect DESCRIPTION ACTUAL EXPECTED` prints "ok   ..."
# or "FAIL ..." with both values and counts the failure in $failures; `expect_verdict` ends the test
# with a non-zero status when anything failed.
failures=0
expect() { # expect DESCRIPTION ACTUAL EXPECTED
  if [ "$2" == "$3" ]; then echo "ok   $1"; else
    echo "FAIL $1"; echo "  expected: $(printf %q "$3")"; echo "  actual:   $(printf %q "$2")"; failures=$((failures + 1)); fi
}
expect_verdict() { [ "$failures" -eq 0 ]; }
