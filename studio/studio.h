// foldra serve: a local web studio. An HTTP server in the program shows the module's own dialog
// as a form, runs the module in our host on the model a person opens, and shows the result, its
// undo history and the printable pattern in the browser.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace studio {

struct StudioOptions {
  /// Address to listen on; loopback unless the person asks for another.
  std::string host = "127.0.0.1";
  /// Port; 0 picks a free one.
  int port = 8080;
  /// Largest request body (an upload of a model with its companion files), in bytes.
  std::size_t maxUpload = 100u * 1024u * 1024u;
  /// The module file to run.
  std::string modulePath;
  /// The built front end (index.html and what it loads).
  std::string webFolder;
  /// A session not seen for this long is ended and its files deleted.
  std::chrono::seconds sessionTimeout{30 * 60};
  /// Sessions open at once; further browsers are refused until one ends.
  std::size_t maxSessions = 32;
  /// Called while a run holds the module, before the module starts (tests use it to hold a run).
  std::function<void()> beforeRun;
};

/// True for addresses that only this machine can reach.
bool isLoopback(const std::string& host);

class Studio {
 public:
  explicit Studio(StudioOptions options);
  ~Studio();
  Studio(const Studio&) = delete;
  Studio& operator=(const Studio&) = delete;

  /// Loads the module and the front end, makes the private upload folder and binds the port.
  /// False with *error set when any of it fails.
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

/// Runs the studio until SIGINT or SIGTERM; prints the address to stdout. The exit code.
int serve(const StudioOptions& options);

}  // namespace studio
