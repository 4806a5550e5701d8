#pragma once

#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "data/CVLocationInternal.h"

namespace ambrell::test {

// A document of tests/data/documents as text.
inline std::string documentText(const std::string& name) {
    std::ifstream file(std::string(AMBRELL_DATA_TEST_DOCUMENTS) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline boost::json::value document(const std::string& name) { return boost::json::parse(documentText(name)); }

inline std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The location of the one-feature document, or null.
inline std::shared_ptr<CVLocationInternal> locationFrom(const char* feature) {
    return CVLocationInternal::fromDictionary(boost::json::parse(feature));
}

}  // namespace ambrell::test
