#include "control/run/PageInput.h"

namespace picvox::run {

namespace {

std::string escapeAttribute(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '"':
                out += "&quot;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> FormatInputElement(InputTemplate kind, std::string_view name,
                                              std::string_view value) {
    // A cheap bound before escaping: every byte of the two becomes at least one.
    if (name.size() + value.size() >= kElementTextBytes)
        return std::nullopt;
    std::string text = "<INPUT TYPE=\"text\" NAME=\"" + escapeAttribute(name) + "\" VALUE=\"" +
                       escapeAttribute(value) + "\"";
    text += kind == InputTemplate::Counter ? " SIZE=\"8\" READONLY>" : " SIZE=\"40\">";
    if (text.size() >= kElementTextBytes)
        return std::nullopt;
    return text;
}

bool SetPageInput(PagePort& page, std::string_view name, std::string_view value,
                  InputTemplate kind) {
    std::optional<std::string> element = FormatInputElement(kind, name, value);
    if (!element)
        return false;
    return page.replaceElementByInput(name, *element);
}

}  // namespace picvox::run
