"""The package installs offline into a virtual environment, and its entry point serves the
example as well as the example's own pytest_plugins line does."""
import os
import shutil
import subprocess
import sys

from package_paths import ROOT


def run(*command, **options):
    result = subprocess.run(command, capture_output=True, text=True, timeout=300, **options)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


def test_the_installed_package_runs_the_example(tmp_path):
    # A copy, so that the build leaves nothing in the source tree.
    shutil.copytree(ROOT / "python", tmp_path / "source", ignore=shutil.ignore_patterns(
        "tests", "build", "*.egg-info", "__pycache__"))
    # Debian's own pip, seen through the system site packages, installs into the venv.
    run(sys.executable, "-m", "venv", "--without-pip", "--system-site-packages",
        str(tmp_path / "venv"))
    python = str(tmp_path / "venv" / "bin" / "python")
    run(python, "-m", "pip", "install", "--no-build-isolation", "--no-deps", "--no-index",
        str(tmp_path / "source"))
    environ = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    located = run(python, "-c", "import kalo_rs232c; print(kalo_rs232c.__file__)",
                  cwd=tmp_path, env=environ)
    assert located.startswith(str(tmp_path / "venv"))
    run(python, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--strict-markers",
        str(ROOT / "examples"), cwd=tmp_path, env=environ)
