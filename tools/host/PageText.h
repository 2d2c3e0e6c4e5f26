#pragma once

// The texts the host reads from the control and prints: INPUT elements that replace page
// elements, message boxes and the status line, as one line each.

#include <optional>
#include <string>
#include <string_view>

namespace picvoxhost {

struct InputElement {
    std::string name;
    std::string value;
};

// NAME and VALUE of an `<INPUT ...>` element, attribute names in any letter case, values quoted
// with " or ' or bare, character references (&quot; &amp; &lt; &gt; &#39; &#NN; &#xNN;) decoded.
// Nothing when the text is not an INPUT element or has no NAME; a missing VALUE is empty.
std::optional<InputElement> parseInputElement(std::string_view html);

// "element NAME VALUE"
std::string elementLine(const InputElement& element);
// "message CAPTION: TEXT", line breaks in either written as \n, so one box is one line.
std::string messageLine(std::string_view caption, std::string_view text);
// "status TEXT" (line breaks as in messageLine); "status" alone when the control cleared it.
std::string statusLine(std::string_view text);

}  // namespace picvoxhost
