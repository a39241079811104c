"""The checks of the scripted suites: each counts, a failed one is printed
at once, and the closing line is the one test runners read."""

FAILURES = []
COUNT = [0]


def check(condition, what):
    COUNT[0] += 1
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what)


def summary():
    """Prints the closing line; answers the exit status."""
    print("%d passed, %d failed" % (COUNT[0] - len(FAILURES), len(FAILURES)))
    return 1 if FAILURES else 0
