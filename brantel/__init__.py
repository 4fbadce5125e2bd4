"""brantel: hardware inventory from SMBIOS tables, digest and encoding helpers,
and cipher services, in one native extension module (brantel.brantel_sysprobe).

The decoded inventory, as plain Python data::

    brantel.read()                  # this machine's table
    brantel.read("t.dump")          # a file or folder, recognised by its content
    brantel.read(dump="t.dump")     # or a dump file, a blob file, a sysfs copy, the sample
    brantel.decode(blob)            # a blob: major version, minor version, table

Importing the package loads nothing else; each function loads what it needs.
"""

__all__ = ["decode", "read"]

_native_decode = None


def decode(blob):
    """The decoded inventory of an SMBIOS blob (byte 0 the major version, byte 1
    the minor version, then the structure table) as a dict; see the JSON Schema
    ``inventory.schema.json`` in the package.  Its ``source`` is
    ``{"kind": "blob", "path": None}``.  Raises ValueError for a blob shorter
    than two bytes and TypeError for anything that is not bytes-like.
    """
    global _native_decode
    if _native_decode is None:  # loaded on first use, then kept: decode runs in loops
        from brantel._inventory_decoder import decode as native_decode

        _native_decode = native_decode
    return _native_decode(blob)


def read(path=None, *, dump=None, blob=None, sysfs_root=None, sample=False):
    """The decoded inventory of one source, with ``source`` naming it.

    ``path``: a file or folder recognised by its content (a dump, a Windows
    RSMB export, a blob, a sysfs tree or a copy of its tables folder);
    ``dump``: a dump file as ``dmidecode --dump-bin`` (or ``brantel dump``)
    writes it; ``blob``: a blob file; ``sysfs_root``: a directory that stands
    for ``/sys``; ``sample``: the sample table that ships with brantel.  With
    none of them, this machine's table.  Raises brantel.sources.SourceError
    when the source cannot deliver a table, ValueError for more than one source.
    """
    from brantel import sources

    data, source = sources.load(path, dump=dump, blob=blob, sysfs_root=sysfs_root, sample=sample)
    result = decode(data)
    result["source"] = source
    return result
