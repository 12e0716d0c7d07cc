"""`python -m tarvok`: the command-line tool (not built yet)."""

import sys

sys.exit("tarvok: the command-line tool is not built yet")
