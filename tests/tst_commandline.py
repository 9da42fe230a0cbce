"""What the program says about itself on the command line: --version, --help in its
sections, and a start refused for want of a folder that names the folders it tried."""
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from simhost import NO_DISPLAY, PROGRAM, run_program

ROOT = Path(__file__).resolve().parents[1]
# The build's version, as the project states it, not as the program prints it.
VERSION = re.search(r"project\(kalo_rs232c VERSION (\S+)",
                    (ROOT / "CMakeLists.txt").read_text()).group(1)

# Every option the program takes, in the section of --help it belongs to.
SECTIONS = {
    "Running": ["virtual-port", "port", "pace", "folder", "help", "version"],
    "Headless": ["headless", "duration"],
    "Profiles": ["profile", "seed", "check-profile"],
    "Harness": ["events", "control", "host-link", "exec", "device"],
    "Recording": ["record"],
}


def test_version_is_one_line_of_product_and_build():
    result = run_program("--version")
    assert (result.returncode, result.stdout) == (0, f"Kalo_RS232Cシミュレータ {VERSION}\n")


def test_help_groups_every_option_once_in_its_section():
    result = run_program("--help")
    assert result.returncode == 0
    found, section = {}, None
    for line in result.stdout.splitlines():
        if heading := re.fullmatch(r"(\w+):", line):
            section = heading.group(1)
            found[section] = []
        elif option := re.match(r"  --([a-z-]+)", line):
            found[section].append(option.group(1))
    assert found == SECTIONS


def installed_copy(tmp_path):
    """The program as installed below a prefix of its own: it keeps its settings per user."""
    (tmp_path / "share" / "kalo_rs232c").mkdir(parents=True)
    (tmp_path / "bin").mkdir()
    return shutil.copy(PROGRAM, tmp_path / "bin")


# {t} is the test's folder; the per-user folder cannot be made, root or not.
@pytest.mark.parametrize("variable, value, per_user, reason", [
    ("HOME", "{t}/file", "{t}/file/.local/share/kalo_rs232c", "{t}/file is not a folder"),
    ("XDG_DATA_HOME", "{t}/file/data", "{t}/file/data/kalo_rs232c", "{t}/file is not a folder"),
    ("XDG_DATA_HOME", "/proc/self/data", "/proc/self/data/kalo_rs232c",
     "cannot be made in /proc/self"),
])
def test_no_folder_for_settings_names_each_folder_tried(tmp_path, variable, value, per_user,
                                                         reason):
    program = installed_copy(tmp_path)
    (tmp_path / "file").write_text("in the way")
    environ = {key: text for key, text in NO_DISPLAY.items() if key != "XDG_DATA_HOME"}
    environ[variable] = value.format(t=tmp_path)
    before = sorted(tmp_path.rglob("*"))
    result = subprocess.run([program, "--headless"], capture_output=True, text=True,
                            env=environ, timeout=10)
    assert result.returncode == 1
    assert result.stderr.startswith("kalo_rs232c: no folder where the settings can be kept")
    for told in (f"{tmp_path}/bin (an installed program", per_user.format(t=tmp_path),
                 reason.format(t=tmp_path), "--folder DIR"):
        assert told in result.stderr, result.stderr
    assert sorted(tmp_path.rglob("*")) == before
