// SPDX-License-Identifier: MIT
// The tapsmith Python module, for testbenches: the kernel's taps, figures
// and golden-model filter, and the report, reached from Python. This file
// only translates: it checks and converts the arguments, calls the C++
// function and wraps the result. Every message is the command line's.
#include "report.hpp"
#include "settings.hpp"

#include <tapsmith/fixed.hpp>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#ifndef TAPSMITH_VERSION
#define TAPSMITH_VERSION "unknown"
#endif

namespace py = pybind11;

namespace {

// A Python integer has no bounds, so it is read whole: `fits` says whether
// it is inside [low, high], `value` is then exact, else saturated there,
// and `text` is its decimal form for a message that quotes it.
struct whole_number {
    std::int64_t value = 0;
    bool fits = false;
    std::string text;
};

whole_number read_integer(py::handle object, std::int64_t low, std::int64_t high) {
    // bool is an int to Python, but True taps or True bits is a mistake.
    if (PyBool_Check(object.ptr()) != 0) {
        throw py::type_error("expected an int, not bool");
    }
    // __index__ takes numpy's integers too and refuses floats with a TypeError.
    const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(object.ptr()));
    if (!index) {
        throw py::error_already_set();
    }
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    whole_number result;
    result.text = py::str(index);
    if (overflow != 0) {
        result.value = overflow < 0 ? low : high;
        return result;
    }
    result.value = v < low ? low : (v > high ? high : v);
    result.fits = v >= low && v <= high;
    return result;
}

constexpr std::int64_t int32_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();

bool is_auto(py::handle object) {
    if (!py::isinstance<py::str>(object)) {
        return false;
    }
    if (object.cast<std::string>() != "auto") {
        throw py::type_error("expected an int or \"auto\", not the string '" + object.cast<std::string>() +
                             "'");
    }
    return true;
}

tapsmith::sampling read_sampling(const std::string& text) {
    for (const tapsmith::sampling how : {tapsmith::sampling::point, tapsmith::sampling::area}) {
        if (tapsmith::sampling_name(how) == text) {
            return how;
        }
    }
    throw py::value_error(tapsmith::quoted(tapsmith::bad_sampling, text));
}

tapsmith::border read_border(const std::string& text) {
    tapsmith::border how{};
    if (!tapsmith::find_border(text, how)) {
        throw py::value_error(tapsmith::quoted(tapsmith::bad_border, text));
    }
    return how;
}

// The settings tapsmith-fixed would run with, checked and resolved by the
// same code as its options, or ValueError with its message.
tapsmith::fixed_settings settings_from(py::handle n, double sigma, py::handle bits, py::handle pixel_bits,
                                       const std::string& how) {
    tapsmith::fixed_settings s;
    std::string n_text;
    s.n_auto = is_auto(n);
    if (!s.n_auto) {
        // Outside int32 the count is invalid whatever it is; the message
        // quotes the number as given.
        const whole_number v = read_integer(n, int32_min, int32_max);
        s.n = v.fits ? static_cast<std::int32_t>(v.value) : 0;
        n_text = v.text;
    }
    s.sigma = sigma;
    s.bits_auto = is_auto(bits);
    if (!s.bits_auto) {
        const whole_number v = read_integer(bits, int32_min, int32_max);
        if (!v.fits) {
            throw py::value_error(tapsmith::quoted(tapsmith::bad_bits, v.text));
        }
        s.bits = static_cast<std::int32_t>(v.value);
    }
    const whole_number p = read_integer(pixel_bits, int32_min, int32_max);
    if (!p.fits) {
        throw py::value_error(tapsmith::quoted(tapsmith::bad_pixel_bits, p.text));
    }
    s.pixel_bits = static_cast<std::int32_t>(p.value);
    s.how = read_sampling(how);
    const std::string message = check_settings(s, tapsmith::setting_texts{n_text, {}});
    if (!message.empty()) {
        throw py::value_error(message);
    }
    return s;
}

struct taps_and_samples {
    tapsmith::fixed_taps taps{};
    tapsmith::fixed_samples gf{};
};

taps_and_samples taps_for(const tapsmith::fixed_settings& s) {
    taps_and_samples t;
    // check_settings has made sure both succeed; failing here is our bug.
    if (tapsmith::get_fixed_samples(s.n, s.sigma, s.how, t.gf) != tapsmith::status::ok ||
        tapsmith::get_fixed_taps(s.n, s.sigma, s.bits, s.how, t.taps) != tapsmith::status::ok) {
        throw std::logic_error("tapsmith: no taps for settings that passed the checks");
    }
    return t;
}

py::list int_list(const std::int64_t* values, std::int32_t count) {
    py::list list;
    for (std::int32_t i = 0; i < count; ++i) {
        list.append(values[i]);
    }
    return list;
}

py::list fixed_taps(py::handle n, double sigma, py::handle bits, const std::string& how) {
    const tapsmith::fixed_settings s = settings_from(n, sigma, bits, py::int_(8), how);
    const taps_and_samples t = taps_for(s);
    return int_list(t.taps.data(), s.n);
}

py::dict fixed_figures(py::handle n, double sigma, py::handle bits, py::handle pixel_bits,
                       const std::string& how) {
    const tapsmith::fixed_settings s = settings_from(n, sigma, bits, pixel_bits, how);
    const taps_and_samples t = taps_for(s);
    const tapsmith::fixed_figures f = tapsmith::get_fixed_figures(s.n, s.bits, s.pixel_bits, t.taps, t.gf);
    // The mask and the widths are the JSON output's products and sums of
    // checked values (at most 2^60 and 92): nothing here can overflow.
    py::list rows;
    for (std::int32_t i = 0; i < s.n; ++i) {
        py::list row;
        for (std::int32_t j = 0; j < s.n; ++j) {
            row.append(t.taps[static_cast<std::size_t>(i)] * t.taps[static_cast<std::size_t>(j)]);
        }
        rows.append(row);
    }
    py::dict d;
    d["dim_mask"] = s.n;
    d["sigma"] = s.sigma;
    d["bits"] = s.bits;
    d["pixel_bits"] = s.pixel_bits;
    d["sampling"] = std::string(tapsmith::sampling_name(s.how));
    d["taps"] = int_list(t.taps.data(), s.n);
    d["sum"] = f.sum;
    d["shift"] = s.bits;
    d["max_error"] = f.max_error;
    d["mask"] = rows;
    d["mask_sum"] = f.mask_sum;
    d["mask_max_error"] = f.mask_max_error;
    d["worst_error_1d"] = f.worst_error_1d;
    d["worst_error_2d"] = f.worst_error_2d;
    d["nyquist_gain"] = f.nyquist_gain;
    d["float_nyquist_gain"] = f.float_nyquist_gain;
    d["response_max_deviation"] = f.response_max_deviation;
    d["accumulator_bits_1d"] = s.pixel_bits + s.bits;
    d["accumulator_bits_2d"] = s.pixel_bits + 2 * s.bits;
    return d;
}

template <typename Pixel>
py::array blur_pixels(py::handle image, const std::vector<std::int64_t>& taps, std::int32_t bits,
                      std::int32_t pixel_bits, tapsmith::border how) {
    // A contiguous array of the same dtype is used as it is; any other
    // (a slice with a step, a transposed view) is copied into one first, so
    // the kernel reads plain interleaved rows.
    const auto in = py::array_t<Pixel, py::array::c_style>::ensure(image);
    if (!in) {
        throw py::type_error("image: cannot be read as a C-contiguous array");
    }
    const auto dimensions = static_cast<std::size_t>(in.ndim());
    const auto height = static_cast<std::size_t>(in.shape(0));
    const auto width = static_cast<std::size_t>(in.shape(1));
    const std::size_t channels = dimensions == 3 ? static_cast<std::size_t>(in.shape(2)) : 1;
    py::array_t<Pixel> out(std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
    // More than FIXED_MAX taps is refused by the kernel; saturating keeps a
    // huge list from wrapping around to a valid count.
    const auto count = static_cast<std::int32_t>(taps.size() > static_cast<std::size_t>(int32_max)
                                                     ? int32_max
                                                     : static_cast<std::int64_t>(taps.size()));
    const Pixel* source = in.data();
    Pixel* target = out.mutable_data();
    tapsmith::status status = tapsmith::status::ok;
    {
        // The kernel touches no Python object: other threads run meanwhile.
        const py::gil_scoped_release unlocked;
        status = tapsmith::blur(source, target, {width, height, channels},
                                {count, taps.data(), bits, pixel_bits, how});
    }
    if (status == tapsmith::status::out_of_memory) {
        PyErr_SetString(PyExc_MemoryError, tapsmith::describe(status));
        throw py::error_already_set();
    }
    if (status != tapsmith::status::ok) {
        throw py::value_error(tapsmith::describe(status));
    }
    return out;
}

std::int32_t saturated_int32(py::handle object) {
    return static_cast<std::int32_t>(read_integer(object, int32_min, int32_max).value);
}

py::array blur(py::handle image, const std::vector<std::int64_t>& taps, py::handle bits,
               const std::string& border, py::handle pixel_bits) {
    if (!py::isinstance<py::array>(image)) {
        throw py::type_error("image: expected a numpy array of uint8 or uint16");
    }
    const auto array = py::reinterpret_borrow<py::array>(image);
    if (array.ndim() != 2 && array.ndim() != 3) {
        throw py::type_error("image: expected shape (height, width) or (height, width, channels), got " +
                             std::to_string(array.ndim()) + " dimensions");
    }
    const tapsmith::border how = read_border(border);
    const bool wide = py::isinstance<py::array_t<std::uint16_t>>(image);
    if (!wide && !py::isinstance<py::array_t<std::uint8_t>>(image)) {
        throw py::type_error("image: expected dtype uint8 or uint16, got " +
                             std::string(py::str(array.dtype())));
    }
    // Out-of-range widths saturate: the kernel then refuses them.
    const std::int32_t b = saturated_int32(bits);
    const std::int32_t p = pixel_bits.is_none() ? (wide ? 16 : 8) : saturated_int32(pixel_bits);
    return wide ? blur_pixels<std::uint16_t>(image, taps, b, p, how)
                : blur_pixels<std::uint8_t>(image, taps, b, p, how);
}

std::string report(py::handle dim_mask, double sigma) {
    // The program reads DIM_MASK with strtol, which saturates at the range
    // of a 64-bit long; a Python int saturates the same way.
    const whole_number n = read_integer(dim_mask, std::numeric_limits<std::int64_t>::min(),
                                        std::numeric_limits<std::int64_t>::max());
    return tapsmith::report_text(n.value, sigma);
}

}  // namespace

PYBIND11_MODULE(tapsmith, m) {
    m.doc() =
        "tapsmith: Gaussian filter taps that sum to exactly 2^bits, their error figures, and the\n"
        "exact fixed-point filter (the golden model) hardware output is checked against.\n"
        "Every function gives what the tapsmith and tapsmith-fixed programs give, and refuses\n"
        "what they refuse, with their messages.";
    m.attr("__version__") = TAPSMITH_VERSION;
    // The docstrings open with the Python-level signatures; pybind11's own
    // would show the handles the arguments arrive as.
    py::options options;
    options.disable_function_signatures();

    m.def("fixed_taps", &fixed_taps, py::arg("n"), py::arg("sigma"), py::arg("bits") = 8,
          py::arg("sampling") = "point",
          "fixed_taps(n, sigma, bits=8, sampling='point') -> list[int]\n\n"
          "The n integer taps that sum to exactly 2**bits for a Gaussian of standard deviation\n"
          "sigma, as `tapsmith-fixed --bits=BITS --sampling=SAMPLING N SIGMA` prints them.\n"
          "n is an odd int from 1 to 127 or 'auto'; bits an int from 1 to 30 or 'auto';\n"
          "sampling 'point' or 'area'. Raises ValueError with the program's message.");
    m.def("fixed_figures", &fixed_figures, py::arg("n"), py::arg("sigma"), py::arg("bits") = 8,
          py::arg("pixel_bits") = 8, py::arg("sampling") = "point",
          "fixed_figures(n, sigma, bits=8, pixel_bits=8, sampling='point') -> dict\n\n"
          "Everything `tapsmith-fixed --format=json` prints, as a dict with the same keys and\n"
          "values: the resolved dim_mask and bits, the taps and the 2-D mask, their sums and\n"
          "errors, the worst-case output errors, the Nyquist gains, the largest deviation of the\n"
          "frequency response and the accumulator widths for pixel_bits-bit pixels.\n"
          "Raises ValueError with the program's message.");
    m.def("blur", &blur, py::arg("image"), py::arg("taps"), py::arg("bits"), py::arg("border") = "reflect101",
          py::arg("pixel_bits") = py::none(),
          "blur(image, taps, bits, border='reflect101', pixel_bits=None) -> numpy.ndarray\n\n"
          "The exact separable filter with integer taps summing to 2**bits, one rounding (half\n"
          "up) at the end: the golden model `tapsmith-fixed --apply` runs (which keeps a PNG's\n"
          "alpha as it was). image is a numpy uint8 or uint16 array of shape (H, W) or\n"
          "(H, W, C), C <= 4, every channel filtered on its own; any strides. border is\n"
          "'reflect101', 'replicate' or 'zero'. pixel_bits (default: the dtype's width) bounds\n"
          "the input pixels. Returns a new array of the same dtype and shape. Releases the GIL\n"
          "while it filters.\n"
          "Raises TypeError for another dtype or shape, ValueError for bad taps, bits, sizes\n"
          "or pixels.");
    m.def("report", &report, py::arg("dim_mask") = 5, py::arg("sigma") = 1.0,
          "report(dim_mask=5, sigma=1.0) -> str\n\n"
          "The report `tapsmith DIM_MASK SIGMA` prints, byte for byte: the sampled Gaussian, its\n"
          "integer and power-of-two masks, their normalisation factors and errors.");
}
