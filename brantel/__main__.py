"""A short demonstration of the helper functions: python -m brantel."""
import base64

import brantel.brantel_sysprobe as sysprobe


def main() -> int:
    message = b"brantel"
    print(f"sha1({message!r}) = {sysprobe.sha1(message)}")
    encoded = base64.b64encode(b"hello from brantel")
    print(f"base64_decode({encoded!r}) = {sysprobe.base64_decode(encoded)!r}")
    print(f"getcwd() = {sysprobe.getcwd()}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
