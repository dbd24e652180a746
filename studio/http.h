// The studio's small helpers for HTTP: JSON answers and refusals, and the checks that names and
// numbers from a browser pass before the studio uses them.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

namespace studio {

/// True for addresses that only this machine can reach.
bool isLoopback(const std::string& host);

/// JSON text of an answer; names from a person's files that are not valid UTF-8 get replacement
/// characters instead of failing the answer.
std::string text(const nlohmann::json& body);
void answer(httplib::Response& res, const nlohmann::json& body);
/// An answer with a message: {"error": "..."} and the status.
void refuse(httplib::Response& res, int status, const std::string& message);

/// The lower-case extension of a file name with its dot, or "" when it has none.
std::string extensionOf(const std::string& name);
/// A name as it may appear in a message: printable characters only, not too long.
std::string shown(const std::string& text);
/// A plain file name: letters, digits, '.', '-', '_' and spaces, not starting with a dot.
bool plainName(const std::string& name);
/// A finite number, from JSON that may hold it as a number or as text.
bool number(const nlohmann::json& value, double* out);
/// The content type of a file the studio sends, by its extension.
std::string contentType(const std::string& extension);

}  // namespace studio
