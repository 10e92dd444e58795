"""Runs every end-to-end test (tests/e2e/test_*.py) and prints one closing
line: 'e2e: N passed, N failed'. Arguments select test name patterns."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def main():
    loader = unittest.TestLoader()
    if len(sys.argv) > 1:
        loader.testNamePatterns = ["*%s*" % a for a in sys.argv[1:]]
    suite = loader.discover(os.path.dirname(os.path.abspath(__file__)), pattern="test_*.py")
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    if harness._xvfb:
        harness._xvfb.stop()
    failed = len(result.failures) + len(result.errors)
    passed = result.testsRun - failed - len(result.skipped)
    print("e2e: %d passed, %d failed" % (passed, failed) + (", %d skipped" % len(result.skipped) if result.skipped else ""))
    return 0 if failed == 0 and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
