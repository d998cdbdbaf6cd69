#include "office/xlsxsheetpatchxml.h"

#include "office/xlsxparts.h"

#include <QtGlobal>

namespace xlsx {

bool parseAttributes(std::string_view text, std::vector<Attribute>& out) {
    out.clear();
    size_t i = 0;
    for (;;) {
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (i == text.size())
            return true;
        const size_t nameStart = i;
        while (i < text.size() && text[i] != '=' && !isSpace(text[i]))
            ++i;
        const std::string_view name = text.substr(nameStart, i - nameStart);
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (name.empty() || i == text.size() || text[i] != '=')
            return false;
        ++i;
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (i == text.size() || (text[i] != '"' && text[i] != '\''))
            return false;
        const char quote = text[i];
        const size_t close = text.find(quote, i + 1);
        if (close == npos)
            return false;
        out.push_back({name, text.substr(i + 1, close - i - 1), text.substr(nameStart, close + 1 - nameStart)});
        i = close + 1;
    }
}

const Attribute* findAttribute(const std::vector<Attribute>& attributes, std::string_view name) {
    for (const Attribute& a : attributes)
        if (a.name == name)
            return &a;
    return nullptr;
}

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            if (uchar(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                out += c;
        }
    }
}

std::string rangeText(int top, int left, int bottom, int right) {
    if (top == bottom && left == right)
        return cellRef(top, left);
    return cellRef(top, left) + ':' + cellRef(bottom, right);
}

} // namespace xlsx
