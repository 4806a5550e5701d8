#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ambrell {

// Writes JSON text member by member, in the order of the calls: GeoJSON
// consumers read features by member name, but golden texts and the equality
// of features by their text need a fixed order. Pretty output indents by two
// spaces, one member or element per line, with " : " after a name. The
// caller keeps the calls balanced and checks numbers for finiteness first.
class GeoJsonTextWriter {
public:
    explicit GeoJsonTextWriter(bool pretty) : pretty_(pretty) {}

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The name of the next member of the open object.
    void name(std::string_view memberName);

    void string(std::string_view text);
    // Shortest text that reads back as the same double ("12", "55.6761").
    void number(double value);
    void integer(std::int64_t value);
    void unsignedInteger(std::uint64_t value);
    void boolean(bool value);

    [[nodiscard]] std::string take() { return std::move(text_); }

private:
    void beforeValue();
    void newLine(std::size_t depth);
    void begin(char opening);
    void end(char closing);
    void quoted(std::string_view text);

    bool pretty_;
    bool afterName_ = false;
    // Per open container: whether nothing has been written into it yet.
    std::vector<bool> empty_;
    std::string text_;
};

}  // namespace ambrell
