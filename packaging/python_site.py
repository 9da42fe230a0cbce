#!/usr/bin/python3
"""Lays out the Python package as Debian's python3 finds it in dist-packages: the modules and
a dist-info folder made from pyproject.toml, whose entry_points.txt lets pytest load the kalo
fixture without pip.

STAGING is emptied first, so that a dist-info of an earlier version cannot ride along.
"""
import pathlib
import shutil
import sys
import tomllib


def metadata(project):
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}",
             f"Version: {project['version']}", f"Summary: {project['description']}"]
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    lines += [f"Requires-Dist: {dependency}" for dependency in project.get("dependencies", [])]
    lines += [f"Classifier: {classifier}" for classifier in project.get("classifiers", [])]
    return "\n".join(lines) + "\n"


def entry_points(project):
    groups = []
    for group, entries in project.get("entry-points", {}).items():
        groups.append(f"[{group}]\n" + "".join(f"{name} = {target}\n"
                                               for name, target in entries.items()))
    return "\n".join(groups)


def main(pyproject, staging):
    source = pyproject.parent
    with pyproject.open("rb") as file:
        config = tomllib.load(file)
    project = config["project"]
    packages = config["tool"]["setuptools"]["packages"]
    shutil.rmtree(staging, ignore_errors=True)
    staging.mkdir(parents=True)
    for package in packages:
        shutil.copytree(source / package, staging / package,
                        ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))
    name = project["name"].replace("-", "_")
    info = staging / f"{name}-{project['version']}.dist-info"
    info.mkdir()
    (info / "METADATA").write_text(metadata(project), encoding="utf-8")
    (info / "entry_points.txt").write_text(entry_points(project), encoding="utf-8")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: python_site.py PYPROJECT STAGING")
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
