#pragma once
// Documentation texts as docstrings show them.

#include <initializer_list>
#include <string>
#include <string_view>

namespace py {

// A text laid out as a docstring: leading and trailing blank lines removed, the first line's
// leading blanks removed, and the indentation common to the other lines taken off them (as Python's
// inspect.cleandoc does), so that texts may be written indented in the C++ source.
std::string clean_doc(std::string_view text);

// Documentation written in pieces that share some (what several calls raise, say): the pieces one
// after the other, laid out alike in the source.
std::string joined(std::initializer_list<std::string_view> pieces);

// A callable's documentation with an "Args:" section put in: before its "Returns:" or "Raises:"
// section, else at the end.
std::string with_arguments(std::string_view doc, std::string_view arguments);

}  // namespace py
