"""setuptools' build backend, run on a copy of this folder.

setuptools writes build/ and kalo_rs232c.egg-info/ beside the sources it builds, and pip
builds in the folder it is given: a checkout (or a read-only copy of one) would gain both.
Each hook that builds runs in a scratch copy instead; what it hands back (a wheel, an sdist,
metadata) goes where pip asked, given as an absolute path so that the change of folder does
not move it.
"""
import contextlib
import os
import shutil
import tempfile

from setuptools import build_meta as _setuptools

# Asking what a build needs writes nothing.
get_requires_for_build_wheel = _setuptools.get_requires_for_build_wheel
get_requires_for_build_sdist = _setuptools.get_requires_for_build_sdist


@contextlib.contextmanager
def _in_a_copy():
    source = os.getcwd()
    with tempfile.TemporaryDirectory(prefix="kalo_rs232c-build-") as scratch:
        copy = os.path.join(scratch, "source")
        shutil.copytree(source, copy, ignore=shutil.ignore_patterns(
            "build", "*.egg-info", "__pycache__", "tests"))
        os.chdir(copy)
        try:
            yield
        finally:
            os.chdir(source)


def _absolute(path):
    return os.path.abspath(path) if path else path


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    metadata_directory = _absolute(metadata_directory)
    with _in_a_copy():
        return _setuptools.prepare_metadata_for_build_wheel(metadata_directory, config_settings)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    wheel_directory = _absolute(wheel_directory)
    metadata_directory = _absolute(metadata_directory)
    with _in_a_copy():
        return _setuptools.build_wheel(wheel_directory, config_settings, metadata_directory)


def build_sdist(sdist_directory, config_settings=None):
    sdist_directory = _absolute(sdist_directory)
    with _in_a_copy():
        return _setuptools.build_sdist(sdist_directory, config_settings)


# An editable install points into this folder, so it is built here, as setuptools does.
get_requires_for_build_editable = _setuptools.get_requires_for_build_editable
prepare_metadata_for_build_editable = _setuptools.prepare_metadata_for_build_editable
build_editable = _setuptools.build_editable
