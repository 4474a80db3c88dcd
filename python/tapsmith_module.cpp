// SPDX-License-Identifier: MIT
// The tapsmith Python module, for testbenches: the kernel's taps, figures
// and golden-model filter, and the report, reached from Python. This file
// only translates: it converts the arguments, calls the C++ function and
// wraps the result. Every message is the command line's, and every
// signature pybind11 shows (help(), the stub's test) is the real one.
#include "figure_fields.hpp"
#include "report.hpp"
#include "settings.hpp"

#include <tapsmith/fixed.hpp>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#ifndef TAPSMITH_VERSION
#define TAPSMITH_VERSION "unknown"
#endif

namespace py = pybind11;

namespace {

// A Python int read whole, however large: `value` saturated to int64,
// `text` its decimal form for a message that quotes it. numpy's integers
// are ints (through __index__); bool and float are not.
struct whole_number {
    std::int64_t value = 0;
    std::string text;
    bool beyond_int64 = false;  // value is then saturated

    // Inside [low, high]?
    [[nodiscard]] bool within(std::int64_t low, std::int64_t high) const {
        return !beyond_int64 && value >= low && value <= high;
    }
};

// An int, or the word "auto" for a size tapsmith-fixed works out.
struct int_or_auto {
    bool is_auto = false;
    whole_number number;
};

}  // namespace

namespace pybind11::detail {

template <>
struct type_caster<whole_number> {
    PYBIND11_TYPE_CASTER(whole_number, const_name("int"));

    bool load(handle src, bool /*convert*/) {
        if (!src || PyBool_Check(src.ptr()) != 0) {
            return false;
        }
        const auto index = reinterpret_steal<object>(PyNumber_Index(src.ptr()));
        if (!index) {
            PyErr_Clear();
            return false;
        }
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        value.text = str(index);
        value.beyond_int64 = overflow != 0;
        value.value = overflow < 0   ? std::numeric_limits<std::int64_t>::min()
                      : overflow > 0 ? std::numeric_limits<std::int64_t>::max()
                                     : v;
        return true;
    }

    static handle cast(const whole_number& v, return_value_policy /*policy*/, handle /*parent*/) {
        return PyLong_FromLongLong(v.value);
    }
};

template <>
struct type_caster<int_or_auto> {
    PYBIND11_TYPE_CASTER(int_or_auto, const_name("Union[int, Literal['auto']]"));

    bool load(handle src, bool convert) {
        if (src && PyUnicode_Check(src.ptr()) != 0) {
            value.is_auto = src.cast<std::string>() == "auto";
            return value.is_auto;
        }
        type_caster<whole_number> number;
        if (!number.load(src, convert)) {
            return false;
        }
        value.is_auto = false;
        value.number = static_cast<whole_number&>(number);
        return true;
    }

    static handle cast(const int_or_auto& v, return_value_policy policy, handle parent) {
        if (v.is_auto) {
            return str("auto").release();
        }
        return type_caster<whole_number>::cast(v.number, policy, parent);
    }
};

}  // namespace pybind11::detail

namespace {

constexpr std::int64_t int32_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();

// A number that saturates at the edges of int32 when read, for values the
// kernel then refuses by their range.
std::int32_t saturated(const whole_number& v) {
    return static_cast<std::int32_t>(v.value < int32_min   ? int32_min
                                     : v.value > int32_max ? int32_max
                                                           : v.value);
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
tapsmith::fixed_settings settings_from(const int_or_auto& n, double sigma, const int_or_auto& bits,
                                       const whole_number& pixel_bits, const std::string& how,
                                       bool minimize_adders = false, double max_error = 1.0) {
    tapsmith::fixed_settings s;
    s.minimize_adders = minimize_adders;
    s.max_error = max_error;
    std::string n_text;
    s.n_auto = n.is_auto;
    if (!s.n_auto) {
        // Outside int32 the count is invalid whatever it is; the message
        // quotes the number as given.
        s.n = n.number.within(int32_min, int32_max) ? static_cast<std::int32_t>(n.number.value) : 0;
        n_text = n.number.text;
    }
    s.sigma = sigma;
    s.bits_auto = bits.is_auto;
    if (!s.bits_auto) {
        if (!bits.number.within(int32_min, int32_max)) {
            throw py::value_error(tapsmith::quoted(tapsmith::bad_bits, bits.number.text));
        }
        s.bits = static_cast<std::int32_t>(bits.number.value);
    }
    if (!pixel_bits.within(int32_min, int32_max)) {
        throw py::value_error(tapsmith::quoted(tapsmith::bad_pixel_bits, pixel_bits.text));
    }
    s.pixel_bits = static_cast<std::int32_t>(pixel_bits.value);
    s.how = read_sampling(how);
    const std::string message = check_settings(s, tapsmith::setting_texts{n_text, {}});
    if (!message.empty()) {
        throw py::value_error(message);
    }
    return s;
}

tapsmith::taps_figures figures_for(const tapsmith::fixed_settings& s) {
    tapsmith::taps_figures f;
    const tapsmith::status done = tapsmith::get_taps_figures(s, f);
    if (done == tapsmith::status::none_fits) {
        throw py::value_error(tapsmith::no_cheapest_taps(s));
    }
    if (done != tapsmith::status::ok) {
        PyErr_SetString(PyExc_MemoryError, tapsmith::describe(done));
        throw py::error_already_set();
    }
    return f;
}

py::object python_value(const tapsmith::field_value& v) {
    using kind = tapsmith::field_value::kind;
    switch (v.what) {
        case kind::integer:
            return py::int_(v.integer);
        case kind::real:
            return py::float_(v.real);
        case kind::text:
            return py::str(std::string(v.text));
        case kind::list:
            return py::cast(v.rows[0]);
        case kind::rows:
            break;
    }
    return py::cast(v.rows);
}

std::vector<std::int64_t> fixed_taps(const int_or_auto& n, double sigma, const int_or_auto& bits,
                                     const std::string& sampling) {
    const tapsmith::fixed_settings s = settings_from(n, sigma, bits, {8, "8", false}, sampling);
    const tapsmith::taps_figures f = figures_for(s);
    return {f.taps.begin(), f.taps.begin() + s.n};
}

py::dict figures_dict(const tapsmith::taps_figures& f) {
    py::dict d;
    for (const tapsmith::figure_field& field : tapsmith::figure_fields()) {
        d[py::str(std::string(field.name))] = python_value(field.value(f));
    }
    return d;
}

py::dict fixed_figures(const int_or_auto& n, double sigma, const int_or_auto& bits,
                       const whole_number& pixel_bits, const std::string& sampling) {
    return figures_dict(figures_for(settings_from(n, sigma, bits, pixel_bits, sampling)));
}

// What `tapsmith-fixed --format=json --minimize=adders` prints.
py::dict cheapest_taps(const int_or_auto& n, double sigma, const whole_number& pixel_bits, double max_error,
                       const int_or_auto& max_bits, const std::string& sampling) {
    const tapsmith::taps_figures f =
        figures_for(settings_from(n, sigma, max_bits, pixel_bits, sampling, true, max_error));
    py::dict d = figures_dict(f);
    py::dict minimized;
    minimized["for"] = "adders";
    minimized["max_error"] = max_error;
    minimized["max_bits"] = f.searched_bits;
    minimized["proven"] = f.proven;
    d["minimized"] = minimized;
    return d;
}

template <typename Pixel>
py::array blur_pixels(const py::array& image, const std::vector<std::int64_t>& taps,
                      const tapsmith::blur_options& options) {
    // A contiguous array of the same dtype is used as it is; any other
    // (a slice with a step, a transposed view) is copied into one first, so
    // the kernel reads plain interleaved rows.
    const auto in = py::array_t<Pixel, py::array::c_style>::ensure(image);
    if (!in) {
        throw py::type_error("image: cannot be read as a C-contiguous array");
    }
    // numpy's shape is (height, width[, channels]).
    const tapsmith::image_size size{static_cast<std::size_t>(in.shape(1)),
                                    static_cast<std::size_t>(in.shape(0)),
                                    in.ndim() == 3 ? static_cast<std::size_t>(in.shape(2)) : 1};
    py::array_t<Pixel> out(std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
    const Pixel* source = in.data();
    Pixel* target = out.mutable_data();
    tapsmith::blur_options o = options;
    o.taps = taps.data();
    tapsmith::status status = tapsmith::status::ok;
    {
        // The kernel touches no Python object: other threads run meanwhile.
        const py::gil_scoped_release unlocked;
        status = tapsmith::blur(source, target, size, o);
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

py::array blur(const py::array& image, const std::vector<std::int64_t>& taps, const whole_number& bits,
               const std::string& border, const std::optional<whole_number>& pixel_bits,
               const whole_number& threads) {
    if (image.ndim() != 2 && image.ndim() != 3) {
        throw py::type_error("image: expected shape (height, width) or (height, width, channels), got " +
                             std::to_string(image.ndim()) + " dimensions");
    }
    const bool wide = py::isinstance<py::array_t<std::uint16_t>>(image);
    if (!wide && !py::isinstance<py::array_t<std::uint8_t>>(image)) {
        throw py::type_error("image: expected dtype uint8 or uint16, got " +
                             std::string(py::str(image.dtype())));
    }
    // The library reads 0 and below as one thread per core; here only 0
    // means that, and a negative count is a mistake to say so.
    if (!threads.within(0, std::numeric_limits<std::int64_t>::max())) {
        throw py::value_error(
            tapsmith::quoted("invalid thread count (0 for one per core, or more):", threads.text));
    }
    tapsmith::blur_options o;
    // More than FIXED_MAX taps, or widths out of range, saturate: the
    // kernel then refuses them rather than a wrapped-around value.
    o.n = static_cast<std::int32_t>(
        taps.size() > static_cast<std::size_t>(int32_max) ? int32_max : std::int64_t(taps.size()));
    o.bits = saturated(bits);
    o.pixel_bits = pixel_bits ? saturated(*pixel_bits) : (wide ? 16 : 8);
    o.how = read_border(border);
    o.threads = saturated(threads);  // no more run than the image has rows
    return wide ? blur_pixels<std::uint16_t>(image, taps, o) : blur_pixels<std::uint8_t>(image, taps, o);
}

std::string report(const whole_number& dim_mask, double sigma) {
    // The program reads DIM_MASK with strtol, which saturates at the range
    // of a 64-bit long; a Python int saturates the same way.
    return tapsmith::report_text(dim_mask.value, sigma);
}

}  // namespace

PYBIND11_MODULE(tapsmith, m) {
    m.doc() =
        "tapsmith: Gaussian filter taps that sum to exactly 2^bits, their error figures, and the\n"
        "exact fixed-point filter (the golden model) hardware output is checked against.\n"
        "Every function gives what the tapsmith and tapsmith-fixed programs give, and refuses\n"
        "what they refuse, with their messages.";
    m.attr("__version__") = TAPSMITH_VERSION;

    m.def("fixed_taps", &fixed_taps, py::arg("n"), py::arg("sigma"), py::arg("bits") = 8,
          py::arg("sampling") = "point",
          "The n integer taps that sum to exactly 2**bits for a Gaussian of standard deviation\n"
          "sigma, as `tapsmith-fixed --bits=BITS --sampling=SAMPLING N SIGMA` prints them.\n"
          "n is an odd int from 1 to 127 or 'auto'; bits an int from 1 to 30 or 'auto';\n"
          "sampling 'point' or 'area'. Raises ValueError with the program's message.");
    m.def("fixed_figures", &fixed_figures, py::arg("n"), py::arg("sigma"), py::arg("bits") = 8,
          py::arg("pixel_bits") = 8, py::arg("sampling") = "point",
          "Everything `tapsmith-fixed --format=json` prints, as a dict with the same keys and\n"
          "values in the same order: the resolved dim_mask and bits, the taps and the 2-D mask,\n"
          "their sums and errors, the worst-case output errors, the Nyquist gains, the largest\n"
          "deviation of the frequency response, the accumulator widths for pixel_bits-bit pixels\n"
          "and the adder plan. Raises ValueError with the program's message.");
    m.def("cheapest_taps", &cheapest_taps, py::arg("n"), py::arg("sigma"), py::arg("pixel_bits") = 8,
          py::arg("max_error") = 1.0, py::arg("max_bits") = 30, py::arg("sampling") = "point",
          "The taps whose filter passes cost the fewest adders as shifts and adds (the count the\n"
          "cores build), of every B from 1 to max_bits, with a worst-case 2-D error below max_error\n"
          "LSB for pixel_bits-bit pixels; ties to the smaller error, then the smaller B. The dict\n"
          "`tapsmith-fixed --format=json --minimize=adders` prints: fixed_figures' keys for the taps\n"
          "found, then 'minimized' with 'proven' (always true up to 9 taps). max_bits 'auto' is 30.\n"
          "Raises ValueError with the program's message, also when no taps meet the bound.");
    m.def("blur", &blur, py::arg("image"), py::arg("taps"), py::arg("bits"), py::arg("border") = "reflect101",
          py::arg("pixel_bits") = py::none(), py::arg("threads") = 1,
          "The exact separable filter with integer taps summing to 2**bits, one rounding (half\n"
          "up) at the end: the golden model `tapsmith-fixed --apply` runs (which keeps a PNG's\n"
          "alpha as it was). image is a numpy uint8 or uint16 array of shape (H, W) or\n"
          "(H, W, C), C <= 4, every channel filtered on its own; any strides. border is\n"
          "'reflect101', 'replicate' or 'zero'. pixel_bits (default: the dtype's width) bounds\n"
          "the input pixels. threads (default 1; 0 for one per core) share the rows; the result\n"
          "is the same for every count. Returns a new array of the same dtype and shape.\n"
          "Releases the GIL while it filters.\n"
          "Raises TypeError for another dtype or shape, ValueError for bad taps, bits, sizes,\n"
          "pixels or a negative thread count.");
    // The report touches no Python object: other threads run while it is made.
    m.def("report", &report, py::arg("dim_mask") = 5, py::arg("sigma") = 1.0,
          py::call_guard<py::gil_scoped_release>(),
          "The report `tapsmith DIM_MASK SIGMA` prints, byte for byte: the sampled Gaussian, its\n"
          "integer and power-of-two masks, their normalisation factors and errors. Releases the\n"
          "GIL while it works.");
}
