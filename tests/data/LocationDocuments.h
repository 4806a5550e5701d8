#pragma once

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <string>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "data/CVLocationInternal.h"

namespace ambrell::test {

// A file's whole text; a file that cannot be read fails the test.
inline std::string fileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.is_open()) << "cannot read " << path;
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A document of tests/data/documents, as text and parsed.
inline std::string documentText(const std::string& name) {
    return fileText(std::filesystem::path(AMBRELL_DATA_TEST_DOCUMENTS) / name);
}
inline boost::json::value document(const std::string& name) { return boost::json::parse(documentText(name)); }

inline std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The model refuses the document without any one of the keys, and names that key, by the model's own name for it
// where the two differ.
template <typename Model>
void expectRefusedWithout(const boost::json::value& document, std::initializer_list<std::string> keys,
                          const std::map<std::string, std::string>& modelNames = {}) {
    for (const auto& key : keys) {
        SCOPED_TRACE(key);
        auto input = document;
        input.as_object().erase(key);
        std::optional<JSONModelError> error;
        EXPECT_EQ(Model::fromDictionary(input, &error), nullptr);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, kJSONModelErrorInvalidData);
        const auto named = modelNames.find(key);
        EXPECT_EQ(error->missingKeys(), std::vector<std::string>{named == modelNames.end() ? key : named->second});
    }
}

// The location of the one-feature document, or null.
inline std::shared_ptr<CVLocationInternal> locationFrom(const char* feature) {
    return CVLocationInternal::fromDictionary(boost::json::parse(feature));
}

}  // namespace ambrell::test
