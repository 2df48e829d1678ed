#include "mci/parser.hpp"

#include <array>
#include <charconv>
#include <functional>

namespace strovia::mci {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

Error missing(std::string_view what, std::string_view verb) {
    return Error{err::kMissingParameter,
                 "missing " + std::string(what) + " after \"" + std::string(verb) + "\""};
}

Error unexpected(const Token& t) {
    return Error{err::kBadParameter, "unexpected parameter \"" + t.text + "\""};
}

using Tokens = std::vector<Token>;

// Every verb but open names its device by the token after it and may take
// nothing more.
Result<Command> alias_only(Verb verb, const Tokens& t) {
    if (t.size() < 2) return missing("a device alias", t[0].text);
    if (t.size() > 2) return unexpected(t[2]);
    Command c;
    c.verb = verb;
    c.alias = t[1].text;
    return c;
}

Result<Command> parse_open(const Tokens& t) {
    if (t.size() < 2) return missing("a file path", t[0].text);
    Command c;
    c.verb = Verb::kOpen;
    c.open.path = t[1].text;
    c.open.alias = t[1].text;
    for (std::size_t i = 2; i < t.size(); ++i) {
        const Token& key = t[i];
        if (key.quoted) return unexpected(key);
        if (i + 1 >= t.size()) return missing("a value", key.text);
        const Token& value = t[++i];
        if (keyword_is(key.text, "alias")) {
            c.open.alias = value.text;
        } else if (keyword_is(key.text, "type")) {
            if (!keyword_is(value.text, "mpegvideo")) {
                return Error{err::kUnknownDeviceType, "unknown device type \"" + value.text +
                                                          "\" (this interpreter has mpegVideo)"};
            }
        } else if (keyword_is(key.text, "style")) {
            if (!keyword_is(value.text, "child")) {
                return Error{err::kBadParameter, "unknown window style \"" + value.text + "\""};
            }
        } else if (keyword_is(key.text, "parent")) {
            std::int64_t handle = 0;
            const char* first = value.text.data();
            const char* last = first + value.text.size();
            auto [end, ec] = std::from_chars(first, last, handle);
            if (ec != std::errc{} || end != last) {
                return Error{err::kBadHandle, "\"" + value.text + "\" is not a window handle"};
            }
            c.open.parent = handle;
        } else {
            return unexpected(key);
        }
    }
    return c;
}

Result<Command> parse_set(const Tokens& t) {
    // set <alias> time format frames|milliseconds|ms
    if (t.size() < 2) return missing("a device alias", t[0].text);
    if (t.size() < 5) return missing("\"time format\" and a format", t[1].text);
    if (!keyword_is(t[2].text, "time")) return unexpected(t[2]);
    if (!keyword_is(t[3].text, "format")) return unexpected(t[3]);
    if (t.size() > 5) return unexpected(t[5]);
    Command c;
    c.verb = Verb::kSet;
    c.alias = t[1].text;
    if (keyword_is(t[4].text, "frames")) {
        c.format = TimeFormat::kFrames;
    } else if (keyword_is(t[4].text, "milliseconds") || keyword_is(t[4].text, "ms")) {
        c.format = TimeFormat::kMilliseconds;
    } else {
        return Error{err::kBadParameter, "unknown time format \"" + t[4].text + "\""};
    }
    return c;
}

Result<Command> parse_status(const Tokens& t) {
    if (t.size() < 2) return missing("a device alias", t[0].text);
    if (t.size() < 3) return missing("a status item", t[1].text);
    Command c;
    c.verb = Verb::kStatus;
    c.alias = t[1].text;
    std::size_t used = 3;
    const std::string& item = t[2].text;
    if (keyword_is(item, "mode")) {
        c.item = StatusItem::kMode;
    } else if (keyword_is(item, "position")) {
        c.item = StatusItem::kPosition;
    } else if (keyword_is(item, "length")) {
        c.item = StatusItem::kLength;
    } else if (keyword_is(item, "ready")) {
        c.item = StatusItem::kReady;
    } else if (keyword_is(item, "time") && t.size() > 3 && keyword_is(t[3].text, "format")) {
        c.item = StatusItem::kTimeFormat;
        used = 4;
    } else {
        return Error{err::kBadParameter, "unknown status item \"" + item + "\""};
    }
    if (t.size() > used) return unexpected(t[used]);
    return c;
}

// seek <alias> to <position>: the device stands at that position, in its
// time format, ready to play from it.
Result<Command> parse_seek(const Tokens& t) {
    if (t.size() < 2) return missing("a device alias", t[0].text);
    if (t.size() < 3 || !keyword_is(t[2].text, "to")) return missing("\"to\"", t[1].text);
    if (t.size() < 4) return missing("a position", t[2].text);
    Command c;
    c.verb = Verb::kSeek;
    c.alias = t[1].text;
    const std::string& at = t[3].text;
    long long v = -1;
    const auto [end, ec] = std::from_chars(at.data(), at.data() + at.size(), v);
    if (ec != std::errc() || end != at.data() + at.size() || v < 0) {
        return Error{err::kBadParameter, "\"" + at + "\" is not a position"};
    }
    c.seek_to = v;
    if (t.size() > 4) return unexpected(t[4]);
    return c;
}

struct VerbEntry {
    std::string_view name;
    std::function<Result<Command>(const Tokens&)> parse;
};

const std::array<VerbEntry, 8>& verbs() {
    static const std::array<VerbEntry, 8> table{{
        {"open", parse_open},
        {"close", [](const Tokens& t) { return alias_only(Verb::kClose, t); }},
        {"play", [](const Tokens& t) { return alias_only(Verb::kPlay, t); }},
        {"pause", [](const Tokens& t) { return alias_only(Verb::kPause, t); }},
        {"stop", [](const Tokens& t) { return alias_only(Verb::kStop, t); }},
        {"set", parse_set},
        {"status", parse_status},
        {"seek", parse_seek},
    }};
    return table;
}

}  // namespace

std::string fold(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower(c);
    return out;
}

bool keyword_is(std::string_view token, std::string_view keyword) {
    if (token.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < token.size(); ++i) {
        if (lower(token[i]) != lower(keyword[i])) return false;
    }
    return true;
}

Result<std::vector<Token>> tokenize(std::string_view command) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    const std::size_t n = command.size();
    while (i < n) {
        if (is_blank(command[i])) {
            ++i;
            continue;
        }
        Token token;
        if (command[i] == '"') {
            const std::size_t close = command.find('"', i + 1);
            if (close == std::string_view::npos) {
                return Error{err::kUnclosedQuote, "a double quote opened at column " +
                                                      std::to_string(i + 1) + " is not closed"};
            }
            if (close + 1 < n && !is_blank(command[close + 1])) {
                return Error{err::kGluedQuote, "text follows the closing quote at column " +
                                                   std::to_string(close + 1) + " without a blank"};
            }
            token.text = std::string(command.substr(i + 1, close - i - 1));
            token.quoted = true;
            i = close + 1;
        } else {
            const std::size_t start = i;
            while (i < n && !is_blank(command[i])) {
                if (command[i] == '"') {
                    return Error{
                        err::kGluedQuote,
                        "a double quote stands inside a token at column " + std::to_string(i + 1)};
                }
                ++i;
            }
            token.text = std::string(command.substr(start, i - start));
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

Result<Command> parse(std::string_view command) {
    auto tokens = tokenize(command);
    if (!tokens) return tokens.error();
    const Tokens& t = *tokens;
    if (t.empty()) return Error{err::kEmptyCommand, "empty command"};
    if (!t[0].quoted) {
        for (const auto& entry : verbs()) {
            if (keyword_is(t[0].text, entry.name)) return entry.parse(t);
        }
    }
    return Error{err::kUnknownCommand, "unknown command \"" + t[0].text + "\""};
}

}  // namespace strovia::mci
