"""The package installs offline into a virtual environment without writing into its source,
and its entry point serves the example as well as the example's own pytest_plugins line does.
The Debian package carries the program and the Python package for Debian's python3, so that
the example runs from it with no pip at all."""
import gzip
import os
import shutil
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

from package_paths import ROOT

BUILD = os.environ.get("KALO_BUILD_DIR")
DOC = "usr/share/doc/kalo-rs232c"
# On purpose: the package is not uploaded to Debian, so there is no ITP bug to close.
LINTIAN_ACCEPTED = {"initial-upload-closes-no-bugs"}
PROJECT = tomllib.loads((ROOT / "python" / "pyproject.toml").read_text())["project"]
DIST_INFO = f"usr/lib/python3/dist-packages/kalo_rs232c-{PROJECT['version']}.dist-info"


def run(*command, **options):
    result = subprocess.run(command, capture_output=True, text=True, timeout=300, **options)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


def without_pythonpath(**extra):
    environ = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    return {**environ, **extra}


def tree(folder):
    return sorted((str(path.relative_to(folder)), path.stat().st_mtime_ns)
                  for path in folder.rglob("*"))


def test_the_installed_package_runs_the_example(tmp_path):
    source = tmp_path / "source"
    shutil.copytree(ROOT / "python", source, ignore=shutil.ignore_patterns(
        "tests", "build", "*.egg-info", "__pycache__"))
    before = tree(source)
    # Read-only, as a checkout may be: the bits stop anyone but root, the comparison root.
    for path in [source, *source.rglob("*")]:
        path.chmod(path.stat().st_mode & ~0o222)
    # Debian's own pip, seen through the system site packages, installs into the venv.
    run(sys.executable, "-m", "venv", "--without-pip", "--system-site-packages",
        str(tmp_path / "venv"))
    python = str(tmp_path / "venv" / "bin" / "python")
    run(python, "-m", "pip", "install", "--no-build-isolation", "--no-deps", "--no-index",
        str(source))
    assert tree(source) == before
    located = run(python, "-c", "import kalo_rs232c; print(kalo_rs232c.__file__)",
                  cwd=tmp_path, env=without_pythonpath())
    assert located.startswith(str(tmp_path / "venv"))
    run(python, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--strict-markers",
        str(ROOT / "examples"), cwd=tmp_path, env=without_pythonpath())


@pytest.fixture(scope="module")
def debian_package(tmp_path_factory):
    """The .deb made by cpack from the build folder, into a folder of the test's own."""
    if not BUILD:
        pytest.skip("KALO_BUILD_DIR names no build folder to package")
    if not shutil.which("dpkg-deb"):
        pytest.skip("no dpkg-deb here")
    out = tmp_path_factory.mktemp("deb")
    run("cpack", "--config", str(Path(BUILD) / "CPackConfig.cmake"), "-B", str(out))
    packages = list(out.glob("kalo-rs232c_*.deb"))
    assert len(packages) == 1, packages
    return packages[0]


def test_the_debian_package_holds_program_manual_examples_and_python(debian_package):
    listed = {line.split()[-1].removeprefix("./")
              for line in run("dpkg-deb", "-c", str(debian_package)).splitlines()}
    for path in ("usr/bin/kalo_rs232c", "usr/share/man/man1/kalo_rs232c.1.gz",
                 f"{DOC}/changelog.Debian.gz", f"{DOC}/copyright",
                 f"{DOC}/examples/profiles/multimeter.toml", f"{DOC}/examples/profiles/psu.lua",
                 "usr/lib/python3/dist-packages/kalo_rs232c/pytest_plugin.py",
                 f"{DIST_INFO}/METADATA", f"{DIST_INFO}/entry_points.txt"):
        assert path in listed, path
    assert not any("__pycache__" in path for path in listed)


def test_the_debian_package_passes_lintian(debian_package):
    if not shutil.which("lintian"):
        pytest.skip("lintian is not installed (apt-get install lintian)")
    result = subprocess.run(["lintian", "--pedantic", str(debian_package)], capture_output=True,
                            text=True, timeout=120)
    tags = {line.split()[2] for line in result.stdout.splitlines()
            if line.startswith(("E:", "W:"))}
    assert tags <= LINTIAN_ACCEPTED, result.stdout


def test_the_unpacked_debian_package_runs_the_example_without_pip(debian_package, tmp_path):
    root = tmp_path / "root"
    run("dpkg-deb", "-x", str(debian_package), str(root))
    site = root / "usr" / "lib" / "python3" / "dist-packages"
    environ = without_pythonpath(PYTHONPATH=str(site), HOME=str(tmp_path),
                                 KALO_RS232C=str(root / "usr" / "bin" / "kalo_rs232c"))
    located = run("/usr/bin/python3", "-c", "import kalo_rs232c; print(kalo_rs232c.__file__)",
                  cwd=tmp_path, env=environ)
    assert located.startswith(str(site))
    entry_points = (root / DIST_INFO / "entry_points.txt").read_text()
    assert "[pytest11]\nkalo_rs232c = kalo_rs232c.pytest_plugin\n" in entry_points
    manual = gzip.decompress((root / "usr/share/man/man1/kalo_rs232c.1.gz").read_bytes())
    assert b'.SS "Recording:"' in manual
    # No conftest.py beside the example: only the dist-info's entry point brings the fixture.
    ran = run("/usr/bin/python3", "-m", "pytest", "-q", "-p", "no:cacheprovider",
              "--strict-markers", str(root / DOC / "examples"), cwd=tmp_path, env=environ)
    assert "1 passed" in ran, ran
