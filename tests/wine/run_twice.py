"""Runs the Windows end-to-end tests; a test that fails is run once more on its own, and only a test
that fails both times fails the run. Both runs stay in the log, with the count of first runs that
failed. Usage: python3 run_twice.py [FILE PATTERN, default test_*.py] (from any folder)."""
import os
import sys
import unittest


def main():
    sys.dont_write_bytecode = True  # nothing is left in the source tree
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    loader = unittest.TestLoader()
    runner = unittest.TextTestRunner(verbosity=2)
    pattern = sys.argv[1] if len(sys.argv) > 1 else 'test_*.py'
    first = runner.run(loader.discover(here, pattern=pattern, top_level_dir=here))
    # A failed subtest is run again as its whole test.
    failed = list(dict.fromkeys(getattr(case, 'test_case', case).id() for case, _ in first.failures + first.errors))
    if not first.testsRun or first.unexpectedSuccesses:
        return 1
    if not failed:
        print(f'varnel: {first.testsRun} Windows end-to-end tests passed at the first run')
        return 0
    print(f'varnel: {len(failed)} of {first.testsRun} Windows end-to-end tests failed at the first run; '
          f'once more: {", ".join(failed)}', flush=True)
    second = runner.run(loader.loadTestsFromNames(failed))
    still = [case.id() for case, _ in second.failures + second.errors]
    if still:
        print(f'varnel: failed twice: {", ".join(still)}')
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
