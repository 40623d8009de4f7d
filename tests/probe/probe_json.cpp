// JSON reader and writer commands.
//
//   json-batch   reads framed cases from stdin and writes one framed result per case to stdout.
//                Case:   "FORMAT LENGTH\n", LENGTH raw bytes, "\n". FORMAT: tavo | snapshot (a
//                        whole file of that format, read then written again), value (a free-form
//                        value, read then written), f64 (a number read where a float is expected).
//                Result: "STATUS LENGTH\n", LENGTH bytes, "\n". STATUS: ok (the written document;
//                        for f64 the 0x-prefixed hex of the double's bits), error (the reader's
//                        message with its position), io (the bytes are not valid UTF-8: refused
//                        before parsing, as the loader does).
//   json-equal   reads pairs of framed cases (FORMAT value) and prints "true" or "false" per pair:
//                whether the two free-form values are equal.
//   text-forms   reads lines "FORM ARG..." from stdin and prints one result line each:
//                plain|debug|json|truncated BITS, fixed BITS DECIMALS, debug_string HEX|-
//                (BITS: the 0x-prefixed hex of a double; HEX: the bytes of a text; -: empty).

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include "json/error.hpp"
#include "json/mapping.hpp"
#include "json/utf8.hpp"
#include "probe.hpp"
#include "tavo/files/tavo_format.hpp"
#include "tavo/snapshot/snapshot_format.hpp"
#include "text/forms.hpp"

namespace {

std::string hex_bits(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%016" PRIx64, bits);
    return buffer;
}

double from_hex_bits(const std::string& text) {
    const std::uint64_t bits = std::strtoull(text.c_str(), nullptr, 16);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::string from_hex_bytes(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    return out;
}

double read_f64_document(std::string_view text) {
    tavo::json::Reader reader(text);
    const double value = tavo::json::F64Codec::read(reader);
    reader.end_document();
    return value;
}

// One case: the status and the payload.
std::pair<std::string, std::string> run_case(const std::string& format, const std::string& text) {
    if (!tavo::json::is_valid_utf8(text)) return {"io", "stream did not contain valid UTF-8"};
    try {
        if (format == "tavo") {
            return {"ok", tavo::write_tavo_document(tavo::parse_tavo_document(text))};
        }
        if (format == "snapshot") {
            return {"ok", tavo::write_snapshot_document(tavo::parse_snapshot_document(text))};
        }
        if (format == "value") {
            return {"ok", tavo::json::write_value_document(tavo::json::parse_value_document(text))};
        }
        if (format == "f64") return {"ok", hex_bits(read_f64_document(text))};
        throw std::invalid_argument("unknown format: " + format);
    } catch (const tavo::json::ParseError& e) {
        return {"error", e.what()};
    }
}

// The next framed case from stdin: its format and its bytes; false at the end of the input.
bool read_case(std::string& format, std::string& text) {
    std::string header;
    if (!std::getline(std::cin, header)) return false;
    const std::size_t space = header.find(' ');
    if (space == std::string::npos) throw std::invalid_argument("bad case header: " + header);
    format = header.substr(0, space);
    text.assign(std::stoul(header.substr(space + 1)), '\0');
    std::cin.read(text.data(), static_cast<std::streamsize>(text.size()));
    std::cin.ignore(1);  // the line feed after the bytes
    return true;
}

int json_batch(const std::vector<std::string>&) {
    std::ios::sync_with_stdio(false);
    std::string format, text;
    while (read_case(format, text)) {
        const auto [status, payload] = run_case(format, text);
        std::cout << status << ' ' << payload.size() << '\n' << payload << '\n';
    }
    std::cout.flush();
    return 0;
}

int json_equal(const std::vector<std::string>&) {
    std::ios::sync_with_stdio(false);
    std::string format, first, second;
    while (read_case(format, first) && read_case(format, second)) {
        const bool equal = tavo::json::parse_value_document(first) ==
                           tavo::json::parse_value_document(second);
        std::cout << (equal ? "true" : "false") << '\n';
    }
    std::cout.flush();
    return 0;
}

int text_forms(const std::vector<std::string>&) {
    std::ios::sync_with_stdio(false);
    std::string form, argument;
    while (std::cin >> form >> argument) {
        std::string result;
        if (form == "plain") {
            result = tavo::text::plain(from_hex_bits(argument));
        } else if (form == "debug") {
            result = tavo::text::debug(from_hex_bits(argument));
        } else if (form == "json") {
            result = tavo::text::json_number(from_hex_bits(argument));
        } else if (form == "truncated") {
            result = tavo::text::truncated(from_hex_bits(argument));
        } else if (form == "fixed") {
            int decimals = 0;
            std::cin >> decimals;
            result = tavo::text::fixed(from_hex_bits(argument), decimals);
        } else if (form == "debug_string") {
            result = tavo::text::debug_string(from_hex_bytes(argument == "-" ? "" : argument));
        } else {
            throw std::invalid_argument("unknown form: " + form);
        }
        std::cout << result << '\n';
    }
    std::cout.flush();
    return 0;
}

int guarded(int (*body)(const std::vector<std::string>&), const std::vector<std::string>& args) {
    try {
        return body(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}

const probe::Register batch("json-batch",
                            [](const auto& args) { return guarded(json_batch, args); });
const probe::Register equal("json-equal",
                            [](const auto& args) { return guarded(json_equal, args); });
const probe::Register forms("text-forms",
                            [](const auto& args) { return guarded(text_forms, args); });

}  // namespace
