// SPDX-License-Identifier: MIT
// What the PNG readers and writers share inside this library.
#pragma once
#include <string>
#include <string_view>

namespace tapsmith::detail {

// "cannot write 'NAME': WHY"
std::string unwritten(const char* name, std::string_view why);

}  // namespace tapsmith::detail
