#include "py/doc.hpp"

#include <algorithm>
#include <vector>

namespace py {

std::string clean_doc(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    auto blank = [](std::string_view line) {
        return line.find_first_not_of(" \t\r") == std::string_view::npos;
    };
    std::size_t indent = std::string_view::npos;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (!blank(lines[i])) indent = std::min(indent, lines[i].find_first_not_of(' '));
    }
    if (!lines.empty()) {
        const std::size_t first = lines[0].find_first_not_of(' ');
        lines[0] = first == std::string_view::npos ? std::string_view() : lines[0].substr(first);
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        lines[i] = blank(lines[i]) ? std::string_view() : lines[i].substr(indent);
    }
    while (!lines.empty() && blank(lines.back())) lines.pop_back();
    std::size_t begin = 0;
    while (begin < lines.size() && blank(lines[begin])) ++begin;
    std::string out;
    for (std::size_t i = begin; i < lines.size(); ++i) {
        if (i > begin) out += '\n';
        out += lines[i];
    }
    return out;
}

std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (std::string_view piece : pieces) text += piece;
    return text;
}

std::string with_arguments(std::string_view doc, std::string_view arguments) {
    std::string text = clean_doc(doc);
    const std::string section = clean_doc(arguments);
    if (section.empty()) return text;
    if (text.empty()) return section;
    std::size_t at = std::string::npos;
    for (std::string_view heading : {"\n\nReturns:\n", "\n\nRaises:\n"}) {
        at = std::min(at, text.find(heading));
    }
    if (at == std::string::npos) return text + "\n\n" + section;
    return text.substr(0, at) + "\n\n" + section + text.substr(at);
}

}  // namespace py
