# SPDX-License-Identifier: MIT
# Types of the tapsmith extension module, for editors and type checkers.
from typing import Literal, TypedDict, Union

import numpy as np
import numpy.typing as npt

__version__: str

Sampling = Literal["point", "area"]
Border = Literal["reflect101", "replicate", "zero"]
Pixels = Union[npt.NDArray[np.uint8], npt.NDArray[np.uint16]]

class FixedFigures(TypedDict):
    dim_mask: int
    sigma: float
    bits: int
    pixel_bits: int
    sampling: Sampling
    taps: list[int]
    sum: int
    shift: int
    max_error: float
    mask: list[list[int]]
    mask_sum: int
    mask_max_error: float
    worst_error_1d: float
    worst_error_2d: float
    nyquist_gain: float
    float_nyquist_gain: float
    response_max_deviation: float
    accumulator_bits_1d: int
    accumulator_bits_2d: int
    adders_per_pass: int
    pre_adds: int
    digit_adders: int
    tree_adders: int
    signed_digits: list[list[int]]

# "for" is a keyword: the functional form.
Minimized = TypedDict("Minimized", {"for": Literal["adders"], "max_error": float, "max_bits": int, "proven": bool})

class CheapestFigures(FixedFigures):
    minimized: Minimized

def fixed_taps(
    n: Union[int, Literal["auto"]],
    sigma: float,
    bits: Union[int, Literal["auto"]] = 8,
    sampling: Sampling = "point",
) -> list[int]: ...
def fixed_figures(
    n: Union[int, Literal["auto"]],
    sigma: float,
    bits: Union[int, Literal["auto"]] = 8,
    pixel_bits: int = 8,
    sampling: Sampling = "point",
) -> FixedFigures: ...
def cheapest_taps(
    n: Union[int, Literal["auto"]],
    sigma: float,
    pixel_bits: int = 8,
    max_error: float = 1.0,
    max_bits: Union[int, Literal["auto"]] = 30,
    sampling: Sampling = "point",
) -> CheapestFigures: ...
def blur(
    image: Pixels,
    taps: list[int],
    bits: int,
    border: Border = "reflect101",
    pixel_bits: Union[int, None] = None,
    threads: int = 1,
) -> Pixels: ...
def report(dim_mask: int = 5, sigma: float = 1.0) -> str: ...
