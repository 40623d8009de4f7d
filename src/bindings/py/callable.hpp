#pragma once
// Trampolines from the interpreter's calling convention to C++ functions.
//
// A callable is declared once: its C++ function, its Python name and its parameter names. The C++
// parameter types decide the conversions (std::optional<T> marks a parameter that may be omitted or
// None); methods take the bound value (`const T&` for shared access, `T&` for exclusive access) as
// their first parameter.

#include <array>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "py/convert.hpp"
#include "py/signature.hpp"

namespace py {

template <class F>
struct FunctionTraits;
template <class R, class... A>
struct FunctionTraits<R (*)(A...)> {
    using Return = R;
    using Args = std::tuple<A...>;
};
template <class R, class... A>
struct FunctionTraits<R (*)(A...) noexcept> : FunctionTraits<R (*)(A...)> {};
// Member functions of the bound value take the value as their first parameter.
template <class R, class T, class... A>
struct FunctionTraits<R (T::*)(A...) const> {
    using Return = R;
    using Args = std::tuple<const T&, A...>;
};
template <class R, class T, class... A>
struct FunctionTraits<R (T::*)(A...)> {
    using Return = R;
    using Args = std::tuple<T&, A...>;
};
template <class R, class T, class... A>
struct FunctionTraits<R (T::*)(A...) const noexcept> : FunctionTraits<R (T::*)(A...) const> {};
template <class R, class T, class... A>
struct FunctionTraits<R (T::*)(A...) noexcept> : FunctionTraits<R (T::*)(A...)> {};

template <class Tuple>
struct DropFirst;
template <class First, class... Rest>
struct DropFirst<std::tuple<First, Rest...>> {
    using type = std::tuple<Rest...>;
};
// Named (though never used) for callables without parameters, such as a static `ring()`.
template <>
struct DropFirst<std::tuple<>> {
    using type = std::tuple<>;
};

template <class R, class Call>
PyObject* return_to_python(Call&& call) {
    if constexpr (std::is_void_v<R>) {
        call();
        return none();
    } else if constexpr (std::is_same_v<std::decay_t<R>, Ref>) {
        return call().release();
    } else {
        return Convert<std::decay_t<R>>::to(call());
    }
}

template <class Owner, CallKind Kind, auto Fn, FixedString Name, FixedString... Params>
struct Callable {
    using Traits = FunctionTraits<decltype(Fn)>;
    using Return = typename Traits::Return;
    using AllArgs = typename Traits::Args;
    using ParamTypes =
        std::conditional_t<Kind == CallKind::Method, typename DropFirst<AllArgs>::type, AllArgs>;
    static constexpr std::size_t count = sizeof...(Params);
    static_assert(std::tuple_size_v<ParamTypes> == count,
                  "one parameter name per converted C++ parameter");

    static constexpr std::array<std::string_view, count> names{Params.view()...};

    template <std::size_t... I>
    static constexpr std::array<bool, count> optional_flags(std::index_sequence<I...>) {
        return {is_optional<std::decay_t<std::tuple_element_t<I, ParamTypes>>>...};
    }
    static constexpr std::array<bool, count> optional =
        optional_flags(std::make_index_sequence<count>{});

    static constexpr std::size_t required_count() {
        std::size_t required = 0;
        while (required < count && !optional[required]) ++required;
        for (std::size_t i = required; i < count; ++i) {
            if (!optional[i]) throw "required parameters must come before optional ones";
        }
        return required;
    }
    static constexpr std::size_t required = required_count();

    static CallShape shape() {
        PyTypeObject* const* owner = nullptr;
        if constexpr (!std::is_void_v<Owner>) owner = &python_type<Owner>;
        return CallShape{Kind, Name.view(), owner, names, optional, required};
    }

    template <class A>
    static std::decay_t<A> convert(PyObject* object, std::string_view name) {
        using D = std::decay_t<A>;
        if constexpr (is_optional<D>) {
            if (!object) return D{};
        }
        try {
            return Convert<D>::from(object);
        } catch (const PythonErrorSet&) {
            reraise_argument_error(name);
        }
    }

    // Converts every bound argument in parameter order (braced initialisation runs left to right).
    template <std::size_t... I>
    static auto convert_all(PyObject** bound, std::index_sequence<I...>) {
        return std::tuple<std::decay_t<std::tuple_element_t<I, ParamTypes>>...>{
            convert<std::tuple_element_t<I, ParamTypes>>(bound[I], names[I])...};
    }

    static auto converted(PyObject** bound) {
        return convert_all(bound, std::make_index_sequence<count>{});
    }

    // METH_FASTCALL | METH_KEYWORDS entry for functions, methods and static methods.
    static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
        return guarded(
            [&]() -> PyObject* {
                std::array<PyObject*, count + 1> bound{};
                bind_arguments(shape(), args, std::size_t(PyVectorcall_NARGS(nargs)), kwnames,
                               bound.data());
                if constexpr (Kind == CallKind::Method) {
                    using SelfRef = std::tuple_element_t<0, AllArgs>;
                    using Self = std::remove_reference_t<SelfRef>;
                    using Value = std::remove_const_t<Self>;
                    auto* box = box_of<Value>(self);
                    using Borrow = std::conditional_t<std::is_const_v<Self>, SharedBorrow,
                                                      ExclusiveBorrow>;
                    Borrow borrow(box->borrow);
                    auto values = converted(bound.data());
                    return return_to_python<Return>([&]() -> decltype(auto) {
                        return std::apply(
                            [&](auto&... v) -> decltype(auto) {
                                return std::invoke(Fn, box->value, std::move(v)...);
                            },
                            values);
                    });
                } else {
                    (void)self;
                    auto values = converted(bound.data());
                    return return_to_python<Return>([&]() -> decltype(auto) {
                        return std::apply(
                            [&](auto&... v) -> decltype(auto) { return Fn(std::move(v)...); }, values);
                    });
                }
            },
            nullptr);
    }

    // tp_new entry for constructors: Fn returns the value the new object holds.
    static PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return guarded(
            [&]() -> PyObject* {
                std::array<PyObject*, count + 1> bound{};
                bind_arguments(shape(), args, kwargs, bound.data());
                // Keyword values are only borrowed from the dict; hold them while converting runs
                // code of the caller's.
                std::array<Ref, count + 1> held;
                for (std::size_t i = 0; i < count; ++i) held[i] = Ref::borrow(bound[i]);
                auto values = converted(bound.data());
                auto value = std::apply([&](auto&... v) { return Fn(std::move(v)...); }, values);
                using Value = decltype(value);
                Ref object = Ref::steal(type->tp_alloc(type, 0));
                if (!object) raise_pending();
                auto* box = box_of<Value>(object.get());
                new (&box->borrow) BorrowFlag();
                new (&box->value) Value(std::move(value));
                return object.release();
            },
            nullptr);
    }

    static PyMethodDef method_def(std::string_view doc) {
        static std::string docstring;
        docstring = signature_docstring(shape(), doc);
        int flags = METH_FASTCALL | METH_KEYWORDS;
        if constexpr (Kind == CallKind::StaticMethod) flags |= METH_STATIC;
        return PyMethodDef{Name.data, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call)),
                           flags, docstring.c_str()};
    }
};

// A module function.
template <auto Fn, FixedString Name, FixedString... Params>
using Function = Callable<void, CallKind::Function, Fn, Name, Params...>;

// A parameter list given a name, for callables that share it (a constructor and a method that
// takes the same arguments).
template <FixedString... Params>
struct Names {};

template <class Owner, CallKind Kind, auto Fn, FixedString Name, class ParamNames>
struct NamedCallable;
template <class Owner, CallKind Kind, auto Fn, FixedString Name, FixedString... Params>
struct NamedCallable<Owner, Kind, Fn, Name, Names<Params...>> {
    using type = Callable<Owner, Kind, Fn, Name, Params...>;
};

// A method that builds a value from its arguments with `Make` and hands it to `Use(self, value)`:
// `TavoFile.add_link(...)` takes exactly the arguments of the `TavoLink` constructor.
template <auto Make, auto Use, class Args = typename FunctionTraits<decltype(Make)>::Args>
struct Building;
template <auto Make, auto Use, class... A>
struct Building<Make, Use, std::tuple<A...>> {
    using Self = std::tuple_element_t<0, typename FunctionTraits<decltype(Use)>::Args>;
    static decltype(auto) call(Self self, A... args) {
        return std::invoke(Use, self, std::invoke(Make, std::move(args)...));
    }
};

}  // namespace py
