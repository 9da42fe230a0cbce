"""The tests reach the host-side module as the figures do, by its folder."""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent / "host"))
