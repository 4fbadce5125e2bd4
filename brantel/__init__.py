"""brantel: hardware inventory from SMBIOS tables, digest and encoding helpers,
and cipher services, in one native extension module (brantel.brantel_sysprobe)."""
