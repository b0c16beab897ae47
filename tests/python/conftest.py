# Shared by the Python tests: where the sources and the built tools are (set
# by CTest), and scratch folders under $TEST_TMPDIR when it is set.
import os
import shutil
import subprocess
import tempfile

import pytest

SOURCE = os.environ.get("ZELK8_SOURCE_DIR",
                        os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..")))
EXAMPLES = os.path.join(SOURCE, "examples")
EXAMPLE_RUNS = ["anthracene", "anthracene-nomap", "anthracene-scan", "naphthalene", "quinacridone"]


def tool(name):
    path = os.environ.get(name)
    if not path:
        pytest.skip(f"{name} is not set (run the tests through CTest)")
    return path


@pytest.fixture
def work():
    base = os.environ.get("TEST_TMPDIR")
    if base:
        os.makedirs(base, exist_ok=True)
    folder = tempfile.mkdtemp(prefix="python-", dir=base)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def run_tool(args, cwd=None):
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True)


def executable_run(example, folder):
    """The executable zelk8 run in `folder` on the example's zelk8.dat; the
    files it left, as bytes."""
    os.makedirs(folder, exist_ok=True)
    shutil.copy(os.path.join(EXAMPLES, example, "zelk8.dat"), folder)
    run_tool([tool("ZELK8_BINARY")], cwd=folder)
    return {name: read_bytes(os.path.join(folder, name))
            for name in ("at8.dat", "mopac.dat", "coord.xyz")
            if os.path.exists(os.path.join(folder, name))}
