"""The installed distribution: one version, the licence, and a stub beside every module."""
import importlib.metadata
import pathlib

import chronvale


def test_version_is_the_distribution_version():
    assert chronvale.__version__ == importlib.metadata.version("chronvale")


def test_licence_and_stubs_are_installed():
    files = {str(f) for f in importlib.metadata.files("chronvale")}
    assert any(f.endswith(".dist-info/licenses/LICENSE") for f in files)
    assert {"chronvale/py.typed", "chronvale/__init__.pyi"} <= files
    modules = sorted(pathlib.Path(chronvale.__file__).parent.rglob("*.so"))
    assert len(modules) == 8
    for module in modules:
        assert module.with_name(module.name.split(".")[0] + ".pyi").is_file(), module
