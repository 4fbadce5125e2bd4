"""``python -m brantel``: the brantel command line (see brantel.cli)."""
from brantel.cli import main

if __name__ == "__main__":
    raise SystemExit(main(prog="python -m brantel"))
