// SPDX-License-Identifier: Apache-2.0
// A strict, bounded JSON reader and the writer's helpers.
#include "history/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int MAX_DEPTH = 8;

struct Reader {
    const std::string& s;
    size_t at = 0;
    std::string error;

    void blanks() {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n'))
            ++at;
    }
    bool fail(const std::string& why) {
        if (error.empty()) error = why + " at character " + std::to_string(at + 1);
        return false;
    }
    bool literal(const char* word) {
        size_t n = std::char_traits<char>::length(word);
        if (s.compare(at, n, word) != 0) return fail("unexpected text");
        at += n;
        return true;
    }
    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    static void appendUtf8(std::string* out, uint32_t cp) {
        if (cp < 0x80) {
            out->push_back(char(cp));
        } else if (cp < 0x800) {
            out->push_back(char(0xC0 | (cp >> 6)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(char(0xE0 | (cp >> 12)));
            out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    bool string(std::string* out) {
        if (at >= s.size() || s[at] != '"') return fail("a string expected");
        ++at;
        while (at < s.size() && s[at] != '"') {
            unsigned char c = static_cast<unsigned char>(s[at]);
            if (c < 0x20) return fail("a control character in a string");
            if (c != '\\') {
                out->push_back(char(c));
                ++at;
                continue;
            }
            if (++at >= s.size()) break;
            char e = s[at++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out->push_back(e);
                    break;
                case 'b':
                    out->push_back('\b');
                    break;
                case 'f':
                    out->push_back('\f');
                    break;
                case 'n':
                    out->push_back('\n');
                    break;
                case 'r':
                    out->push_back('\r');
                    break;
                case 't':
                    out->push_back('\t');
                    break;
                case 'u': {
                    uint32_t cp = 0;
                    for (int i = 0; i < 4; ++i) {
                        int d = at < s.size() ? hexDigit(s[at]) : -1;
                        if (d < 0) return fail("a bad \\u escape");
                        cp = cp * 16 + uint32_t(d);
                        ++at;
                    }
                    // Surrogates are not needed by anything the history writes.
                    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    return fail("a bad escape");
            }
        }
        if (at >= s.size()) return fail("an unterminated string");
        ++at;
        return true;
    }
    bool number(double* out) {
        size_t start = at;
        if (at < s.size() && s[at] == '-') ++at;
        size_t digits = at;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
        if (at == digits) return fail("a number expected");
        if (at < s.size() && s[at] == '.') {
            ++at;
            size_t frac = at;
            while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
            if (at == frac) return fail("a bad number");
        }
        if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
            ++at;
            if (at < s.size() && (s[at] == '+' || s[at] == '-')) ++at;
            size_t exp = at;
            while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
            if (at == exp) return fail("a bad number");
        }
        std::string text = s.substr(start, at - start);
        *out = std::strtod(text.c_str(), nullptr);
        if (!std::isfinite(*out)) return fail("a number out of range");
        return true;
    }
    bool value(JsonValue* v, int depth) {
        if (depth > MAX_DEPTH) return fail("nested too deeply");
        blanks();
        if (at >= s.size()) return fail("a value expected");
        char c = s[at];
        if (c == '{') {
            v->kind = JsonValue::OBJECT;
            ++at;
            blanks();
            if (at < s.size() && s[at] == '}') return ++at, true;
            for (;;) {
                blanks();
                std::string name;
                if (!string(&name)) return false;
                blanks();
                if (at >= s.size() || s[at] != ':') return fail("':' expected");
                ++at;
                JsonValue item;
                if (!value(&item, depth + 1)) return false;
                v->fields[name] = std::move(item);
                blanks();
                if (at < s.size() && s[at] == ',') {
                    ++at;
                    continue;
                }
                if (at < s.size() && s[at] == '}') return ++at, true;
                return fail("',' or '}' expected");
            }
        }
        if (c == '[') {
            v->kind = JsonValue::ARRAY;
            ++at;
            blanks();
            if (at < s.size() && s[at] == ']') return ++at, true;
            for (;;) {
                JsonValue item;
                if (!value(&item, depth + 1)) return false;
                v->items.push_back(std::move(item));
                blanks();
                if (at < s.size() && s[at] == ',') {
                    ++at;
                    continue;
                }
                if (at < s.size() && s[at] == ']') return ++at, true;
                return fail("',' or ']' expected");
            }
        }
        if (c == '"') {
            v->kind = JsonValue::STRING;
            return string(&v->text);
        }
        if (c == 't' || c == 'f') {
            v->kind = JsonValue::BOOL;
            v->boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            v->kind = JsonValue::NUL;
            return literal("null");
        }
        v->kind = JsonValue::NUMBER;
        return number(&v->number);
    }
};

}  // namespace

const JsonValue* JsonValue::find(const std::string& name) const {
    if (kind != OBJECT) return nullptr;
    auto it = fields.find(name);
    return it == fields.end() ? nullptr : &it->second;
}

double JsonValue::numberOr(const std::string& name, double fallback) const {
    const JsonValue* v = find(name);
    return v && v->kind == NUMBER ? v->number : fallback;
}

std::string JsonValue::textOr(const std::string& name, const std::string& fallback) const {
    const JsonValue* v = find(name);
    return v && v->kind == STRING ? v->text : fallback;
}

bool JsonValue::boolOr(const std::string& name, bool fallback) const {
    const JsonValue* v = find(name);
    return v && v->kind == BOOL ? v->boolean : fallback;
}

bool Json_Parse(const std::string& text, JsonValue* out, std::string* reason) {
    Reader r{text, 0, {}};
    *out = JsonValue{};
    bool ok = r.value(out, 0);
    if (ok) {
        r.blanks();
        if (r.at != text.size()) ok = r.fail("text after the value");
    }
    if (!ok && reason) *reason = r.error;
    return ok;
}

void Json_AppendString(std::string* out, const std::string& text) {
    out->push_back('"');
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out->push_back('\\');
            out->push_back(ch);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            *out += buf;
        } else {
            out->push_back(ch);
        }
    }
    out->push_back('"');
}

std::string Json_Number(double value) {
    if (!std::isfinite(value)) return "0";
    char buf[40];
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(buf, sizeof buf, "%.0f", value);
    else
        std::snprintf(buf, sizeof buf, "%.6g", value);
    return buf;
}
