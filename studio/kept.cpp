#include "studio/kept.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "studio/context.h"

namespace studio {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kRecord = "session.json";
constexpr int kRecordVersion = 1;

std::uintmax_t folderBytes(const fs::path& folder) {
  std::uintmax_t bytes = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file(ec)) bytes += it->file_size(ec);
  }
  return bytes;
}

}  // namespace

bool sessionIdLike(const std::string& id) {
  return id.size() == 32 &&
         std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void saveSession(const Session& session) {
  if (!session.kept) return;
  json record = {
      {"version", kRecordVersion}, {"revision", session.revision.load()}, {"model", nullptr}, {"run", nullptr}};
  if (session.document && !session.modelFolder.empty()) {
    // A project's images lie in a folder of their own beside it.
    fs::path folder(session.modelFolder);
    if (folder.filename() == "project") folder = folder.parent_path();
    std::string file;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
      if (e.path().stem() == "model") file = e.path().filename().string();
    }
    record["model"] = {{"folder", folder.filename().string()}, {"file", file}, {"name", session.modelName}};
    if (const RunRecord* run = session.current()) record["run"] = run->form;
  }
  const fs::path path = session.folder / kRecord, staged = session.folder / (std::string(kRecord) + ".new");
  {
    std::ofstream out(staged, std::ios::binary | std::ios::trunc);
    out << record.dump();
    if (!out) return;
  }
  std::error_code ec;
  fs::rename(staged, path, ec);
}

bool restoreSession(Session& session, std::string* error) {
  std::ifstream in(session.folder / kRecord, std::ios::binary);
  if (!in) return *error = "no kept session", false;
  json record;
  try {
    record = json::parse(in);
  } catch (const json::exception&) {
    return *error = "the kept session's record is not valid JSON", false;
  }
  if (!record.is_object() || record.value("version", 0) != kRecordVersion) {
    return *error = "the kept session's record is of another version", false;
  }
  // Pattern files of earlier runs are drawn again when the run is.
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(session.folder, ec)) {
    if (e.path().filename().string().rfind("run-", 0) == 0) fs::remove_all(e.path(), ec);
  }
  const json& model = record["model"];
  if (!model.is_object()) return true;
  const std::string folder = model.value("folder", ""), file = model.value("file", ""),
                    name = model.value("name", "");
  if (!plainName(folder) || !plainName(file) || name.empty() || folder.rfind("model-", 0) != 0) {
    return *error = "the kept session names no model it holds", false;
  }
  if (!adoptModel(session, session.folder / folder / file, name, error)) return false;
  try {
    session.uploads = std::stoi(folder.substr(6));
  } catch (const std::exception&) {
    session.uploads = 0;
  }
  if (record["run"].is_object()) session.resume = record["run"];
  // Past every revision a page may still show: the page learns that the session came back
  // before it acts on what it showed.
  const json& revision = record["revision"];
  if (revision.is_number_integer()) session.revision = std::max<std::int64_t>(session.revision, revision.get<std::int64_t>() + 1);
  return true;
}

void touchSession(const Session& session) {
  if (!session.kept) return;
  std::error_code ec;
  fs::last_write_time(session.folder / kRecord, fs::file_time_type::clock::now(), ec);
}

void cleanKept(const Keeping& keeping, const std::set<std::string>& open) {
  if (!keeping.on()) return;
  struct Kept {
    fs::path folder;
    fs::file_time_type seen;
    std::uintmax_t bytes;
  };
  std::vector<Kept> kept;
  std::uintmax_t total = 0;
  std::error_code ec;
  const auto now = fs::file_time_type::clock::now();
  for (const auto& e : fs::directory_iterator(keeping.folder, ec)) {
    const std::string id = e.path().filename().string();
    if (!sessionIdLike(id) || !e.is_directory(ec)) continue;
    std::error_code timeError;
    auto seen = fs::last_write_time(e.path() / kRecord, timeError);
    if (timeError) seen = fs::last_write_time(e.path(), timeError);
    const std::uintmax_t bytes = folderBytes(e.path());
    total += bytes;
    if (open.count(id)) continue;
    if (timeError || now - seen > keeping.age) {
      fs::remove_all(e.path(), ec);
      total -= bytes;
      continue;
    }
    kept.push_back({e.path(), seen, bytes});
  }
  std::sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) { return a.seen < b.seen; });
  for (const Kept& k : kept) {
    if (total <= keeping.bytes) break;
    fs::remove_all(k.folder, ec);
    total -= k.bytes;
  }
}

}  // namespace studio
