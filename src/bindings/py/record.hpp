#pragma once
// Python classes of records declared once (tavo/record.hpp): the constructor, the attributes, the
// equality and the representation of a record's class all come from the record's field table.

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "py/callable.hpp"
#include "tavo/record.hpp"

namespace py {

// The constructor a record's table describes: one parameter per row with a constructor role, in
// table order, converted in that order into a record that starts from a default-made one.
template <class T, class R = T>
struct RecordConstructor {
    template <std::size_t... I>
    static constexpr std::size_t count_parameters(std::index_sequence<I...>) {
        return (std::size_t{0} + ... +
                (std::get<I>(tavo::Fields<R>::list).role() != tavo::Parameter::Omitted ? 1u : 0u));
    }
    static constexpr std::size_t rows = tavo::field_count<R>;
    static constexpr std::size_t count = count_parameters(std::make_index_sequence<rows>{});

    static constexpr std::array<std::string_view, count> names_of() {
        std::array<std::string_view, count> out{};
        std::size_t i = 0;
        tavo::for_each_field<R>([&](const auto& row) {
            if (row.role() != tavo::Parameter::Omitted) out[i++] = row.name;
        });
        return out;
    }
    static constexpr std::array<bool, count> optional_of() {
        std::array<bool, count> out{};
        std::size_t i = 0;
        tavo::for_each_field<R>([&](const auto& row) {
            if (row.role() != tavo::Parameter::Omitted) {
                out[i++] = row.role() == tavo::Parameter::Optional;
            }
        });
        return out;
    }
    static constexpr std::size_t required_of() {
        std::size_t required = 0;
        while (required < count && !optional[required]) ++required;
        for (std::size_t i = required; i < count; ++i) {
            if (!optional[i]) throw "required parameters must come before optional ones";
        }
        return required;
    }

    static constexpr std::array<std::string_view, count> names = names_of();
    static constexpr std::array<bool, count> optional = optional_of();
    static constexpr std::size_t required = required_of();

    static CallShape shape(CallKind kind, std::string_view name, PyTypeObject* const* owner) {
        return CallShape{kind, name, owner, names, optional, required};
    }

    // The record from bound arguments (null for those not given), converted in parameter order.
    static T make(PyObject** bound) {
        T value{};
        std::size_t i = 0;
        tavo::for_each_field<R>([&](const auto& row) {
            using Row = std::decay_t<decltype(row)>;
            if (row.role() == tavo::Parameter::Omitted) return;
            PyObject* given = bound[i++];
            if (!given) return;
            using M = typename Row::Type;
            if constexpr (!tavo::is_optional<M>) {
                // An optional parameter of a field that is not: None keeps the default.
                if (given == Py_None && row.role() == tavo::Parameter::Optional) return;
            }
            try {
                if constexpr (tavo::is_optional<M>) {
                    // A required parameter of an optional field takes a value, not None.
                    if (row.role() == tavo::Parameter::Required) {
                        value.*Row::member = Convert<typename M::value_type>::from(given);
                        return;
                    }
                }
                value.*Row::member = Convert<M>::from(given);
            } catch (const PythonErrorSet&) {
                reraise_argument_error(row.name);
            }
        });
        return value;
    }

    // Records the parameters' Python types for the type stubs.
    static std::vector<ParameterDeclaration> declarations() {
        std::vector<ParameterDeclaration> out;
        tavo::for_each_field<R>([&](const auto& row) {
            using Row = std::decay_t<decltype(row)>;
            using M = typename Row::Type;
            if (row.role() == tavo::Parameter::Omitted) return;
            const bool may_omit = row.role() == tavo::Parameter::Optional;
            Hint hint = &Convert<M>::hint_in;
            if constexpr (tavo::is_optional<M>) {
                if (!may_omit) hint = &Convert<typename M::value_type>::hint_in;
            } else if (may_omit) {
                hint = &Convert<std::optional<M>>::hint_in;
            }
            out.push_back(ParameterDeclaration{row.name, hint, may_omit});
        });
        return out;
    }

    // "Args:" and one line per parameter, for the docstring.
    static std::string arguments_doc();

    static PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return guarded(
            [&]() -> PyObject* {
                std::array<PyObject*, count + 1> bound{};
                bind_arguments(shape(CallKind::Constructor, "__new__", &python_type<T>), args,
                               kwargs, bound.data());
                // Keyword values are only borrowed from the dict; hold them while converting runs
                // code of the caller's.
                std::array<Ref, count + 1> held;
                for (std::size_t i = 0; i < count; ++i) held[i] = Ref::borrow(bound[i]);
                return wrap_as<T>(type, make(bound.data())).release();
            },
            nullptr);
    }
};

// A line break, "Args:", then one entry per parameter ("    name: text", refilled, continuation
// lines indented by eight): a section that clean_doc leaves as it is.
std::string arguments_section(
    const std::vector<std::pair<std::string_view, std::string_view>>& args);

template <class T, class R>
std::string RecordConstructor<T, R>::arguments_doc() {
    std::vector<std::pair<std::string_view, std::string_view>> args;
    tavo::for_each_field<R>([&](const auto& row) {
        if (row.role() != tavo::Parameter::Omitted) args.emplace_back(row.name, row.argument_doc());
    });
    return arguments_section(args);
}

// == and != between two instances of a record's class, field by field (tavo::same_fields); the
// interpreter refuses ordering.
template <class T, class R = T>
PyObject* compare_records(PyObject* self, PyObject* other, int op) {
    return guarded(
        [&]() -> PyObject* {
            if ((op != Py_EQ && op != Py_NE) || !holds<T>(self) || !holds<T>(other)) {
                return new_ref(Py_NotImplemented);
            }
            auto* left = box_of<T>(self);
            auto* right = box_of<T>(other);
            SharedBorrow left_borrow(left->borrow);
            SharedBorrow right_borrow(right->borrow);
            const bool equal = tavo::same_fields<R>(left->value, right->value);
            return boolean(op == Py_EQ ? equal : !equal);
        },
        nullptr);
}

// "Name(field=value, ...)": every attribute of the table with the representation Python gives its
// value.
template <class T, class R = T>
PyObject* record_repr(PyObject* self) {
    return guarded(
        [&]() -> PyObject* {
            std::string text(tavo::Fields<R>::name);
            text += '(';
            // A copy, shown once the object is no longer held: making Python objects may run
            // code of the caller's.
            const T value = [&] {
                auto* box = box_of<T>(self);
                SharedBorrow borrow(box->borrow);
                return box->value;
            }();
            bool first = true;
            tavo::for_each_field<R>([&](const auto& row) {
                using Row = std::decay_t<decltype(row)>;
                if (!row.attribute) return;
                Ref shown_value = Ref::steal(Convert<typename Row::Type>::to(value.*Row::member));
                Ref shown = Ref::steal(check(PyObject_Repr(shown_value.get())));
                if (!first) text += ", ";
                first = false;
                text += row.name;
                text += '=';
                text += to_display(shown.get());
            });
            text += ')';
            return Convert<std::string>::to(text);
        },
        nullptr);
}

// The text with &, <, > and " written as HTML entities.
std::string html_escaped(std::string_view text);

// Rich display in notebooks: an HTML table of a record's attributes (name, value, unit), made from
// the Python values the attributes return. A value that displays itself (a record) is nested; a
// list shows its first items so displayed, or its length; anything else shows its representation.
std::string html_table(PyObject* self, std::string_view caption,
                       const std::vector<std::pair<std::string_view, std::string_view>>& rows);

template <class T, class R = T>
PyObject* record_html(PyObject* self, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            std::vector<std::pair<std::string_view, std::string_view>> rows;
            tavo::for_each_field<R>(
                [&](const auto& row) { rows.emplace_back(row.name, row.unit); });
            return Convert<std::string>::to(html_table(self, tavo::Fields<R>::name, rows));
        },
        nullptr);
}

}  // namespace py
