// The studio's small helpers for HTTP: JSON answers and refusals, and the checks that names and
// numbers from a browser pass before the studio uses them.
#pragma once

#include <httplib.h>

#include <memory>
#include <mutex>
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

/// Text compressed as gzip at a fast level: on loopback a large answer is sent faster plain
/// than compressed hard, and a fast level still shrinks scenes and SVG sheets several times.
std::string gzip(const std::string& text);

/// An answer's body kept for every request that asks for it: its content type, a tag that
/// changes with the content, and its gzip form, made once when a client first takes it.
class Body {
 public:
  Body(std::string content, std::string type);
  const std::string& content() const { return content_; }
  const std::string& type() const { return type_; }
  const std::string& tag() const { return tag_; }
  /// The gzip form, or the content itself for types that do not compress (images, PDF).
  const std::string& compressed() const;
  bool compresses() const;

 private:
  std::string content_, type_, tag_;
  mutable std::once_flag once_;
  mutable std::string compressed_;
};

/// Sends the body, compressed when the client takes gzip, streamed so that a client that goes
/// away stops the sending. A request whose If-None-Match names the body's tag gets 304.
void send(const httplib::Request& req, httplib::Response& res, std::shared_ptr<const Body> body);

/// Sends a file, compressed like a body when it is text; the compressed copy is written beside
/// the file once and sent from there on. `name` is the name a browser saves it as.
void sendFile(const httplib::Request& req, httplib::Response& res, const std::string& path, const std::string& name,
              bool attachment);

}  // namespace studio
