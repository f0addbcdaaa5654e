#include "ComprobeScript.h"

#include <cerrno>
#include <cstdlib>

namespace comprobe {

namespace {

bool IsName(const std::string& s)
{
    if (s.empty() || s.size() > kMaxName)
        return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (!letter && !(i > 0 && c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

// Splits a line into tokens; a quoted text is one token, kept with its quotes and unescaped.
bool Tokens(const std::string& line, std::vector<std::string>* out, std::string* why)
{
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        std::string token;
        if (line[i] == '"') {
            token += '"';
            ++i;
            bool closed = false;
            while (i < line.size()) {
                const char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (i >= line.size() || (line[i] != '"' && line[i] != '\\')) {
                        *why = "unknown escape in a text";
                        return false;
                    }
                    token += line[i++];
                } else {
                    token += c;
                }
            }
            if (!closed) {
                *why = "a text without its closing quote";
                return false;
            }
            if (i < line.size() && line[i] != ' ' && line[i] != '\t') {
                *why = "a text runs into what follows it";
                return false;
            }
            token += '"';
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                token += line[i++];
        }
        out->push_back(token);
    }
    return true;
}

bool ParseArg(const std::string& token, bool allowOut, Arg* arg, std::string* why)
{
    if (token.size() >= 2 && token.front() == '"') {
        arg->kind = Arg::Text;
        arg->text = token.substr(1, token.size() - 2);
        return true;
    }
    if (token == "out") {
        if (!allowOut) {
            *why = "out is not a value";
            return false;
        }
        arg->kind = Arg::Out;
        return true;
    }
    if (token[0] == '@') {
        arg->kind = Arg::Object;
        arg->text = token.substr(1);
        if (!IsName(arg->text)) {
            *why = "'" + token + "' does not name an object";
            return false;
        }
        return true;
    }
    if (token.compare(0, 4, "hex:") == 0) {
        arg->kind = Arg::Bytes;
        const std::string hex = token.substr(4);
        if (hex.size() % 2) {
            *why = "an odd number of hexadecimal digits";
            return false;
        }
        for (size_t i = 0; i < hex.size(); i += 2) {
            unsigned v = 0;
            for (size_t k = i; k < i + 2; ++k) {
                const char c = hex[k];
                const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                        : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
                if (d < 0) {
                    *why = "'" + token + "' is not hexadecimal";
                    return false;
                }
                v = v * 16 + static_cast<unsigned>(d);
            }
            arg->bytes.push_back(static_cast<uint8_t>(v));
        }
        return true;
    }
    arg->kind = Arg::Number;
    const bool negative = token[0] == '-';
    const std::string digits = negative ? token.substr(1) : token;
    if (digits.empty() || digits[0] < '0' || digits[0] > '9') {
        *why = "'" + token + "' is not a value";
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(digits.c_str(), &end, 0);
    if (*end || errno || v > 0xFFFFFFFFull) {
        *why = "'" + token + "' is not a number of 32 bits";
        return false;
    }
    arg->number = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    if (arg->number < -2147483648LL) {
        *why = "'" + token + "' is not a number of 32 bits";
        return false;
    }
    return true;
}

bool ParseLine(const std::vector<std::string>& t, Line* line, std::string* why)
{
    const std::string& op = t[0];
    if (op == "new")
        line->op = Line::New;
    else if (op == "put")
        line->op = Line::Put;
    else if (op == "get")
        line->op = Line::Get;
    else if (op == "call")
        line->op = Line::Call;
    else {
        *why = "unknown command '" + op.substr(0, 32) + "'";
        return false;
    }
    const size_t want = line->op == Line::New || line->op == Line::Get ? 3 : line->op == Line::Put ? 4 : 0;
    if ((want && t.size() != want) || (!want && t.size() < 3)) {
        *why = "wrong number of words for " + op;
        return false;
    }
    if (t.size() - 3 > kMaxArgs) {
        *why = "too many arguments";
        return false;
    }
    if (!IsName(t[1])) {
        *why = "'" + t[1].substr(0, 32) + "' is not a name";
        return false;
    }
    line->name = t[1];
    line->member = t[2];
    if (line->member.empty() || line->member.size() > kMaxMember || line->member[0] == '"') {
        *why = "a bad " + std::string(line->op == Line::New ? "class" : "member") + " name";
        return false;
    }
    for (size_t i = 3; i < t.size(); ++i) {
        Arg a;
        if (!ParseArg(t[i], line->op == Line::Call, &a, why))
            return false;
        line->args.push_back(std::move(a));
    }
    return true;
}

}  // namespace

bool ParseScript(const std::string& text, std::vector<Line>* lines, std::string* error)
{
    lines->clear();
    if (text.size() > kMaxScript) {
        *error = "the script is larger than 1 MiB";
        return false;
    }
    size_t at = 0;
    int number = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string raw = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        std::string why;
        std::vector<std::string> tokens;
        bool ok = raw.find('\0') == std::string::npos;
        if (!ok)
            why = "a zero byte";
        else
            ok = Tokens(raw, &tokens, &why);
        if (ok) {
            if (tokens.empty() || tokens[0][0] == '#')
                continue;
            if (lines->size() >= kMaxLines) {
                why = "more than 10000 commands";
            } else {
                Line line;
                line.number = number;
                if (ParseLine(tokens, &line, &why)) {
                    lines->push_back(std::move(line));
                    continue;
                }
            }
        }
        std::string shown = raw.substr(0, 80);
        for (char& c : shown)
            if (static_cast<unsigned char>(c) < 0x20)
                c = '?';
        *error = "line " + std::to_string(number) + ": " + why + ": " + shown;
        return false;
    }
    return true;
}

}  // namespace comprobe
