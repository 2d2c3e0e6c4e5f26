#include "tools/host/PageText.h"

#include <cctype>
#include <cstdint>

#include "platform/com/Automation.h"

namespace picvoxhost {

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string decodeReferences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const auto semi = text.find(';', i);
        // References are short; anything longer is a plain "&".
        if (semi == std::string_view::npos || semi - i > 10) {
            out += '&';
            continue;
        }
        const std::string_view ref = text.substr(i + 1, semi - i - 1);
        std::optional<std::uint32_t> cp;
        if (ref == "quot")
            cp = '"';
        else if (ref == "amp")
            cp = '&';
        else if (ref == "lt")
            cp = '<';
        else if (ref == "gt")
            cp = '>';
        else if (ref == "apos")
            cp = '\'';
        else if (ref.size() >= 2 && ref[0] == '#') {
            const bool hex = ref[1] == 'x' || ref[1] == 'X';
            const std::string_view digits = ref.substr(hex ? 2 : 1);
            std::uint32_t v = 0;
            bool ok = !digits.empty();
            for (char c : digits) {
                const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                              : hex && std::isxdigit(static_cast<unsigned char>(c))
                                  ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                                  : -1;
                if (d < 0 || v > 0x10FFFF) {
                    ok = false;
                    break;
                }
                v = v * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
            }
            if (ok)
                cp = v;
        }
        if (!cp) {
            out += '&';
            continue;
        }
        // A character reference to NUL would cut the text short: it reads as U+FFFD.
        platform::com::appendUtf8(out, *cp == 0 ? U'\uFFFD' : static_cast<char32_t>(*cp));
        i = semi;
    }
    return out;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

}  // namespace

std::optional<InputElement> parseInputElement(std::string_view html) {
    std::size_t i = 0;
    while (i < html.size() && isSpace(html[i]))
        ++i;
    if (i >= html.size() || html[i] != '<')
        return std::nullopt;
    ++i;
    std::size_t tagEnd = i;
    while (tagEnd < html.size() && std::isalpha(static_cast<unsigned char>(html[tagEnd])))
        ++tagEnd;
    if (!equalsIgnoreCase(html.substr(i, tagEnd - i), "input"))
        return std::nullopt;
    i = tagEnd;

    std::optional<std::string> name;
    std::string value;
    while (i < html.size()) {
        while (i < html.size() && isSpace(html[i]))
            ++i;
        if (i >= html.size() || html[i] == '>' || html[i] == '/')
            break;
        const std::size_t attrStart = i;
        while (i < html.size() && !isSpace(html[i]) && html[i] != '=' && html[i] != '>')
            ++i;
        const std::string_view attr = html.substr(attrStart, i - attrStart);
        while (i < html.size() && isSpace(html[i]))
            ++i;
        std::string_view raw;
        if (i < html.size() && html[i] == '=') {
            ++i;
            while (i < html.size() && isSpace(html[i]))
                ++i;
            if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
                const char quote = html[i++];
                const auto close = html.find(quote, i);
                if (close == std::string_view::npos)
                    return std::nullopt;  // an unterminated value: not an element we trust
                raw = html.substr(i, close - i);
                i = close + 1;
            } else {
                const std::size_t start = i;
                while (i < html.size() && !isSpace(html[i]) && html[i] != '>')
                    ++i;
                raw = html.substr(start, i - start);
            }
        }
        if (equalsIgnoreCase(attr, "name") && !name)
            name = decodeReferences(raw);
        else if (equalsIgnoreCase(attr, "value"))
            value = decodeReferences(raw);
    }
    if (!name || name->empty())
        return std::nullopt;
    return InputElement{*name, value};
}

namespace {

void appendOneLine(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += "\\n";
        } else if (text[i] == '\n') {
            out += "\\n";
        } else {
            out += text[i];
        }
    }
}

}  // namespace

std::string elementLine(const InputElement& element) {
    std::string line = "element ";
    appendOneLine(line, element.name);
    line += ' ';
    appendOneLine(line, element.value);
    return line;
}

std::string statusLine(std::string_view text) {
    std::string line = "status";
    if (!text.empty()) {
        line += ' ';
        appendOneLine(line, text);
    }
    return line;
}

std::string messageLine(std::string_view caption, std::string_view text) {
    std::string line = "message ";
    appendOneLine(line, caption);
    line += ": ";
    appendOneLine(line, text);
    return line;
}

}  // namespace picvoxhost
