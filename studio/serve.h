// foldra serve: the web studio's one entry point for the program.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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
  /// A session whose page was closed ends this long after, unless the page comes back (a reload).
  std::chrono::seconds leaveGrace{60};
  /// Where sessions are kept on disk between visits and across restarts (the model, the settings,
  /// the last run); empty keeps nothing: a session's files go when it ends.
  std::string keepFolder;
  /// A kept session not seen for this long is deleted.
  std::chrono::hours keepAge{24 * 14};
  /// Kept sessions together take at most this much disk; the least recently seen go first.
  std::uintmax_t keepBytes = 2ull << 30;
  /// Sessions open at once; further browsers are refused until one ends.
  std::size_t maxSessions = 32;
  /// Called while a run holds the module, before the module starts (tests use it to hold a run).
  std::function<void()> beforeRun;
};

/// Runs the studio until SIGINT or SIGTERM; prints the address to stdout. The exit code.
int serve(const StudioOptions& options);

}  // namespace studio
