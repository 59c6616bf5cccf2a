"""The one wait of the Python test tooling: look again and again until something holds, bounded."""
import time


def poll(predicate, timeout=5.0, interval=0.01, what='condition'):
    """Calls predicate until it returns a true value; returns it, or raises after the time-out."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f'timed out after {timeout} s waiting for {what}')
        time.sleep(interval)
