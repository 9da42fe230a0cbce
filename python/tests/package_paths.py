"""Where the tests find the project's example profiles and golden files."""
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PROFILES = ROOT / "examples" / "profiles"
EXAMPLE = ROOT / "tests" / "golden" / "Instrument.toml"
