# SPDX-License-Identifier: MIT
# The .pyi stub, the docstrings and the module name the same functions,
# parameters, defaults and dict keys.
import ast
import pathlib

import tapsmith

STUB = ast.parse((pathlib.Path(__file__).resolve().parent.parent / "tapsmith.pyi").read_text())


def stub_signature(node):
    """"name(a, b=8, ...)" from a def of the stub."""
    args = node.args.args
    defaults = [None] * (len(args) - len(node.args.defaults)) + node.args.defaults
    parts = [a.arg if d is None else f"{a.arg}={ast.unparse(d)}" for a, d in zip(args, defaults)]
    return f"{node.name}({', '.join(parts)})"


def test_every_function_is_stubbed_and_documented_alike():
    stubbed = {node.name: stub_signature(node) for node in STUB.body if isinstance(node, ast.FunctionDef)}
    assert set(stubbed) == {name for name in dir(tapsmith) if not name.startswith("_")}
    for name, signature in stubbed.items():
        first_line = getattr(tapsmith, name).__doc__.splitlines()[0]
        assert first_line.startswith(signature + " -> "), (name, first_line)


def test_the_figures_dict_has_the_stubbed_keys_in_order():
    typed = next(node for node in STUB.body if isinstance(node, ast.ClassDef) and node.name == "FixedFigures")
    keys = [item.target.id for item in typed.body if isinstance(item, ast.AnnAssign)]
    assert list(tapsmith.fixed_figures(5, 1.0)) == keys


def test_version_is_the_projects():
    cmake_lists = (pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt").read_text()
    assert f"VERSION {tapsmith.__version__}\n" in cmake_lists
