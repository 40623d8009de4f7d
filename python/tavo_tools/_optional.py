"""Messages for optional dependencies that are not installed."""

from __future__ import annotations


def missing(package: str, extra: str, feature: str) -> ImportError:
    """The ImportError raised when `feature` needs `package`, which the extra `extra` installs."""
    return ImportError(
        f"{feature} needs the optional dependency {package!r}: pip install 'tavo_core[{extra}]'"
    )
