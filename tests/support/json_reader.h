// A small JSON reader for tests that check a program's --json output.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // UTF-8
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    // The member named key; a Null value when there is none.
    const Json& operator[](const std::string& key) const;
};

// False when text is not one whole JSON value.
bool parse_json(const std::string& text, Json* value);
