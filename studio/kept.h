// Sessions kept on disk: the model a person opened, the settings of their last run and when
// they were last seen, in the session's folder, so that a reload, a pause of any length or a
// restart of the studio brings the work back. Folders not seen for a while, and the oldest when
// the kept ones grow too large, are deleted.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "studio/sessions.h"

namespace studio {

/// True for what a session's id looks like (32 lower-case hexadecimal digits): only such a name
/// is ever looked for in the kept folder.
bool sessionIdLike(const std::string& id);

/// Writes the session's record (its model's file and name, the last run's form) into its folder,
/// under a temporary name first. Nothing happens for a session that is not kept.
void saveSession(const Session& session);

/// Reads a kept session's record and opens its model again into `session` (whose id and folder
/// are set). False, with *error set, when there is no record or it cannot be used; the session
/// is then as new.
bool restoreSession(Session& session, std::string* error);

/// Marks a kept session as seen now (its record's time), so that its age counts from here.
void touchSession(const Session& session);

/// Deletes kept sessions not seen within keeping.age and, while their files together exceed
/// keeping.bytes, the least recently seen; sessions in `open` are left alone.
void cleanKept(const Keeping& keeping, const std::set<std::string>& open);

}  // namespace studio
