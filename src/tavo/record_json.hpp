#pragma once
// The JSON form of records, derived from their field tables (record.hpp): keys in table order, each
// field read and written by the codec its type calls for. Both file formats map their records
// through it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/mapping.hpp"
#include "tavo/enum_name.hpp"
#include "tavo/record.hpp"

namespace tavo {

// The codec of a value type: texts, numbers, free JSON values, enumerations through their JSON
// spellings, records through their tables, and lists of any of these.
template <class T>
struct JsonCodecOf;

template <>
struct JsonCodecOf<std::string> {
    using type = json::TextCodec;
};
template <>
struct JsonCodecOf<double> {
    using type = json::F64Codec;
};
template <>
struct JsonCodecOf<std::uint32_t> {
    using type = json::U32Codec;
};
template <>
struct JsonCodecOf<json::Value> {
    using type = json::FreeValueCodec;
};
template <class E>
    requires std::is_enum_v<E>
struct JsonCodecOf<E> {
    using type = json::EnumCodec<JsonSpellings<E>::table>;
};
template <class T>
struct JsonCodecOf<std::vector<T>> {
    using type = json::ListCodec<typename JsonCodecOf<T>::type>;
};
template <class T>
struct JsonCodecOf<std::optional<T>> {
    using type = typename JsonCodecOf<T>::type;
};

template <Record T>
struct RecordJsonSpec;

template <Record T>
struct JsonCodecOf<T> {
    using type = json::RecordCodec<RecordJsonSpec<T>>;
};

// A record may choose its own codec: `JsonCodecOf<R>` specialised beside the record's format.

namespace record_detail {

template <class Row>
constexpr json::Presence json_presence(const Row& row) {
    switch (row.presence()) {
        case JsonPresence::Optional:
        case JsonPresence::KeyedOptional: return json::Presence::Optional;
        case JsonPresence::Nullable: return json::Presence::Nullable;
        case JsonPresence::Defaulted:
        case JsonPresence::DefaultedOrNull: return json::Presence::Defaulted;
        default: return json::Presence::Required;
    }
}

template <class Row>
constexpr json::Field<typename Row::Record> json_field(const Row& row) {
    using Codec = typename JsonCodecOf<typename Row::Type>::type;
    constexpr auto member = Row::member;
    const json::Presence presence = json_presence(row);
    if constexpr (is_optional<typename Row::Type>) {
        json::Field<typename Row::Record> field = json::optional<member, Codec>(row.json_key());
        field.presence = presence;
        field.in_array = row.presence() != JsonPresence::KeyedOptional;
        return field;
    } else if (row.presence() == JsonPresence::DefaultedOrNull) {
        return json::defaulted_or_null<member, Codec>(row.json_key());
    } else {
        json::Field<typename Row::Record> field = json::required<member, Codec>(row.json_key());
        field.presence = presence;
        return field;
    }
}

template <Record T>
constexpr std::size_t json_field_count() {
    std::size_t count = 0;
    for_each_field<T>([&](const auto& row) { count += row.presence() != JsonPresence::Omitted; });
    return count;
}

template <Record T>
constexpr auto json_fields() {
    std::array<json::Field<T>, json_field_count<T>()> fields{};
    std::size_t i = 0;
    for_each_field<T>([&](const auto& row) {
        if (row.presence() != JsonPresence::Omitted) fields[i++] = json_field(row);
    });
    return fields;
}

}  // namespace record_detail

// The JSON codec of a record: its table's fields under their JSON keys.
template <Record T>
struct RecordJsonSpec {
    using type = T;
    static constexpr std::string_view name = Fields<T>::name;
    static constexpr auto fields = record_detail::json_fields<T>();
};

template <Record T>
using RecordJson = json::RecordCodec<RecordJsonSpec<T>>;

// A whole document holding one record.
template <Record T>
T read_json_document(std::string_view text) {
    return json::read_document<RecordJsonSpec<T>>(text);
}

// With `finite_only`, a NaN or infinite number anywhere throws NonFiniteNumber instead of being
// written as null.
template <Record T>
std::string write_json_document(const T& record, bool finite_only = false) {
    return json::write_document<RecordJsonSpec<T>>(record, finite_only);
}

}  // namespace tavo
