"""Runs every end-to-end test (tests/e2e/test_*.py) and prints one closing
line: 'e2e: N passed, N failed'. Arguments select test name patterns.

TARVI_E2E_JOBS=N (default 2) runs the tests in N worker processes, each with
its own virtual display, since the tests mostly wait on Wine and the servers;
every test has its own Wine prefix, so they do not meet. Workers take the
next test from a shared queue, the longest first, so that none is left with
a long tail while the other idles."""
import fcntl
import json
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness  # noqa: E402


def flatten(suite):
    for t in suite:
        if isinstance(t, unittest.TestSuite):
            yield from flatten(t)
        else:
            yield t


def discover(patterns):
    loader = unittest.TestLoader()
    if patterns:
        loader.testNamePatterns = ["*%s*" % a for a in patterns]
    return list(flatten(loader.discover(HERE, pattern="test_*.py")))


def run_tests(tests, stream):
    result = unittest.TextTestRunner(verbosity=2, stream=stream).run(unittest.TestSuite(tests))
    if harness._xvfb:
        harness._xvfb.stop()
    failed = len(result.failures) + len(result.errors)
    return {"run": result.testsRun, "failed": failed, "skipped": len(result.skipped)}


# Tests that run for minutes (each waits out session time limits) go first.
LONG_RUNNING = ("test_hostile", "test_installer", "test_imap_hostile")


def claim(queue_file):
    """The next test id of the shared queue, or None when it is empty."""
    with open(queue_file, "r+") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        ids = json.load(f)
        if not ids:
            return None
        f.seek(0)
        f.truncate()
        json.dump(ids[1:], f)
        return ids[0]


def worker(queue_file, out_file):
    tests = {t.id(): t for t in discover(None)}
    result = unittest.TextTestResult(unittest.runner._WritelnDecorator(sys.stdout), True, 2)
    while True:
        test_id = claim(queue_file)
        if test_id is None:
            break
        unittest.TestSuite([tests[test_id]]).run(result)
    result.printErrors()
    if harness._xvfb:
        harness._xvfb.stop()
    failed = len(result.failures) + len(result.errors)
    json.dump({"run": result.testsRun, "failed": failed, "skipped": len(result.skipped)}, open(out_file, "w"))
    return 0


def main(argv):
    if len(argv) == 3 and argv[0] == "--worker":
        return worker(argv[1], argv[2])
    tests = discover(argv)
    # Errors of loading (a module that does not import) show up as tests too.
    jobs = max(1, int(os.environ.get("TARVI_E2E_JOBS", "2")))
    if jobs == 1 or len(tests) < 2:
        counts = run_tests(tests, sys.stdout)
    else:
        tmp = tempfile.mkdtemp(prefix="e2e-run-")
        ids = sorted((t.id() for t in tests), key=lambda i: not any(n in i for n in LONG_RUNNING))
        queue_file = os.path.join(tmp, "queue.json")
        json.dump(ids, open(queue_file, "w"))
        procs = []
        for j in range(jobs):
            log = open(os.path.join(tmp, "log%d.txt" % j), "w")
            procs.append((subprocess.Popen([sys.executable, os.path.abspath(__file__), "--worker", queue_file,
                                            os.path.join(tmp, "out%d.json" % j)],
                                           stdout=log, stderr=subprocess.STDOUT), log, j))
        counts = {"run": 0, "failed": 0, "skipped": 0}
        for p, log, j in procs:
            p.wait()
            log.close()
            sys.stdout.write(open(os.path.join(tmp, "log%d.txt" % j)).read())
            out = os.path.join(tmp, "out%d.json" % j)
            if os.path.exists(out):
                for k, v in json.load(open(out)).items():
                    counts[k] += v
            else:
                print("e2e worker %d ended without a result (exit %s)" % (j, p.returncode))
                counts["failed"] += 1
    passed = counts["run"] - counts["failed"] - counts["skipped"]
    print("e2e: %d passed, %d failed" % (passed, counts["failed"])
          + (", %d skipped" % counts["skipped"] if counts["skipped"] else ""))
    return 0 if counts["failed"] == 0 and counts["run"] > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
