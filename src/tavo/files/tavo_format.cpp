#include "tavo/files/tavo_format.hpp"

#include "tavo/record_json.hpp"

namespace tavo {

// The extensions section is read by its table; when the whole section is known (a file loaded for
// its user, see TavoExtensions), that is what is written.
struct ExtensionsCodec {
    using type = TavoExtensions;
    static TavoExtensions read(json::Reader& reader) {
        return RecordJson<TavoExtensions>::read(reader);
    }
    static void write(json::PrettyWriter& writer, const TavoExtensions& extensions) {
        if (extensions.section) return writer.value(*extensions.section);
        RecordJson<TavoExtensions>::write(writer, extensions);
    }
};

template <>
struct JsonCodecOf<TavoExtensions> {
    using type = ExtensionsCodec;
};

TavoFile parse_tavo_document(std::string_view text) { return read_json_document<TavoFile>(text); }

std::optional<json::Value> read_extensions_section(std::string_view text) {
    // The document has been read once already: only the section is read again, the rest skipped.
    json::Reader reader(text);
    std::optional<json::Value> section;
    const int open = reader.peek_token();
    if (open != '{' && open != '[') return std::nullopt;
    reader.enter();
    reader.advance();
    bool first = true;
    if (open == '{') {
        while (const auto key = reader.next_key(first)) {
            reader.expect_colon();
            if (*key == "extensions") {
                section = reader.read_value();
            } else {
                reader.skip_value();
            }
        }
    } else {
        // The array form: the section is the seventh element.
        for (int index = 0; reader.next_element(first); ++index) {
            if (index == 6) {
                section = reader.read_value();
                break;
            }
            reader.skip_value();
        }
    }
    if (!section || section->kind() != json::Value::Kind::Object) return std::nullopt;
    return section;
}

std::string write_tavo_document(const TavoFile& file, bool finite_only) {
    return write_json_document(file, finite_only);
}

}  // namespace tavo
