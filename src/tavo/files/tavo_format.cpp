#include "tavo/files/tavo_format.hpp"

#include "tavo/record_json.hpp"

namespace tavo {

TavoFile parse_tavo_document(std::string_view text) { return read_json_document<TavoFile>(text); }

std::string write_tavo_document(const TavoFile& file, bool finite_only) {
    return write_json_document(file, finite_only);
}

}  // namespace tavo
