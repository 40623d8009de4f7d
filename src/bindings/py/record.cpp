#include "py/record.hpp"

#include "py/doc.hpp"

namespace py {

namespace {

// Lines of an argument's entry are at most this long, indentation included, so that the entry fits
// a method's docstring in the type stubs (indented by eight more) within 100 columns.
constexpr std::size_t kArgumentWidth = 88;

}  // namespace

std::string arguments_section(
    const std::vector<std::pair<std::string_view, std::string_view>>& args) {
    if (args.empty()) return {};
    // The leading line break keeps the entries' indentation through clean_doc, which takes the
    // indentation common to every line after the first off them.
    std::string out = "\nArgs:";
    for (const auto& [name, text] : args) {
        // The entry's text is one paragraph, refilled: "    name: words..." then lines indented
        // by eight.
        std::string line = "    " + std::string(name) + ":";
        const std::string cleaned = clean_doc(text);
        std::size_t i = 0;
        while (i < cleaned.size()) {
            while (i < cleaned.size() && (cleaned[i] == ' ' || cleaned[i] == '\n')) ++i;
            if (i == cleaned.size()) break;
            std::size_t end = i;
            while (end < cleaned.size() && cleaned[end] != ' ' && cleaned[end] != '\n') ++end;
            const std::string_view word(cleaned.data() + i, end - i);
            if (line.size() + 1 + word.size() > kArgumentWidth && line.back() != ':') {
                out += "\n" + line;
                line = "        ";
                line += word;
            } else {
                line += ' ';
                line += word;
            }
            i = end;
        }
        out += "\n" + line;
    }
    return out;
}

}  // namespace py
