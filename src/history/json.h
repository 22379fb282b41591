// SPDX-License-Identifier: Apache-2.0
// The little JSON the history needs: one object per line, written and read back. Reading is
// bounded (nesting, length) and strict: anything that is not JSON is refused with a reason.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct JsonValue {
    enum Kind : uint8_t { NUL, BOOL, NUMBER, STRING, ARRAY, OBJECT } kind = NUL;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> fields;

    // A field of an object, or nullptr (also when this is no object).
    const JsonValue* find(const std::string& name) const;
    double numberOr(const std::string& name, double fallback) const;
    std::string textOr(const std::string& name, const std::string& fallback) const;
    bool boolOr(const std::string& name, bool fallback) const;
};

// Parses one JSON text (surrounding blanks allowed); false with *reason on anything else.
bool Json_Parse(const std::string& text, JsonValue* out, std::string* reason);

// Appends text as a JSON string literal (quotes, escapes; UTF-8 passed through).
void Json_AppendString(std::string* out, const std::string& text);
// A number as JSON writes it: whole numbers without a point, others with up to 6 decimals.
std::string Json_Number(double value);
