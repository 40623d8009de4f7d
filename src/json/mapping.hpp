#pragma once
// Mapping records onto JSON: a file format declares each record once, as a table of fields (key,
// presence, member, codec), and reads and writes it with read_record / write_record.
//
// Reading a record accepts two forms:
//   - an object: keys in any order; unknown keys are skipped (their values are still checked for
//     syntax); a known key given twice is "duplicate field `k`"; at the closing brace the first
//     required field not seen, in declaration order, is "missing field `k`";
//   - an array holding every field in declaration order: too few elements is "invalid length N,
//     expected struct R with K elements" (N counting up to the first missing field without a
//     default), an element too many is "trailing characters".
// Any other value is "invalid type: {found}, expected struct R".
//
// A codec reads and writes one kind of value: `type`, `static type read(Reader&)` and
// `static void write(PrettyWriter&, const type&)`.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/reader.hpp"
#include "json/value.hpp"
#include "json/writer.hpp"

namespace tavo::json {

// ---- codecs of plain values --------------------------------------------------------------------

struct TextCodec {  // a JSON string
    using type = std::string;
    static std::string read(Reader& reader);
    static void write(PrettyWriter& writer, const std::string& value) { writer.string(value); }
};

struct F64Codec {  // any JSON number
    using type = double;
    static double read(Reader& reader);
    static void write(PrettyWriter& writer, double value) { writer.number(value); }
};

struct U32Codec {  // a non-negative integer up to 4294967295
    using type = std::uint32_t;
    static std::uint32_t read(Reader& reader);
    static void write(PrettyWriter& writer, std::uint32_t value) { writer.unsigned_integer(value); }
};

struct FreeValueCodec {  // any JSON value, kept as a tree
    using type = Value;
    static Value read(Reader& reader) { return reader.read_value(); }
    static void write(PrettyWriter& writer, const Value& value) { writer.value(value); }
};

template <class Codec>
struct ListCodec {  // a JSON array of one kind of element
    using type = std::vector<typename Codec::type>;
    static type read(Reader& reader);
    static void write(PrettyWriter& writer, const type& elements) {
        writer.begin_array();
        for (const auto& element : elements) Codec::write(writer, element);
        writer.end_array();
    }
};

// ---- enumerations ------------------------------------------------------------------------------

// The spellings as an unknown-variant message lists them:
// "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
std::string expected_spellings(std::span<const std::string_view> texts);

// Reads an enumeration value: a string with one of the spellings, or the one-key object form
// {"spelling": null}. Returns the index of the spelling.
std::size_t read_spelling(Reader& reader, std::span<const std::string_view> texts);

// Codec of an enumeration given a table of spellings: `static constexpr Spelling<E> Table[]`.
template <const auto& Table>
struct EnumCodec {
    using type = decltype(Table[0].value);
    static type read(Reader& reader) {
        std::string_view texts[std::size(Table)];
        for (std::size_t i = 0; i < std::size(Table); ++i) texts[i] = Table[i].text;
        return Table[read_spelling(reader, texts)].value;
    }
    static void write(PrettyWriter& writer, type value) {
        for (const auto& spelling : Table) {
            if (spelling.value == value) return writer.string(spelling.text);
        }
        writer.null();
    }
};

// ---- records -----------------------------------------------------------------------------------

enum class Presence : std::uint8_t {
    Required,   // must be given
    Optional,   // a std::optional: absent or null is nothing; written only when it holds a value
    Nullable,   // as Optional, but always written, as null when it holds nothing
    Defaulted,  // may be absent, also in the array form (the default stays); always written
};

template <class R>
struct Field {
    std::string_view key;
    Presence presence;
    void (*read)(Reader&, R&);
    void (*write)(PrettyWriter&, const R&);
    bool (*holds_value)(const R&);  // for Optional fields: whether there is something to write
    // false: only the object form has the field; the array form neither holds nor counts it (a
    // field added to a record whose array form was fixed before it).
    bool in_array = true;
};

namespace detail {
template <class T>
struct MemberOf;
template <class C, class M>
struct MemberOf<M C::*> {
    using record = C;
};
template <auto Member>
using RecordOf = typename MemberOf<decltype(Member)>::record;

// Reads the value of an optional: null is nothing, anything else is read by the codec.
template <class Codec>
std::optional<typename Codec::type> read_optional(Reader& reader) {
    if (reader.peek_token() == 'n') {
        reader.advance();
        reader.expect_ident("ull");
        return std::nullopt;
    }
    return Codec::read(reader);
}

// Where the record reading stops for a failure of the record itself (missing or duplicate field):
// after the whitespace ahead and a closing brace if there is one.
[[noreturn]] void fail_in_object(Reader& reader, ErrorKind kind, std::string_view subject);
[[noreturn]] void fail_length(Reader& reader, std::size_t count, std::string_view record,
                              std::size_t field_count);
// Opens the record: '{' or '[' (returned), or fails for any other value.
int open_record(Reader& reader, std::string_view record);
}  // namespace detail

template <auto Member, class Codec>
constexpr Field<detail::RecordOf<Member>> required(std::string_view key) {
    using R = detail::RecordOf<Member>;
    return {key, Presence::Required, [](Reader& r, R& record) { record.*Member = Codec::read(r); },
            [](PrettyWriter& w, const R& record) { Codec::write(w, record.*Member); }, nullptr};
}

template <auto Member, class Codec>
constexpr Field<detail::RecordOf<Member>> defaulted(std::string_view key) {
    Field<detail::RecordOf<Member>> field = required<Member, Codec>(key);
    field.presence = Presence::Defaulted;
    return field;
}

// As defaulted, and null leaves the default too.
template <auto Member, class Codec>
constexpr Field<detail::RecordOf<Member>> defaulted_or_null(std::string_view key) {
    using R = detail::RecordOf<Member>;
    Field<R> field = defaulted<Member, Codec>(key);
    field.read = [](Reader& r, R& record) {
        if (auto value = detail::read_optional<Codec>(r)) record.*Member = std::move(*value);
    };
    return field;
}

template <auto Member, class Codec>
constexpr Field<detail::RecordOf<Member>> optional(std::string_view key) {
    using R = detail::RecordOf<Member>;
    return {key, Presence::Optional,
            [](Reader& r, R& record) { record.*Member = detail::read_optional<Codec>(r); },
            [](PrettyWriter& w, const R& record) {
                if (record.*Member) {
                    Codec::write(w, *(record.*Member));
                } else {
                    w.null();
                }
            },
            [](const R& record) { return (record.*Member).has_value(); }};
}

template <class R>
R read_record(Reader& reader, std::string_view name, std::span<const Field<R>> fields) {
    const int open = detail::open_record(reader, name);
    R record{};
    if (open == '[') {
        std::size_t in_array = 0;
        for (const Field<R>& field : fields) in_array += field.in_array;
        bool first = true;
        for (std::size_t i = 0, position = 0; i < fields.size(); ++i) {
            if (!fields[i].in_array) continue;
            if (reader.next_element(first)) {
                fields[i].read(reader, record);
            } else if (fields[i].presence != Presence::Defaulted) {
                detail::fail_length(reader, position, name, in_array);
            }
            ++position;
        }
        reader.end_array();
    } else {
        std::uint64_t seen = 0;
        bool first = true;
        while (const auto key = reader.next_key(first)) {
            std::size_t i = 0;
            while (i < fields.size() && fields[i].key != *key) ++i;
            if (i == fields.size()) {
                reader.expect_colon();
                reader.skip_value();
                continue;
            }
            const std::uint64_t bit = std::uint64_t{1} << i;
            if (seen & bit) {
                detail::fail_in_object(reader, ErrorKind::DuplicateField, fields[i].key);
            }
            seen |= bit;
            reader.expect_colon();
            fields[i].read(reader, record);
        }
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].presence == Presence::Required && !(seen & (std::uint64_t{1} << i))) {
                detail::fail_in_object(reader, ErrorKind::MissingField, fields[i].key);
            }
        }
        reader.end_object();
    }
    reader.leave();
    return record;
}

template <class R>
void write_record(PrettyWriter& writer, std::span<const Field<R>> fields, const R& record) {
    writer.begin_object();
    for (const Field<R>& field : fields) {
        if (field.presence == Presence::Optional && !field.holds_value(record)) continue;
        writer.key(field.key);
        field.write(writer, record);
    }
    writer.end_object();
}

// Codec of a record described by `Spec`: `using type`, `static constexpr std::string_view name` and
// `static constexpr std::array<Field<type>, N> fields`.
template <class Spec>
struct RecordCodec {
    static_assert(Spec::fields.size() <= 64, "read_record keeps the fields seen in a 64-bit mask");
    using type = typename Spec::type;
    static type read(Reader& reader) { return read_record<type>(reader, Spec::name, Spec::fields); }
    static void write(PrettyWriter& writer, const type& record) {
        write_record<type>(writer, Spec::fields, record);
    }
};

template <class Codec>
typename ListCodec<Codec>::type ListCodec<Codec>::read(Reader& reader) {
    const int c = reader.peek_token();
    if (c < 0) reader.fail_at_peek(ErrorKind::EofWhileParsingValue);
    if (c != '[') reader.fail_invalid_type("a sequence");
    reader.enter();
    reader.advance();
    type elements;
    for (bool first = true; reader.next_element(first);) elements.push_back(Codec::read(reader));
    reader.end_array();
    reader.leave();
    return elements;
}

// Reads a whole document as one record of `Spec`.
template <class Spec>
typename Spec::type read_document(std::string_view text) {
    Reader reader(text);
    auto record = RecordCodec<Spec>::read(reader);
    reader.end_document();
    return record;
}

// With `finite_only`, a NaN or infinite number anywhere throws NonFiniteNumber instead of being
// written as null.
template <class Spec>
std::string write_document(const typename Spec::type& record, bool finite_only = false) {
    PrettyWriter writer(finite_only);
    RecordCodec<Spec>::write(writer, record);
    return writer.take();
}

}  // namespace tavo::json
