#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "control/run/PagePort.h"

namespace picvox::run {

// The INPUT elements the control writes into its page.
enum class InputTemplate {
    Counter,  // <INPUT TYPE="text" NAME="%s" VALUE="%s" SIZE="8" READONLY>
    Folder,   // <INPUT TYPE="text" NAME="%s" VALUE="%s" SIZE="40">
};

// Element texts are built in a buffer of this many bytes, terminator included.
inline constexpr std::size_t kElementTextBytes = 260;

// The element's text with `name` and `value` filled in. Quotes, "&", "<" and ">" in them are
// written as character references, so a folder or element name cannot break out of its
// attribute. Nothing when the text would not fit the buffer: a cut element would show a wrong
// folder.
std::optional<std::string> FormatInputElement(InputTemplate kind, std::string_view name,
                                              std::string_view value);

// Replaces the page element named `name` by the INPUT element. False when the text does not fit
// or the page has no such element; page failures are otherwise silent.
bool SetPageInput(PagePort& page, std::string_view name, std::string_view value,
                  InputTemplate kind);

}  // namespace picvox::run
