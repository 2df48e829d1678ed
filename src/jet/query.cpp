#include "jet/query.hpp"

#include <cctype>
#include <vector>

#include "catalogue/engine.hpp"
#include "platform/paths.hpp"

namespace strovia::jet {
namespace {

enum class Kind { Word, Name, Text, Star, Equals, Semicolon, Other, End };

struct Token {
    Kind kind;
    std::string value;
};

bool word_char(char c) {
    auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '-' || u >= 0x80;
}

Error syntax(std::string_view query) {
    return Error{engine_error::kQuerySyntax,
                 "Syntax error in query expression '" + std::string(query) + "'."};
}

// Splits the text into tokens; a malformed literal or bracket is reported
// as a syntax error of the expression.
Result<std::vector<Token>> tokenize(std::string_view s) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '"') {
            std::string text;
            ++i;
            bool closed = false;
            while (i < s.size()) {
                if (s[i] == '"') {
                    if (i + 1 < s.size() && s[i + 1] == '"') {
                        text += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                text += s[i++];
            }
            if (!closed) return syntax(s);
            out.push_back({Kind::Text, std::move(text)});
        } else if (c == '[') {
            std::size_t end = s.find(']', i + 1);
            if (end == std::string_view::npos || end == i + 1) return syntax(s);
            out.push_back({Kind::Name, std::string(s.substr(i + 1, end - i - 1))});
            i = end + 1;
        } else if (word_char(c)) {
            std::size_t start = i;
            while (i < s.size() && word_char(s[i])) ++i;
            out.push_back({Kind::Word, std::string(s.substr(start, i - start))});
        } else {
            Kind k = c == '*'   ? Kind::Star
                     : c == '=' ? Kind::Equals
                     : c == ';' ? Kind::Semicolon
                                : Kind::Other;
            out.push_back({k, std::string(1, c)});
            ++i;
        }
    }
    out.push_back({Kind::End, {}});
    return out;
}

bool is_keyword(const Token& t, std::string_view kw) {
    return t.kind == Kind::Word && platform::equal_ignoring_case(t.value, kw);
}

bool is_name(const Token& t) {
    if (t.kind == Kind::Name) return true;
    if (t.kind != Kind::Word) return false;
    for (auto kw : {"select", "from", "where"})
        if (platform::equal_ignoring_case(t.value, kw)) return false;
    return true;
}

}  // namespace

Result<Query> parse_query(std::string_view text) {
    auto tokens = tokenize(text);
    if (!tokens) return tokens.error();
    const auto& t = *tokens;
    std::size_t i = 0;
    if (!is_keyword(t[i], "select"))
        return Error{engine_error::kInvalidStatement, "Invalid SQL statement; expected 'SELECT'."};
    ++i;
    if (t[i].kind != Kind::Star) return syntax(text);
    ++i;
    if (!is_keyword(t[i], "from")) return syntax(text);
    ++i;
    if (!is_name(t[i])) return Error{engine_error::kFromSyntax, "Syntax error in FROM clause."};
    Query q;
    q.table = t[i].value;
    ++i;
    if (is_keyword(t[i], "where")) {
        ++i;
        if (!is_name(t[i]) || t[i + 1].kind != Kind::Equals || t[i + 2].kind != Kind::Text)
            return syntax(text);
        q.where = Query::Condition{t[i].value, t[i + 2].value};
        i += 3;
    }
    if (t[i].kind == Kind::Semicolon) ++i;
    if (t[i].kind != Kind::End) {
        if (t[i - 1].kind == Kind::Semicolon)
            return Error{engine_error::kTrailingCharacters,
                         "Characters found after end of SQL statement."};
        if (!q.where && t[i].kind != Kind::Text)
            return Error{engine_error::kFromSyntax, "Syntax error in FROM clause."};
        return syntax(text);
    }
    return q;
}

}  // namespace strovia::jet
