"""`python -m tarvok` and the `tarvok` script: the tarvok command."""

import _thread
import os
import sys


def _behind_an_interrupt(error):
    """Whether `error` was raised while a Ctrl-C was in flight (its cause or context, at any depth)."""
    for _ in range(32):
        error = error.__cause__ or error.__context__
        if error is None:
            return False
        if isinstance(error, KeyboardInterrupt):
            return True
    return False


def _redelivering(previous):
    """An unraisable-error hook that raises a dropped Ctrl-C again.

    Where an interrupt lands in code that cannot raise it (an import lock's callback, a destructor,
    a library's C code building a validator), the interpreter prints "Exception ignored" and drops
    it, and the command would run on. Marking the signal as arrived again lets the next place that
    can raise it do so (raising it here would only be dropped again)."""

    def hook(unraisable):
        if unraisable.exc_type is not None and issubclass(unraisable.exc_type, KeyboardInterrupt):
            _thread.interrupt_main()
        else:
            previous(unraisable)

    return hook


def _interrupted():
    """Tell the interruption on stderr; none when stderr was closed (print would fall back to stdout)."""
    if sys.stderr is not None:
        print("tarvok: interrupted", file=sys.stderr)
    return 130


def main(argv=None):
    """Run the command and end the process with its status; Ctrl-C at any moment ends it with 130."""
    previous_hook = sys.unraisablehook
    try:
        sys.unraisablehook = _redelivering(previous_hook)
        from tarvok._cli import main as command  # the first import may itself be interrupted

        status = command(argv)
    except KeyboardInterrupt:
        status = _interrupted()
    except Exception as e:
        if not _behind_an_interrupt(e):  # e.g. an extension module's start stopped by Ctrl-C
            raise
        status = _interrupted()
    finally:
        sys.unraisablehook = previous_hook
    if status == 141:
        # stdout's reader has gone: what is still buffered for it goes nowhere, so that the
        # interpreter's last flush does not complain.
        try:
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, sys.stdout.fileno())
        except (AttributeError, OSError, ValueError):  # stdout closed before the start is None
            pass
    if status == 130:
        # An interrupt that once passed through an exec'd string (dataclasses make their methods so)
        # marks the interpreter to end by SIGINT whatever caught it; the status stays 130.
        for stream in (sys.stdout, sys.stderr):
            try:
                stream.flush()
            except (AttributeError, OSError, ValueError):
                pass
        os._exit(130)
    return status


if __name__ == "__main__":
    raise SystemExit(main())
