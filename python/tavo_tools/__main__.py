"""`python -m tavo_tools`: the `tavo` command line."""

from tavo_tools.cli import main

raise SystemExit(main())
