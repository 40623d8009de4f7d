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

namespace {

// The most items of a list shown one by one.
constexpr Py_ssize_t kShownItems = 10;

}  // namespace

std::string html_escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

namespace {

std::string escaped(std::string_view text) { return html_escaped(text); }

// The value's own HTML when it has one, else null (and no error).
Ref own_html(PyObject* value) {
    if (!PyObject_HasAttrString(value, "_repr_html_")) return Ref();
    Ref html = Ref::steal(check(PyObject_CallMethod(value, "_repr_html_", nullptr)));
    return PyUnicode_Check(html.get()) ? html : Ref();
}

std::string cell(PyObject* value) {
    if (Ref html = own_html(value)) return to_display(html.get());
    if (PyList_Check(value)) {
        // The items shown are a copy of the list's first ones: their own HTML is Python code that
        // may change the list (a user's list kept as it was given, such as a file's extensions).
        Ref shown = Ref::steal(check(PyList_GetSlice(value, 0, kShownItems)));
        const Py_ssize_t count = PyList_GET_SIZE(shown.get());
        if (count > 0 && PyObject_HasAttrString(PyList_GET_ITEM(shown.get(), 0), "_repr_html_")) {
            std::string out;
            for (Py_ssize_t i = 0; i < count; ++i) out += cell(PyList_GET_ITEM(shown.get(), i));
            const Py_ssize_t size = PyList_GET_SIZE(value);
            if (size > count) {
                out += "<div>&hellip; " + std::to_string(size - count) + " more</div>";
            }
            return out;
        }
    }
    Ref shown = Ref::steal(check(PyObject_Repr(value)));
    return "<code>" + escaped(to_display(shown.get())) + "</code>";
}

}  // namespace

std::string html_table(PyObject* self, std::string_view caption,
                       const std::vector<std::pair<std::string_view, std::string_view>>& rows) {
    std::string out =
        "<table><caption style=\"text-align:left\"><b>" + escaped(caption) + "</b></caption>";
    for (const auto& [name, unit] : rows) {
        Ref value = Ref::steal(check(PyObject_GetAttrString(self, std::string(name).c_str())));
        out += "<tr><th style=\"text-align:left\">" + escaped(name) + "</th><td>" +
               cell(value.get()) + "</td><td>" + escaped(unit) + "</td></tr>";
    }
    out += "</table>";
    return out;
}

}  // namespace py
