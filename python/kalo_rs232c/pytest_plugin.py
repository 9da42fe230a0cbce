"""pytest fixture ``kalo``: a running simulator per test, stopped after it.

The test says what to run with a marker,

    @pytest.mark.kalo(profile="multimeter.toml", seed=7)
    def test_reads_a_voltage(kalo): ...

or with indirect parametrization, one run per parameter (a mapping of the same keywords, or
a profile path alone):

    @pytest.mark.parametrize("kalo", [{"profile": "a.toml"}, "b.toml"], indirect=True)

The keywords are those of ``Simulator``; the parameter's win over the markers', and a test's
marker over its class's or module's. Without a ``folder``, each test gets one under its
``tmp_path``, where the saved log stays. Loaded by its entry point once installed, or by
``pytest_plugins = ["kalo_rs232c.pytest_plugin"]`` in the top ``conftest.py`` (not in a test
module: its markers are read before the plugin would be).
"""
from __future__ import annotations

import sys
from pathlib import Path
from typing import Any, Iterator, Mapping

import pytest

from .simulator import Simulator

MARKER = "kalo"
ENTRY_POINT = "kalo_rs232c"


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers", f"{MARKER}(profile=None, seed=None, folder=None, settings=None, **options): "
                   "how the kalo fixture starts the simulator")


def pytest_plugin_registered(plugin: object, manager: pytest.PytestPluginManager) -> None:
    # Installed and named in pytest_plugins too, this module would be registered under both
    # its entry point and its own name, which pytest refuses: the other name is blocked.
    if plugin is not sys.modules[__name__]:
        return
    name = manager.get_name(plugin)
    other = __name__ if name == ENTRY_POINT else ENTRY_POINT
    if manager.get_plugin(other) is None:
        manager.set_blocked(other)


def simulator_options(request: pytest.FixtureRequest) -> dict[str, Any]:
    """The markers' keywords, then the parameter's; a positional marker argument is the
    profile."""
    options: dict[str, Any] = {}
    # A module's or class's marker first, then the test's own: the nearer one wins per key.
    for marker in reversed(list(request.node.iter_markers(MARKER))):
        if marker.args:
            options["profile"] = marker.args[0]
        options.update(marker.kwargs)
    param = getattr(request, "param", None)
    if isinstance(param, Mapping):
        options.update(param)
    elif param is not None:
        options["profile"] = param
    return options


@pytest.fixture
def kalo(request: pytest.FixtureRequest, tmp_path: Path) -> Iterator[Simulator]:
    """A simulator started for this test (see the module's text), stopped afterwards."""
    options = simulator_options(request)
    options.setdefault("folder", tmp_path / "kalo")
    with Simulator(**options) as simulator:
        yield simulator

