#pragma once
// Declaring a Python class over a core value type: constructor, attributes, methods, representation.
//
//   ClassBuilder<LinkDefinition>("LinkDefinition")
//       .constructor<&make_link, "from_node", "to", ...>()
//       .field<&LinkDefinition::distance_km>("distance_km")
//       .build();
//
// Attributes return copies (new objects for class-typed and list values); assigning converts the value
// first and leaves the object unchanged when that fails; deleting is refused.

#include <concepts>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "py/callable.hpp"
#include "py/doc.hpp"
#include "py/pickling.hpp"
#include "py/record.hpp"

namespace py {

template <class M>
struct MemberTraits;
template <class T, class M>
struct MemberTraits<M T::*> {
    using Owner = T;
    using Type = M;
};

[[noreturn]] void raise_cannot_delete();
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*);

// Creates the type from the collected pieces; owns the storage the interpreter keeps pointers to.
class TypeSpec {
public:
    explicit TypeSpec(std::string name);
    std::string full_name;  // "tavo_core.Name"
    std::string doc;        // empty: no docstring
    std::vector<PyMethodDef> methods;
    std::vector<PyGetSetDef> getsets;
    std::vector<PyType_Slot> slots;
    std::deque<std::string> strings;  // stable storage for names
    int basic_size = 0;
    bool gc = false;

    const char* keep(std::string text) { return strings.emplace_back(std::move(text)).c_str(); }
    PyTypeObject* create();
};

template <class T>
class ClassBuilder {
public:
    explicit ClassBuilder(std::string name) : spec_(new TypeSpec(std::move(name))) {
        spec_->basic_size = int(sizeof(Box<T>));
        spec_->slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&destroy_box<T>)});
        if constexpr (Traversable<T>) {
            spec_->gc = true;
            spec_->slots.push_back({Py_tp_traverse, reinterpret_cast<void*>(&traverse)});
            spec_->slots.push_back({Py_tp_clear, reinterpret_cast<void*>(&clear)});
        }
    }

    // Docstring of the class (after its constructor signature, if any).
    ClassBuilder& doc(std::string_view text) {
        class_doc_ = clean_doc(text);
        return *this;
    }

    // `doc` documents the constructor's parameters ("Args: ..."); it follows the class's text.
    template <auto Fn, FixedString... Params>
    ClassBuilder& constructor(std::string_view doc = {}) {
        using C = Callable<T, CallKind::Constructor, Fn, "__new__", Lock::Held, Params...>;
        C::declare_types();
        has_constructor_ = true;
        constructor_signature_ = text_signature(C::shape());
        constructor_doc_ = clean_doc(doc);
        spec_->slots.push_back({Py_tp_new, reinterpret_cast<void*>(&C::construct)});
        return *this;
    }

    // The class of a record declared once (tavo/record.hpp): its documentation and one attribute
    // per row of R's table (R is T, or the core record a binding type extends).
    // A row the class declares itself (`attribute = false`) takes its place in that order with
    // the accessors given by own_attribute before this call.
    template <class R = T>
    ClassBuilder& record() {
        doc(tavo::Fields<R>::doc);
        tavo::for_each_field<R>([&](const auto& row) {
            if (row.attribute) {
                field<std::decay_t<decltype(row)>::member>(row.name, row.doc);
                return;
            }
            for (const auto& [name, declare_own] : own_attributes_) {
                if (name == row.name) declare_own(*this, name, row.doc);
            }
        });
        own_attributes_.clear();
        spec_->methods.push_back(PyMethodDef{
            "_repr_html_", &record_html<T, R>, METH_NOARGS,
            "_repr_html_($self, /)\n--\n\nAn HTML table of the attributes, for notebooks."});
        return *this;
    }

    // The accessors of a record's row that the class declares itself: `R get(const T&)` and
    // `void set(T&, V)`, placed and documented by record().
    template <auto Getter, auto Setter>
    ClassBuilder& own_attribute(std::string_view name) {
        own_attributes_.emplace_back(
            name, [](ClassBuilder& builder, std::string_view own, std::string_view doc) {
                builder.property<Getter, Setter>(own, doc);
            });
        return *this;
    }

    // The constructor R's table describes (RecordConstructor).
    template <class R = T>
    ClassBuilder& record_constructor() {
        using C = RecordConstructor<T, R>;
        declare(CallableDeclaration{&python_type<T>, CallKind::Constructor, "__new__",
                                    C::declarations(), &Convert<T>::hint_out, false});
        has_constructor_ = true;
        constructor_signature_ =
            text_signature(C::shape(CallKind::Constructor, "__new__", &python_type<T>));
        constructor_doc_ = clean_doc(C::arguments_doc());
        spec_->slots.push_back({Py_tp_new, reinterpret_cast<void*>(&C::construct)});
        return *this;
    }

    // == and != by value, field by field, from R's table.
    template <class R = T>
    ClassBuilder& value_equality() {
        return slot(Py_tp_richcompare, reinterpret_cast<void*>(&compare_records<T, R>));
    }

    // The representation "Name(field=value, ...)" from R's table.
    template <class R = T>
    ClassBuilder& record_representation() {
        return slot(Py_tp_repr, reinterpret_cast<void*>(&record_repr<T, R>));
    }

    template <auto Fn, FixedString Name, FixedString... Params>
    ClassBuilder& method(std::string_view doc = {}) {
        spec_->methods.push_back(
            Callable<T, CallKind::Method, Fn, Name, Lock::Held, Params...>::method_def(doc));
        return *this;
    }

    // A method that runs without the interpreter lock (see Lock).
    template <auto Fn, FixedString Name, FixedString... Params>
    ClassBuilder& unlocked_method(std::string_view doc = {}) {
        spec_->methods.push_back(
            Callable<T, CallKind::Method, Fn, Name, Lock::Released, Params...>::method_def(doc));
        return *this;
    }

    // A method that takes exactly the constructor arguments of the record R (RecordConstructor),
    // makes the record and hands it to `Use(self, record)`: `TavoFile.add_node(...)` takes what
    // `TavoNode(...)` takes. `doc` precedes the derived "Args:" section.
    template <class R, auto Use, FixedString Name>
    ClassBuilder& record_building_method(std::string_view doc = {}) {
        using C = RecordConstructor<R>;
        declare(CallableDeclaration{&python_type<T>, CallKind::Method, Name.view(),
                                    C::declarations(), &return_hint<void>, false});
        const std::string text = with_arguments(doc, C::arguments_doc());
        const char* kept = spec_->keep(
            signature_docstring(C::shape(CallKind::Method, Name.view(), &python_type<T>), text));
        spec_->methods.push_back(
            PyMethodDef{Name.data,
                        reinterpret_cast<PyCFunction>(
                            reinterpret_cast<void (*)()>(&call_building<R, Use, Name>)),
                        METH_FASTCALL | METH_KEYWORDS, kept});
        return *this;
    }

    // A method declared in another file (see method_def below).
    ClassBuilder& method(PyMethodDef def) {
        spec_->methods.push_back(def);
        return *this;
    }

    template <auto Fn, FixedString Name, FixedString... Params>
    ClassBuilder& static_method(std::string_view doc = {}) {
        spec_->methods.push_back(
            Callable<T, CallKind::StaticMethod, Fn, Name, Lock::Held, Params...>::method_def(doc));
        return *this;
    }

    // A read/write attribute backed by a data member.
    template <auto Member>
    ClassBuilder& field(std::string_view name, std::string_view doc = {}) {
        const char* kept = spec_->keep(std::string(name));
        pickle_.attributes.push_back(kept);
        using M = typename MemberTraits<decltype(Member)>::Type;
        declare(
            AttributeDeclaration{class_name(), kept, &Convert<M>::hint_out, &Convert<M>::hint_in});
        spec_->getsets.push_back(
            PyGetSetDef{kept, &get_field<Member>, &set_field<Member>, kept_doc(doc), nullptr});
        return *this;
    }

    // A read/write attribute with its own accessors: `R get(const T&)`, `void set(T&, V)`. A row of
    // the record's table that the class declares itself gives its documentation (`documented_by`).
    template <auto Getter, auto Setter>
    ClassBuilder& property(std::string_view name, std::string_view doc = {}) {
        const char* kept = spec_->keep(std::string(name));
        pickle_.attributes.push_back(kept);
        using G = typename FunctionTraits<decltype(Getter)>::Return;
        using S =
            std::decay_t<std::tuple_element_t<1, typename FunctionTraits<decltype(Setter)>::Args>>;
        declare(AttributeDeclaration{class_name(), kept, &return_hint<G>, &Convert<S>::hint_in});
        spec_->getsets.push_back(PyGetSetDef{kept, &get_property<Getter>, &set_property<Setter>,
                                             kept_doc(doc), nullptr});
        return *this;
    }

    // A read-only attribute computed by `R get(const T&)`; not part of the pickled state.
    template <auto Getter>
    ClassBuilder& readonly(std::string_view name, std::string_view doc = {}) {
        const char* kept = spec_->keep(std::string(name));
        using G = typename FunctionTraits<decltype(Getter)>::Return;
        declare(AttributeDeclaration{class_name(), kept, &return_hint<G>, nullptr});
        spec_->getsets.push_back(
            PyGetSetDef{kept, &get_property<Getter>, nullptr, kept_doc(doc), nullptr});
        return *this;
    }

    // For a class whose data is not in its attributes: pickling and copying take `State(value)`
    // (any convertible value) and rebuild with `Rebuild(state)`.
    template <auto State, auto Rebuild>
    ClassBuilder& pickled() {
        pickle_.state = &state_of<State>;
        pickle_.from_state = &rebuilt<Rebuild>;
        return *this;
    }

    // `std::string repr(const T&)`.
    template <auto Fn>
    ClassBuilder& repr() {
        spec_->slots.push_back({Py_tp_repr, reinterpret_cast<void*>(&repr_slot<Fn>)});
        return *this;
    }

    ClassBuilder& slot(int id, void* function) {
        spec_->slots.push_back({id, function});
        return *this;
    }

    // Members of an enumeration pickle by name (see EnumBuilder).
    ClassBuilder& enumeration(std::string (*member_name)(PyObject* member)) {
        member_name_ = member_name;
        return *this;
    }

    // Creates the class; it lives as long as the interpreter.
    Ref build() {
        if (!has_constructor_) {
            spec_->slots.push_back({Py_tp_new, reinterpret_cast<void*>(&no_constructor)});
        }
        spec_->methods.push_back(
            PyMethodDef{"__reduce__", member_name_ ? &reduce_member : &reduce_instance, METH_NOARGS,
                        "__reduce__($self, /)\n--\n\nReturn state information for pickling."});
        std::string short_name = spec_->full_name.substr(spec_->full_name.rfind('.') + 1);
        std::string text = class_doc_;
        if (!constructor_doc_.empty()) text += (text.empty() ? "" : "\n\n") + constructor_doc_;
        if (has_constructor_) {
            spec_->doc = short_name + constructor_signature_ + "\n--\n\n" + text;
        } else {
            spec_->doc = text;
        }
        PyTypeObject* type = spec_->create();
        if (!type) raise_pending();
        python_type<T> = type;
        if (member_name_) {
            register_member_name(type, member_name_);
        } else {
            pickle_.type = type;
            pickle_.blank = &blank<T>;
            register_pickling(short_name, std::move(pickle_));
        }
        spec_.release();  // referenced by the type for the interpreter's lifetime
        return Ref::borrow(reinterpret_cast<PyObject*>(type));
    }

private:
    template <auto Member>
    static PyObject* get_field(PyObject* self, void*) {
        return guarded(
            [&]() -> PyObject* {
                using M = typename MemberTraits<decltype(Member)>::Type;
                // A copy, converted once the object is no longer held (see Callable::call).
                return Convert<M>::to(
                    copy_held(self, [](const T& value) -> M { return value.*Member; }));
            },
            nullptr);
    }

    template <auto Member>
    static int set_field(PyObject* self, PyObject* value, void*) {
        return guarded(
            [&]() -> int {
                using M = typename MemberTraits<decltype(Member)>::Type;
                if (!value) raise_cannot_delete();
                M converted = Convert<M>::from(value);
                auto* box = box_of<T>(self);
                {
                    ExclusiveBorrow borrow(box->borrow);
                    std::swap(box->value.*Member, converted);
                }
                // `converted` holds the old value now, released once the object is no longer
                // held: releasing a Python object may run its finalizer, which may use this one.
                return 0;
            },
            -1);
    }

    template <class R, auto Use, FixedString Name>
    static PyObject* call_building(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
        return guarded(
            [&]() -> PyObject* {
                using C = RecordConstructor<R>;
                std::array<PyObject*, C::count + 1> bound{};
                bind_arguments(C::shape(CallKind::Method, Name.view(), &python_type<T>), args,
                               std::size_t(PyVectorcall_NARGS(nargs)), kwnames, bound.data());
                // Converting runs the caller's code: before the object is taken.
                R record = C::make(bound.data());
                auto* box = box_of<T>(self);
                ExclusiveBorrow borrow(box->borrow);
                Use(box->value, std::move(record));
                return none();
            },
            nullptr);
    }

    template <auto Getter>
    static PyObject* get_property(PyObject* self, void*) {
        return guarded(
            [&]() -> PyObject* {
                using R = std::decay_t<typename FunctionTraits<decltype(Getter)>::Return>;
                R value = copy_held(self, [](const T& held) -> R { return Getter(held); });
                return return_to_python<R>([&]() -> R& { return value; });
            },
            nullptr);
    }

    template <auto Setter>
    static int set_property(PyObject* self, PyObject* value, void*) {
        return guarded(
            [&]() -> int {
                using Args = typename FunctionTraits<decltype(Setter)>::Args;
                using V = std::decay_t<std::tuple_element_t<1, Args>>;
                if (!value) raise_cannot_delete();
                using Displaced = typename FunctionTraits<decltype(Setter)>::Return;
                V converted = Convert<V>::from(value);
                auto* box = box_of<T>(self);
                if constexpr (std::is_void_v<Displaced>) {
                    ExclusiveBorrow borrow(box->borrow);
                    Setter(box->value, std::move(converted));
                } else {
                    // A setter that replaces a Python object returns the old one, released here
                    // once the object is no longer held (as set_field does).
                    std::optional<Displaced> displaced;
                    {
                        ExclusiveBorrow borrow(box->borrow);
                        displaced.emplace(Setter(box->value, std::move(converted)));
                    }
                }
                return 0;
            },
            -1);
    }

    template <auto Fn>
    static PyObject* repr_slot(PyObject* self) {
        return guarded(
            [&]() -> PyObject* {
                return Convert<std::string>::to(
                    copy_held(self, [](const T& value) -> std::string { return Fn(value); }));
            },
            nullptr);
    }

    // What `read(value)` makes of the object's value, read while the object is held shared.
    template <class Read>
    static auto copy_held(PyObject* self, Read read) {
        auto* box = box_of<T>(self);
        SharedBorrow borrow(box->borrow);
        return read(box->value);
    }

    static int traverse(PyObject* self, visitproc visit, void* arg) {
        if constexpr (Traversable<T>) {
            if (int result = box_of<T>(self)->value.traverse(visit, arg)) return result;
        }
        // Instances of heap types keep their type alive.
        return visit(reinterpret_cast<PyObject*>(Py_TYPE(self)), arg);
    }

    static int clear(PyObject* self) {
        if constexpr (Traversable<T>) box_of<T>(self)->value.clear();
        return 0;
    }

    const char* kept_doc(std::string_view doc) {
        return doc.empty() ? nullptr : spec_->keep(clean_doc(doc));
    }

    std::string class_name() const {
        return spec_->full_name.substr(spec_->full_name.rfind('.') + 1);
    }

    template <class V>
    static Ref blank() {
        return wrap<V>(V{});
    }

    template <auto State>
    static Ref state_of(PyObject* self) {
        using R = std::decay_t<typename FunctionTraits<decltype(State)>::Return>;
        return Ref::steal(
            Convert<R>::to(copy_held(self, [](const T& value) -> R { return State(value); })));
    }

    template <auto Rebuild>
    static Ref rebuilt(PyObject* state) {
        using S =
            std::decay_t<std::tuple_element_t<0, typename FunctionTraits<decltype(Rebuild)>::Args>>;
        return wrap<T>(Rebuild(Convert<S>::from(state)));
    }

    std::unique_ptr<TypeSpec> spec_;
    std::vector<
        std::pair<std::string_view, void (*)(ClassBuilder&, std::string_view, std::string_view)>>
        own_attributes_;
    PickleEntry pickle_;
    std::string (*member_name_)(PyObject*) = nullptr;
    std::string class_doc_;
    std::string constructor_doc_;
    std::string constructor_signature_;
    bool has_constructor_ = false;
};

// The definition of a method of T, for files that contribute methods to a class declared elsewhere.
template <class T, auto Fn, FixedString Name, FixedString... Params>
PyMethodDef method_def(std::string_view doc = {}) {
    return Callable<T, CallKind::Method, Fn, Name, Lock::Held, Params...>::method_def(doc);
}

// The same for a method that runs without the interpreter lock.
template <class T, auto Fn, FixedString Name, FixedString... Params>
PyMethodDef unlocked_method_def(std::string_view doc = {}) {
    return Callable<T, CallKind::Method, Fn, Name, Lock::Released, Params...>::method_def(doc);
}

}  // namespace py
