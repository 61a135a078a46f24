// A small JSON reader for tests that check a program's --json output.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct Json {
    bool boolean = false;
    std::string text;  // a string's UTF-8, a number's digits
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    // The member named key; an empty value when there is none.
    const Json& operator[](const std::string& key) const;
};

// False when text is not one whole JSON value.
bool parse_json(const std::string& text, Json* value);
