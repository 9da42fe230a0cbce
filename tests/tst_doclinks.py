"""The README and the pages of docs/ link to each other by relative paths and section anchors;
a section renamed or a page moved breaks such a link silently, so every one is checked here,
the anchors by the rule GitHub uses to name a heading."""
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
PAGES = [ROOT / "README.md"] + sorted((ROOT / "docs").glob("*.md"))
LINK = re.compile(r"!?\[(?:[^\]\[]|\[[^\]]*\])*\]\(([^)\s]+)\)")


def prose(text):
    """The text without code: fenced blocks, indented blocks and code spans hold no links."""
    text = re.sub(r"^```.*?^```", "", text, flags=re.M | re.S)
    text = re.sub(r"^    .*$", "", text, flags=re.M)
    return re.sub(r"`[^`\n]*`", "", text)


def slug(heading):
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading).replace("`", "")
    return re.sub(r"[^\w\- ]", "", text.strip().lower()).replace(" ", "-")


def anchors(page):
    seen, names = {}, set()
    for line in prose(page.read_text()).splitlines():
        match = re.match(r"#{1,6} (.+)", line)
        if match:
            name = slug(match.group(1))
            count = seen.get(name, 0)
            seen[name] = count + 1
            names.add(name if count == 0 else f"{name}-{count}")
    return names


def local_links(page):
    return [target for target in LINK.findall(prose(page.read_text()))
            if not re.match(r"[a-z]+:", target)]


@pytest.mark.parametrize("heading, expected", [
    ("Without a display: headless mode", "without-a-display-headless-mode"),
    ("Where it differs from the instrument's original tool",
     "where-it-differs-from-the-instruments-original-tool"),
    ("A serial device for a host program: `--exec`", "a-serial-device-for-a-host-program---exec"),
    ("kalo_rs232c — Kalo_RS232Cシミュレータ", "kalo_rs232c--kalo_rs232cシミュレータ"),
])
def test_a_heading_is_named_as_github_names_it(heading, expected):
    assert slug(heading) == expected


@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.name)
def test_every_relative_link_reaches_its_file_and_section(page):
    broken = []
    for target in local_links(page):
        path, _, anchor = target.partition("#")
        file = (page.parent / path).resolve() if path else page
        if not file.exists():
            broken.append(f"{target}: no such file")
        elif anchor and file.suffix == ".md" and anchor not in anchors(file):
            broken.append(f"{target}: no such section in {file.name}")
    assert broken == []


def test_the_readme_links_every_page_of_docs():
    linked = {(ROOT / target.partition("#")[0]).resolve()
              for target in local_links(ROOT / "README.md")}
    assert [page.name for page in PAGES[1:] if page not in linked] == []
