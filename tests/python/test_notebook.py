# The example notebook, executed top to bottom without a display, so that
# it keeps working with the package.
import os

import nbformat
from nbclient import NotebookClient

from conftest import EXAMPLES


def test_notebook_runs_top_to_bottom(work):
    with open(os.path.join(EXAMPLES, "notebook.ipynb"), encoding="utf-8") as f:
        notebook = nbformat.read(f, as_version=4)
    client = NotebookClient(notebook, timeout=300, kernel_name="python3",
                            resources={"metadata": {"path": EXAMPLES}})
    client.execute()
    outputs = [o for cell in notebook.cells if cell.cell_type == "code" for o in cell.outputs]
    assert not [o for o in outputs if o.output_type == "error"]
    # The map was drawn and the batch's table shown.
    assert any("image/png" in o.get("data", {}) for o in outputs)
    assert any("lattice_energy" in o.get("data", {}).get("text/plain", "") for o in outputs)
