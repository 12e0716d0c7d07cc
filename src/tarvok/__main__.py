"""`python -m tarvok`: the tarvok command."""

from tarvok._cli import main

raise SystemExit(main())
