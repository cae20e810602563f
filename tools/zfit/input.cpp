// Input tables: CSV or whitespace-separated text, or JSON.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "cli.hpp"

namespace zcli {

std::string Layout::describe() const
{
    std::string text;
    for (const std::string& name : columns) text += (text.empty() ? "" : ", ") + name;
    if (weighted) text += ", weight";
    return text;
}

int32_t Table::count() const
{
    if (rows() > static_cast<std::size_t>(INT32_MAX)) throw UsageError(source + ": too many rows");
    return static_cast<int32_t>(rows());
}

std::vector<zmath_vect> Table::points(std::size_t column) const
{
    std::vector<zmath_vect> out(rows());
    for (std::size_t r = 0; r < out.size(); ++r) out[r] = {at(r, column), at(r, column + 1)};
    return out;
}

std::vector<double> Table::column(std::size_t column) const
{
    std::vector<double> out(rows());
    for (std::size_t r = 0; r < out.size(); ++r) out[r] = at(r, column);
    return out;
}

namespace {

// The length of the well-formed UTF-8 sequence that starts `text` when it
// encodes a printable character beyond ASCII, else 0: C1 controls, text
// direction overrides, malformed and overlong sequences are not printable.
std::size_t printableUtf8(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4  ? 4
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                                                             : 0;
    if (length == 0 || text.size() < length) return 0;
    char32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    constexpr char32_t smallest[] = {0, 0, 0xA0, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if ((code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069)) return 0;
    return length;
}

// How many characters of a token an error message shows at most.
constexpr std::size_t kShownWidth = 40;

// A token of the input as an error message shows it: in double quotes,
// printable text as it is, every other byte as \xHH (so a binary file cannot
// reach the terminal raw), a quote or backslash with a backslash before it;
// a token wider than 40 characters is cut, and its size in bytes given.
std::string quotedToken(std::string_view token)
{
    struct Piece {
        std::string text;   // as shown
        std::size_t width;  // characters on the screen
        std::size_t bytes;  // of the token
    };
    std::vector<Piece> pieces;
    std::size_t width = 0, used = 0;
    while (used < token.size() && width <= kShownWidth) {
        const auto c = static_cast<unsigned char>(token[used]);
        if (c == '"' || c == '\\') {
            pieces.push_back({std::string{'\\', static_cast<char>(c)}, 2, 1});
        } else if (c >= 0x20 && c < 0x7F) {
            pieces.push_back({std::string(1, static_cast<char>(c)), 1, 1});
        } else if (const std::size_t n = printableUtf8(token.substr(used))) {
            pieces.push_back({std::string(token.substr(used, n)), 1, n});
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            pieces.push_back({escaped, 4, 1});
        }
        width += pieces.back().width;
        used += pieces.back().bytes;
    }
    const bool cut = width > kShownWidth || used < token.size();
    // A cut token ends in "...", within the same width.
    while (cut && width > kShownWidth - 3) {
        width -= pieces.back().width;
        pieces.pop_back();
    }
    std::string shown = "\"";
    for (const Piece& piece : pieces) shown += piece.text;
    if (!cut) return shown + "\"";
    return shown + "...\" (" + std::to_string(token.size()) + " bytes)";
}

[[noreturn]] void fail(const std::string& source, std::size_t line, std::size_t column, const std::string& what)
{
    throw UsageError(source + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what);
}

std::string plural(std::size_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

// The message for a row of the wrong width.
std::string widthMessage(const Layout& layout, std::size_t found)
{
    std::string text =
        "expected " + plural(layout.width(), "column") + " (" + layout.describe() + "), found " + std::to_string(found);
    if (!layout.weighted && layout.weightsOffered && found == layout.width() + 1)
        text += " (use --weights to read the last column as weights)";
    return text;
}

// A whole field as a number; nullopt when it is none. Infinite and NaN
// values are reported separately by the caller.
std::optional<double> toNumber(std::string_view field)
{
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    double value = 0.0;
    const char* end = field.data() + field.size();
    auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (ptr != end || field.empty()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) return HUGE_VAL;  // reported as not finite
    if (ec != std::errc()) return std::nullopt;
    return value;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

struct Field {
    std::string_view text;
    std::size_t column;  // 1-based
};

// Splits one line (comment already removed): on commas when it has any, else
// on semicolons, else on blanks. Fields are trimmed; surrounding double
// quotes are removed.
std::vector<Field> splitLine(std::string_view line)
{
    std::vector<Field> fields;
    char separator = 0;
    if (line.find(',') != std::string_view::npos)
        separator = ',';
    else if (line.find(';') != std::string_view::npos)
        separator = ';';
    std::size_t pos = 0;
    if (separator == 0) {
        while (pos < line.size()) {
            while (pos < line.size() && isBlank(line[pos])) ++pos;
            if (pos >= line.size()) break;
            std::size_t end = pos;
            while (end < line.size() && !isBlank(line[end])) ++end;
            fields.push_back({line.substr(pos, end - pos), pos + 1});
            pos = end;
        }
        return fields;
    }
    while (true) {
        std::size_t end = line.find(separator, pos);
        if (end == std::string_view::npos) end = line.size();
        std::size_t b = pos, e = end;
        while (b < e && isBlank(line[b])) ++b;
        while (e > b && isBlank(line[e - 1])) --e;
        if (e - b >= 2 && line[b] == '"' && line[e - 1] == '"') ++b, --e;
        fields.push_back({line.substr(b, e - b), b + 1});
        if (end == line.size()) break;
        pos = end + 1;
    }
    return fields;
}

Table parseText(std::string_view text, const std::string& source, const Layout& layout)
{
    Table table{source, layout.width(), {}, {}};
    bool sawContent = false;
    bool sawHeader = false;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        std::vector<Field> fields = splitLine(line);
        if (fields.empty() || (fields.size() == 1 && fields[0].text.empty())) continue;

        if (!sawContent) {
            sawContent = true;
            // A first line without a single number is a header.
            bool anyNumber = false;
            for (const Field& f : fields) anyNumber = anyNumber || toNumber(f.text).has_value();
            if (!anyNumber) {
                sawHeader = true;
                continue;
            }
        }
        for (const Field& f : fields) {
            if (f.text.empty()) fail(source, lineNo, f.column, "empty field");
            std::optional<double> value = toNumber(f.text);
            if (!value) fail(source, lineNo, f.column, "not a number: " + quotedToken(f.text));
            if (!std::isfinite(*value)) fail(source, lineNo, f.column, "not a finite number: " + quotedToken(f.text));
        }
        if (fields.size() != layout.width()) {
            std::size_t column = fields.size() > layout.width() ? fields[layout.width()].column
                                                                : fields.back().column + fields.back().text.size();
            fail(source, lineNo, column, widthMessage(layout, fields.size()));
        }
        for (const Field& f : fields) table.values.push_back(*toNumber(f.text));
        table.lines.push_back(lineNo);
    }
    if (table.values.empty())
        throw UsageError(source + ": " + (sawHeader ? "a header but no data rows" : "no data rows"));
    return table;
}

// ---- JSON ------------------------------------------------------------------

// An input iterator over the text that tells how far the JSON lexer has read,
// so that the reader can name the line and column of what it rejects.
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator() = default;
    CountingIterator(const char* p, std::size_t* consumed, const char* base) : p_(p), consumed_(consumed), base_(base)
    {}
    reference operator*() const { return *p_; }
    CountingIterator& operator++()
    {
        ++p_;
        if (consumed_) *consumed_ = static_cast<std::size_t>(p_ - base_);
        return *this;
    }
    CountingIterator operator++(int)
    {
        CountingIterator old = *this;
        ++*this;
        return old;
    }
    bool operator==(const CountingIterator& other) const { return p_ == other.p_; }
    bool operator!=(const CountingIterator& other) const { return p_ != other.p_; }

private:
    const char* p_ = nullptr;
    std::size_t* consumed_ = nullptr;
    const char* base_ = nullptr;
};

// Reads the rows through the SAX interface, checking the shape as it goes.
class JsonRows : public nlohmann::json_sax<nlohmann::json> {
public:
    JsonRows(std::string_view text, const std::string& source, const Layout& layout, Table& table)
        : text_(text), source_(source), layout_(layout), table_(table)
    {}

    std::size_t consumed = 0;
    std::string error;

    bool null() override { return scalar("null", consumed); }
    bool boolean(bool) override { return scalar("a boolean", consumed); }
    bool number_integer(number_integer_t v) override { return value(static_cast<double>(v)); }
    bool number_unsigned(number_unsigned_t v) override { return value(static_cast<double>(v)); }
    bool number_float(number_float_t v, const string_t&) override { return value(v); }
    bool string(string_t&) override { return scalar("a string", stringStart()); }
    bool binary(binary_t&) override { return scalar("binary data", consumed); }

    bool start_object(std::size_t) override
    {
        if (depth_ == 1) {
            ++depth_;
            rowStart_ = consumed - 1;
            inObject_ = true;
            row_.assign(layout_.width(), NAN);
            seen_.assign(layout_.width(), false);
            return true;
        }
        return reject(depth_ == 0 ? "expected an array of rows, found an object" : "expected a number, found an object",
                      consumed - 1);
    }
    bool key(string_t& name) override
    {
        keyStart_ = stringStart();
        key_ = -1;
        for (std::size_t c = 0; c < layout_.columns.size(); ++c)
            if (name == layout_.columns[c]) key_ = static_cast<int>(c);
        if (layout_.weighted && (name == "weight" || name == "w")) key_ = static_cast<int>(layout_.columns.size());
        if (key_ < 0) {
            std::string known = layout_.describe();
            return reject("unknown key " + quotedToken(name) + " (expected " + known + ")", keyStart_);
        }
        if (seen_[static_cast<std::size_t>(key_)]) return reject("duplicate key " + quotedToken(name), keyStart_);
        seen_[static_cast<std::size_t>(key_)] = true;
        return true;
    }
    bool end_object() override
    {
        for (std::size_t c = 0; c < row_.size(); ++c)
            if (!seen_[c]) {
                std::string name = c < layout_.columns.size() ? layout_.columns[c] : std::string("weight");
                return reject("missing \"" + name + "\"", rowStart_);
            }
        return endRow();
    }
    bool start_array(std::size_t) override
    {
        if (depth_ == 0 || depth_ == 1) {
            if (depth_ == 1) {
                rowStart_ = consumed - 1;
                inObject_ = false;
                row_.clear();
            }
            ++depth_;
            return true;
        }
        return reject("expected a number, found an array", consumed - 1);
    }
    bool end_array() override
    {
        if (depth_ == 1) {
            depth_ = 0;
            return true;
        }
        if (row_.size() != layout_.width()) return reject(widthMessage(layout_, row_.size()), rowStart_);
        return endRow();
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override
    {
        std::size_t offset = position == 0 ? 0 : position - 1;
        error = located(offset, lexerWords(ex.what()));
        return false;
    }

private:
    // The parser's message without its prefix ("[json.exception.parse_error.101]
    // parse error at line 1, column 6: "), the text it read last quoted as
    // the other messages quote a token.
    static std::string lexerWords(std::string what)
    {
        if (what.rfind("[json.exception.", 0) == 0) what.erase(0, what.find("] ") + 2);
        if (std::size_t at = what.find(": ", what.find("column")); at != std::string::npos) what.erase(0, at + 2);
        for (const std::string marker : {"last read: '", "parsing '"}) {
            const std::size_t at = what.find(marker);
            if (at == std::string::npos || what.back() != '\'') continue;
            const std::size_t from = at + marker.size();
            return what.substr(0, from - 1) + quotedToken(std::string_view(what).substr(from, what.size() - 1 - from));
        }
        return what;
    }

    bool endRow()
    {
        --depth_;
        table_.lines.push_back(lineOf(rowStart_));
        table_.values.insert(table_.values.end(), row_.begin(), row_.end());
        return true;
    }
    bool value(double v)
    {
        std::size_t start = numberStart();
        if (depth_ != 2) return scalar("a number", start);
        if (!std::isfinite(v)) return reject("not a finite number", start);
        if (inObject_) {
            row_[static_cast<std::size_t>(key_)] = v;
        } else {
            if (row_.size() == layout_.width()) return reject(widthMessage(layout_, row_.size() + 1), start);
            row_.push_back(v);
        }
        return true;
    }
    bool scalar(const char* what, std::size_t start)
    {
        if (depth_ == 2) return reject(std::string("expected a number, found ") + what, start);
        if (depth_ == 1) return reject(std::string("expected a row (an array or an object), found ") + what, start);
        return reject(std::string("expected an array of rows, found ") + what, start);
    }
    // The lexer has read one character past a number: walk back over it.
    std::size_t numberStart() const
    {
        std::size_t end = consumed == 0 ? 0 : consumed - 1;
        std::size_t start = end;
        while (start > 0 && std::strchr("0123456789+-.eE", text_[start - 1]) != nullptr) --start;
        return start;
    }
    // A string ends at its closing quote: walk back to the opening one.
    std::size_t stringStart() const
    {
        if (consumed < 2) return 0;
        std::size_t start = consumed - 2;
        while (start > 0 && !(text_[start] == '"' && text_[start - 1] != '\\')) --start;
        return start;
    }
    bool reject(const std::string& what, std::size_t offset)
    {
        error = located(offset, what);
        return false;
    }
    // Rows come in order, so the count of line breaks goes on from the last row.
    std::size_t lineOf(std::size_t offset)
    {
        for (; countedTo_ < offset && countedTo_ < text_.size(); ++countedTo_)
            countedLine_ += text_[countedTo_] == '\n' ? 1 : 0;
        return countedLine_;
    }
    std::string located(std::size_t offset, const std::string& what) const
    {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < offset && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return source_ + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what;
    }

    std::string_view text_;
    const std::string& source_;
    const Layout& layout_;
    Table& table_;
    int depth_ = 0;
    bool inObject_ = false;
    int key_ = -1;
    std::size_t keyStart_ = 0;
    std::size_t rowStart_ = 0;
    std::vector<double> row_;
    std::vector<bool> seen_;
    std::size_t countedTo_ = 0;
    std::size_t countedLine_ = 1;
};

Table parseJson(std::string_view text, const std::string& source, const Layout& layout)
{
    Table table{source, layout.width(), {}, {}};
    JsonRows rows(text, source, layout, table);
    CountingIterator first(text.data(), &rows.consumed, text.data());
    CountingIterator last(text.data() + text.size(), nullptr, text.data());
    if (!nlohmann::json::sax_parse(first, last, &rows)) throw UsageError(rows.error);
    if (table.values.empty()) throw UsageError(source + ": no data rows");
    return table;
}

}  // namespace

Table parseTable(std::string_view text, const std::string& source, const Layout& layout)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && (text[first] == '[' || text[first] == '{'))
        return parseJson(text, source, layout);
    return parseText(text, source, layout);
}

Table readTable(const std::string& path, const Layout& layout)
{
    std::string text;
    std::string source = path;
    if (path == "-") {
        source = "<stdin>";
        std::ostringstream all;
        all << std::cin.rdbuf();
        text = all.str();
    } else {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) throw UsageError("cannot read " + path + ": is a directory");
        std::ifstream in(path, std::ios::binary);
        if (!in) throw UsageError("cannot read " + path + ": " + std::strerror(errno));
        std::ostringstream all;
        all << in.rdbuf();
        if (in.bad()) throw UsageError("cannot read " + path + ": " + std::strerror(errno));
        text = all.str();
    }
    return parseTable(text, source, layout);
}

}  // namespace zcli
