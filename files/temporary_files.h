// The temporary files that saves and logs write beside their file, named ".NAME." and the six
// letters or digits mkstemp picks: their names, the search for those left behind, and the
// removal of those that killed saves left.
#pragma once

#include <functional>
#include <string>

namespace veskor {

// The mkstemp template of a temporary file of `name` in `folder` (ending with "/", or empty for
// the current folder): FOLDER.NAME.XXXXXX.
std::string TemporaryTemplate(const std::string& folder, const std::string& name);

// Calls `found` with the path of every regular file in `folder` named as a temporary file of
// `name`; links and folders of such a name are someone else's and passed over.
void ForEachTemporary(const std::string& folder, const std::string& name,
                      const std::function<void(const std::string& path)>& found);

// Removes what saves of `path` left when the process was killed between the temporary file's
// creation and its rename: the temporary files of SaveTarget(path) beside it. Only safe while no
// other process may be saving the file. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& path);

}  // namespace veskor
