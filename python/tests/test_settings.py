"""Settings files as the program writes them, and the notation as the program converts it."""
import pytest

from package_paths import ROOT
from kalo_rs232c import Settings, to_bytes
from kalo_rs232c.settings import FILE_NAMES


GOLDEN = {name: (ROOT / "tests/golden" / name).read_bytes() for name in FILE_NAMES}
METER = {  # the complete folder of docs/settings.md
    "ACSet.txt": b'"1","9600","N","8","1"\r\n',
    "PROTcol.txt": b'"1","1","","+012.34[CR][LF]","","","","","MEAS?[CR]","","","",""\r\n',
    "SOUCHICMD.txt": b'"","MEAS?\r","","","","","+012.34\r\n","","","",""\r\n',
    "ACSet2.txt": b'"1"\r\n',
}


@pytest.mark.parametrize("settings, files", [
    (Settings(), GOLDEN),
    (Settings(continuous=False, text="", patterns=[("MEAS?[CR]", "+012.34[CR][LF]")]), METER),
])
def test_settings_are_written_as_the_program_writes_them(tmp_path, settings, files):
    settings.write(tmp_path)
    assert {path.name: path.read_bytes() for path in tmp_path.iterdir()} == files


@pytest.mark.parametrize("text, expected", [
    ("ABC+[CR]+[LF]", b"ABC+\r+\n"),
    ("[SXT][EOT][EXT][SP][NUL]", b"\x02\x03\x04 \x00"),
    ("[NCK]x[]y[cr]", b"xy"),
    ("a[b", b"a[b"),
    ("a]b[CR", b"a]b[CR"),
    ("ｹｰｽ重量", "ｹｰｽ重量".encode("cp932")),
    ("€", b"?"),
])
def test_texts_convert_as_the_dialog_converts_them(text, expected):
    assert to_bytes(text) == expected


@pytest.mark.parametrize("change", [{"text": 'say "hi"'}, {"text": "€"},
                                    {"patterns": [("A", "B")] * 6}])
def test_settings_the_files_cannot_hold_are_refused(tmp_path, change):
    with pytest.raises(ValueError):
        Settings(**change).write(tmp_path)
    assert not any(tmp_path.iterdir())
