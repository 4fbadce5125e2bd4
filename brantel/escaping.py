"""Escaping outside data for the places it goes to."""
from __future__ import annotations

from typing import Any

#: What makes a spreadsheet take a cell for a formula (the OWASP CSV-injection list).
_FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def csv_cell(value: Any) -> Any:
    """A CSV cell that a spreadsheet shows as text: a string that starts with
    ``= + - @``, TAB or CR gets a single quote in front (the csv module then
    quotes the cell, as it holds a quote).  Other values are returned as they are."""
    if isinstance(value, str) and value.startswith(_FORMULA_STARTS):
        return "'" + value
    return value
