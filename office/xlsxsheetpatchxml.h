#pragma once
// The pieces of a sheet's XML that the sheet patch (xlsxsheetpatch*.cpp, xlsxformulahandover.cpp)
// and the package patch (xlsxpatch.cpp) read and write as bytes.
#include <string>
#include <string_view>
#include <vector>

namespace xlsx {

constexpr size_t npos = std::string::npos;

inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}


struct Attribute {
    std::string_view name;
    std::string_view value;
    std::string_view raw; // name="value", quotes included
};

// The attributes of a tag, as written. False when they are not well formed.
bool parseAttributes(std::string_view text, std::vector<Attribute>& out);
const Attribute* findAttribute(const std::vector<Attribute>& attributes, std::string_view name);
// UTF-8 text with "&", "<", ">" and '"' escaped, appended to out, fit for content and attribute
// values alike; the control characters XML cannot carry are left out (tab, line feed and carriage
// return stay).
void appendEscaped(std::string& out, std::string_view text);
// "B2" for one cell, "B2:D9" for more.
std::string rangeText(int top, int left, int bottom, int right);

} // namespace xlsx
