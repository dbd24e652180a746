// The web studio: an HTTP server in the program that shows the module's own dialog as a form,
// runs the module in our host on the model a person opens, and shows the result, its undo
// history and the printable pattern in the browser.
#pragma once

#include <memory>
#include <string>

#include "studio/serve.h"

namespace studio {

class Studio {
 public:
  explicit Studio(StudioOptions options);
  ~Studio();
  Studio(const Studio&) = delete;
  Studio& operator=(const Studio&) = delete;

  /// Loads the module, checks the front end, makes the private upload folder and binds the
  /// port. False with *error set when any of it fails.
  bool start(std::string* error);
  /// The port bound by start().
  int port() const;
  /// Answers requests until stop(); false when the server could not listen.
  bool serve();
  /// Ends serve() (from any thread).
  void stop();
  /// The private folder that holds the sessions' files (deleted by the destructor).
  std::string workFolder() const;
  /// Number of sessions open now.
  std::size_t sessionCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace studio
