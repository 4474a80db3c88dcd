# SPDX-License-Identifier: MIT
# The .pyi stub against the module itself: the same functions, parameters
# and defaults as the signatures pybind11 shows (help() prints them from the
# real C++ parameters), and the same figure keys, in order, with values of
# the stubbed types.
import ast
import pathlib
import re

import tapsmith

STUB = ast.parse((pathlib.Path(__file__).resolve().parent.parent / "tapsmith.pyi").read_text())


def stub_parameters(node):
    """[(name, default or None)] of a def of the stub, defaults as Python source."""
    args = node.args.args
    defaults = [None] * (len(args) - len(node.args.defaults)) + node.args.defaults
    return [(a.arg, None if d is None else ast.literal_eval(d)) for a, d in zip(args, defaults)]


def module_parameters(function):
    """The same from the signature that opens the function's docstring."""
    first = function.__doc__.splitlines()[0]
    match = re.fullmatch(rf"{function.__name__}\((.*)\) -> .+", first)
    assert match, first
    parameters = []
    for part in re.split(r", (?=\w+: )", match.group(1)):
        name, _, rest = part.partition(": ")
        _, equals, default = rest.partition(" = ")
        parameters.append((name, ast.literal_eval(default) if equals else None))
    return parameters


def test_every_function_is_stubbed_with_its_parameters_and_defaults():
    stubbed = {node.name: node for node in STUB.body if isinstance(node, ast.FunctionDef)}
    assert set(stubbed) == {name for name in dir(tapsmith) if not name.startswith("_")}
    for name, node in stubbed.items():
        assert stub_parameters(node) == module_parameters(getattr(tapsmith, name)), name


def test_the_figures_dict_has_the_stubbed_keys_in_order_and_types():
    typed = next(node for node in STUB.body if isinstance(node, ast.ClassDef) and node.name == "FixedFigures")
    fields = [(item.target.id, ast.unparse(item.annotation)) for item in typed.body if isinstance(item, ast.AnnAssign)]
    figures = tapsmith.fixed_figures(9, 1.5, 12)
    assert list(figures) == [name for name, _ in fields]

    def is_a(value, annotation):
        if annotation.startswith("list["):
            return isinstance(value, list) and all(is_a(v, annotation[5:-1]) for v in value)
        expected = {"int": int, "float": float, "str": str, "Sampling": str}[annotation]
        return type(value) is expected

    for name, annotation in fields:
        assert is_a(figures[name], annotation), (name, annotation, figures[name])


def test_version_is_the_projects():
    cmake_lists = (pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt").read_text()
    assert f"VERSION {tapsmith.__version__}\n" in cmake_lists
