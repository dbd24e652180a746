#include "studio/http.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

namespace studio {

using nlohmann::json;

bool isLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

std::string text(const json& body) { return body.dump(-1, ' ', false, json::error_handler_t::replace); }

void answer(httplib::Response& res, const json& body) { res.set_content(text(body), "application/json"); }

void refuse(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(text(json{{"error", message}}), "application/json");
}

std::string extensionOf(const std::string& name) {
  const auto dot = name.find_last_of('.');
  const auto slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == name.size()) return "";
  std::string extension = name.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

std::string shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7f) out += static_cast<char>(c);
    if (out.size() >= 120) {
      out += "...";
      break;
    }
  }
  return out.empty() ? "(no name)" : out;
}

bool plainName(const std::string& name) {
  if (name.empty() || name.size() > 100 || name[0] == '.' || name[0] == ' ') return false;
  for (unsigned char c : name) {
    if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ' ')) return false;
  }
  return name.find("..") == std::string::npos;
}

bool number(const json& value, double* out) {
  if (value.is_number()) {
    *out = value.get<double>();
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    try {
      std::size_t used = 0;
      *out = std::stod(text, &used);
      if (used != text.size()) return false;
    } catch (const std::exception&) {
      return false;
    }
  } else {
    return false;
  }
  return std::isfinite(*out);
}

std::string contentType(const std::string& extension) {
  static const std::map<std::string, std::string> types = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".json", "application/json"}, {".svg", "image/svg+xml"}, {".png", "image/png"},
      {".ico", "image/x-icon"}, {".txt", "text/plain; charset=utf-8"}, {".woff2", "font/woff2"},
      {".pdf", "application/pdf"}, {".glb", "model/gltf-binary"}, {".obj", "text/plain; charset=utf-8"},
      {".mtl", "text/plain; charset=utf-8"}, {".zip", "application/zip"}};
  auto it = types.find(extension);
  return it == types.end() ? "application/octet-stream" : it->second;
}

namespace {

namespace fs = std::filesystem;

bool compressible(const std::string& type) {
  return type.rfind("text/", 0) == 0 || type == "application/json" || type == "image/svg+xml";
}

bool takesGzip(const httplib::Request& req) {
  return req.get_header_value("Accept-Encoding").find("gzip") != std::string::npos;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

/// Streams a body in pieces: a client that closed its connection ends the sending.
void stream(httplib::Response& res, std::shared_ptr<const std::string> data, const std::string& type) {
  const std::size_t size = data->size();
  res.set_content_provider(size, type.c_str(), [data](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
    const std::size_t chunk = std::min<std::size_t>(length, 256 * 1024);
    return sink.write(data->data() + offset, chunk);
  });
}

}  // namespace

std::string gzip(const std::string& text) {
  z_stream z{};
  // 15 + 16: a gzip header and trailer around the deflate stream.
  if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int done = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return done == Z_STREAM_END ? out : std::string();
}

Body::Body(std::string content, std::string type) : content_(std::move(content)), type_(std::move(type)) {
  char tag[32];
  std::snprintf(tag, sizeof tag, "\"%zx-%zx\"", std::hash<std::string>{}(content_), content_.size());
  tag_ = tag;
}

bool Body::compresses() const { return compressible(type_) && content_.size() > 1024; }

const std::string& Body::compressed() const {
  if (!compresses()) return content_;
  std::call_once(once_, [this] { compressed_ = gzip(content_); });
  return compressed_.empty() ? content_ : compressed_;
}

void send(const httplib::Request& req, httplib::Response& res, std::shared_ptr<const Body> body) {
  res.set_header("ETag", body->tag());
  if (req.get_header_value("If-None-Match") == body->tag()) {
    res.status = 304;
    return;
  }
  const bool zipped = body->compresses() && takesGzip(req) && &body->compressed() != &body->content();
  if (zipped) {
    res.set_header("Content-Encoding", "gzip");
    res.set_header("Vary", "Accept-Encoding");
  }
  const std::string& data = zipped ? body->compressed() : body->content();
  // The body outlives the answer: the provider holds it.
  auto keep = std::shared_ptr<const std::string>(body, &data);
  stream(res, keep, body->type());
}

void sendFile(const httplib::Request& req, httplib::Response& res, const std::string& path, const std::string& name,
              bool attachment) {
  std::error_code ec;
  if (path.empty() || !fs::is_regular_file(path, ec)) return refuse(res, 404, "no such file");
  const std::string type = contentType(extensionOf(path));
  res.set_header("Content-Disposition", std::string(attachment ? "attachment" : "inline") + "; filename=\"" + name + "\"");
  std::shared_ptr<std::string> data;
  if (compressible(type) && takesGzip(req)) {
    const fs::path packed = path + ".gz";
    if (!fs::is_regular_file(packed, ec)) {
      // Two requests may compress at once: each writes its own name and the last rename wins.
      std::ostringstream unique;
      unique << path << ".gz-" << std::this_thread::get_id();
      const std::string compressed = gzip(readFile(path));
      std::ofstream out(unique.str(), std::ios::binary);
      out.write(compressed.data(), static_cast<std::streamsize>(compressed.size()));
      out.close();
      if (compressed.empty() || !out) return refuse(res, 500, "the file could not be sent");
      fs::rename(unique.str(), packed, ec);
    }
    data = std::make_shared<std::string>(readFile(packed));
    res.set_header("Content-Encoding", "gzip");
    res.set_header("Vary", "Accept-Encoding");
  } else {
    data = std::make_shared<std::string>(readFile(path));
  }
  stream(res, std::move(data), type);
}

}  // namespace studio
