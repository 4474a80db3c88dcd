// SPDX-License-Identifier: MIT
// tapsmith-fixed's command line, read into a value; nothing is printed here.
#pragma once

#include "settings.hpp"

#include <string>
#include <string_view>

namespace tapsmith {

struct format_entry;

struct fixed_options {
    fixed_settings settings;               // checked, unless an image is to be read first (apply)
    setting_texts shown;                   // the operands as given, for messages
    const format_entry* format = nullptr;  // never null after a successful parse
    std::string_view name = "gauss";       // identifier prefix of the c, sv and vhdl outputs
    // Filtering an image: --apply=IN --output=OUT [--border=...] [--vectors=PREFIX]
    const char* apply = nullptr;
    const char* output = nullptr;
    const char* vectors = nullptr;
    border edge = border::reflect101;
    int png_compression = 1;  // --png-compression: 0 stores, 1 fast, .. 9 smallest
    int threads = 0;          // --threads: 0 for one per core
    int ppc = 0;              // --ppc: vectors as beats of this many pixels; 0 a sample a line
    bool bits_given = false;  // --bits on the command line, as a number or auto
};

struct parsed_command {
    enum class action { run, help, version, usage_error };
    action what = action::run;
    fixed_options options;
    std::string message;  // what is wrong, for a usage error
};

parsed_command parse_command(int argc, char** argv);

extern const std::string_view usage_text;

}  // namespace tapsmith
