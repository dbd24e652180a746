#include "studio/http.h"

#include <algorithm>
#include <cmath>
#include <map>

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
      {".mtl", "text/plain; charset=utf-8"}};
  auto it = types.find(extension);
  return it == types.end() ? "application/octet-stream" : it->second;
}

}  // namespace studio
