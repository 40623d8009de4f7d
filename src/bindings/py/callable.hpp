#pragma once
// Trampolines from the interpreter's calling convention to C++ functions.
//
// A callable is declared once: its C++ function, its Python name and its parameter names. The C++
// parameter types decide the conversions (std::optional<T> marks a parameter that may be omitted or
// None); methods take the bound value (`const T&` for shared access, `T&` for exclusive access) as
// their first parameter.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "py/convert.hpp"
#include "py/declarations.hpp"
#include "py/signature.hpp"
#include "py/unlocked.hpp"

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

// The Python type of what a C++ function returns, for type stubs.
template <class R>
std::string return_hint() {
    using D = std::decay_t<R>;
    if constexpr (std::is_void_v<D>) {
        return "None";
    } else if constexpr (std::is_same_v<D, Ref>) {
        return "Any";
    } else {
        return Convert<D>::hint_out();
    }
}

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

// Whether a call keeps the interpreter lock throughout, or converts its arguments with it, runs the
// C++ function without it, and converts the result with it again.
enum class Lock { Held, Released };

template <class Tuple>
struct AnyHoldsPython;
template <class... T>
struct AnyHoldsPython<std::tuple<T...>> : std::bool_constant<(holds_python<T> || ...)> {};

template <class Owner, CallKind Kind, auto Fn, FixedString Name, Lock L, FixedString... Params>
struct Callable {
    using Traits = FunctionTraits<decltype(Fn)>;
    using Return = typename Traits::Return;
    using AllArgs = typename Traits::Args;
    using ParamTypes =
        std::conditional_t<Kind == CallKind::Method, typename DropFirst<AllArgs>::type, AllArgs>;
    static constexpr std::size_t count = sizeof...(Params);
    static_assert(std::tuple_size_v<ParamTypes> == count,
                  "one parameter name per converted C++ parameter");
    // Arguments are destroyed, and results made, where the lock may be released: they must not
    // hold Python objects then.
    static_assert(L == Lock::Held || (!AnyHoldsPython<ParamTypes>::value && !holds_python<Return>),
                  "a call that releases the interpreter lock takes and returns no Python objects");

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

    template <std::size_t... I>
    static std::vector<ParameterDeclaration> parameter_declarations(std::index_sequence<I...>) {
        return {ParameterDeclaration{
            names[I], &Convert<std::decay_t<std::tuple_element_t<I, ParamTypes>>>::hint_in,
            optional[I]}...};
    }

    // Records the callable with its types (py/declarations.hpp); called once per registration.
    static void declare_types() {
        PyTypeObject* const* owner = nullptr;
        Hint returns = &return_hint<Return>;
        if constexpr (!std::is_void_v<Owner>) {
            owner = &python_type<Owner>;
            if constexpr (Kind == CallKind::Constructor) returns = &Convert<Owner>::hint_out;
        }
        declare(CallableDeclaration{owner, Kind, Name.view(),
                                    parameter_declarations(std::make_index_sequence<count>{}),
                                    returns, L == Lock::Released});
    }

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

    // Takes the access of every Shared and Exclusive argument, in parameter order.
    template <class V>
    static void hold_object(V& value) {
        if constexpr (is_object_handle<V>) value.hold();
    }
    template <class Values>
    static void hold_objects(Values& values) {
        std::apply([](auto&... value) { (hold_object(value), ...); }, values);
    }

    // What the C++ function returned, kept until it is converted, when the call no longer holds
    // any object (making Python objects may run code of the caller's: a collection's finalizers).
    using Value = std::decay_t<Return>;
    using Result = std::conditional_t<std::is_void_v<Return>, bool, std::optional<Value>>;

    // Runs the C++ function, without the interpreter lock where the declaration says so.
    template <class Invoke>
    static void compute(Result& result, Invoke&& invoke) {
        auto body = [&] {
            if constexpr (std::is_void_v<Return>) {
                invoke();
                result = true;
            } else {
                result.emplace(invoke());
            }
        };
        if constexpr (L == Lock::Held) {
            body();
        } else {
            without_lock(body);
        }
    }

    static PyObject* to_python(Result& result) {
        if constexpr (std::is_void_v<Return>) {
            return none();
        } else if constexpr (std::is_same_v<Value, Ref>) {
            return result->release();
        } else {
            return Convert<Value>::to(*result);
        }
    }

    // Whether the C++ function of a method takes its object by value (see call).
    static constexpr bool takes_object_by_value() {
        if constexpr (Kind == CallKind::Method) {
            return !std::is_reference_v<std::tuple_element_t<0, AllArgs>>;
        } else {
            return false;
        }
    }

    // METH_FASTCALL | METH_KEYWORDS entry for functions, methods and static methods.
    //
    // Arguments are converted first and the objects the call works on are taken after: converting
    // runs code of the caller's (__float__, __index__, a sequence's items), which must never run
    // while the call holds an object, or two threads could each hold what the other waits for.
    static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
        return guarded(
            [&]() -> PyObject* {
                std::array<PyObject*, count + 1> bound{};
                bind_arguments(shape(), args, std::size_t(PyVectorcall_NARGS(nargs)), kwnames,
                               bound.data());
                Result result{};
                {
                    auto values = converted(bound.data());
                    if constexpr (takes_object_by_value()) {
                        // A method that takes its object by value works on a copy, made while
                        // the object is held shared and used once it no longer is: the method
                        // may then make Python objects (a file's extensions as JSON).
                        using Value = std::tuple_element_t<0, AllArgs>;
                        Value copy = [&] {
                            auto* box = box_of<Value>(self);
                            SharedBorrow borrow(box->borrow);
                            return box->value;
                        }();
                        hold_objects(values);
                        compute(result, [&]() -> decltype(auto) {
                            return std::apply(
                                [&](auto&... v) -> decltype(auto) {
                                    return std::invoke(Fn, std::move(copy), std::move(v)...);
                                },
                                values);
                        });
                    } else if constexpr (Kind == CallKind::Method) {
                        using SelfRef = std::tuple_element_t<0, AllArgs>;
                        using Self = std::remove_reference_t<SelfRef>;
                        auto* box = box_of<std::remove_const_t<Self>>(self);
                        using Borrow = std::conditional_t<std::is_const_v<Self>, SharedBorrow,
                                                          ExclusiveBorrow>;
                        Borrow borrow(box->borrow);
                        hold_objects(values);
                        compute(result, [&]() -> decltype(auto) {
                            return std::apply(
                                [&](auto&... v) -> decltype(auto) {
                                    return std::invoke(Fn, box->value, std::move(v)...);
                                },
                                values);
                        });
                    } else {
                        (void)self;
                        hold_objects(values);
                        compute(result, [&]() -> decltype(auto) {
                            return std::apply(
                                [&](auto&... v) -> decltype(auto) { return Fn(std::move(v)...); },
                                values);
                        });
                    }
                }
                return to_python(result);
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
                return wrap_as(type, std::move(value)).release();
            },
            nullptr);
    }

    static PyMethodDef method_def(std::string_view doc) {
        declare_types();
        static std::string docstring;
        docstring = signature_docstring(shape(), doc);
        int flags = METH_FASTCALL | METH_KEYWORDS;
        if constexpr (Kind == CallKind::StaticMethod) flags |= METH_STATIC;
        return PyMethodDef{Name.data, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call)),
                           flags, docstring.c_str()};
    }
};

// A module function.
template <auto Fn, FixedString Name, Lock L, FixedString... Params>
using Function = Callable<void, CallKind::Function, Fn, Name, L, Params...>;

}  // namespace py
