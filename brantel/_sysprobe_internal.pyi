# Type stubs for brantel._sysprobe_internal: the inventory entry, the inventory
# queries and the cipher services of brantel.brantel_sysprobe.
from typing import Iterable, Protocol, Set, SupportsInt, Tuple

class _Appendable(Protocol):
    def append(self, item: list[str], /) -> object: ...

# (device locator, bank locator, total width, data width, form factor), as texts.
MemoryDeviceItems = Tuple[str, str, str, str, str]

def parse_windows_hardware_info(win_smbios: bytes, guid: bytes) -> bytes:
    """The inventory of an SMBIOS blob (major, minor, structure table), rendered as UTF-8 bytes."""

def get_populated_cpus(cpu_list: Iterable[str], populated_cpu_list: _Appendable) -> None:
    """Append the item lists of the populated, enabled processors to populated_cpu_list."""

def get_memory_devices(memory_device_set_list: Iterable[str], /) -> Tuple[int, Set[MemoryDeviceItems]]:
    """Total size in KiB of the devices of the device set texts, and their identifying items."""

def get_memory_modules(memory_module_list: Iterable[str], /) -> Tuple[int, Set[str]]:
    """Total enabled size in KiB of the memory module text forms, and their socket designations."""

def urandom(num_bytes: SupportsInt, /) -> bytes: ...
def aes_cbc_encryptor(aeskey: bytes, nonce: bytes, cbc_iv: bytes) -> bytes: ...
def aes_cbc_decryptor(aeskey: bytes, nonce_cipher: bytes, cbc_iv: bytes) -> bytes: ...
def aes_gcm_encryptor(aeskey: bytes, content: bytes, nonce: bytes) -> bytes: ...
def aes_gcm_decryptor(aeskey: bytes, cipher_txt: bytes, nonce: bytes) -> bytes: ...
def rsa_encryptor(pubkey: bytes, content: bytes) -> bytes: ...
def rsa_verifier(pubkey: bytes, message: bytes, signature: bytes) -> int:
    """The library's verification result, unchanged (1 for a good signature)."""

# Test hooks: the C integer conversions and the load-time version comparison.
def to_unsigned(ctype: str, value: SupportsInt, /) -> int: ...
def versions_agree(compiled: str, running: str, /) -> bool: ...
