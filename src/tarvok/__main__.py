"""`python -m tarvok`: the tarvok command."""

from tarvok._cli import main

if __name__ == "__main__":
    raise SystemExit(main())
