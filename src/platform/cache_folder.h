#pragma once
// The user's private cache folder and the write-once files kept in it.
// The folder is $XDG_CACHE_HOME (when it is an absolute path) or ~/.cache;
// subfolders are created 0700 and are only handed out while no other user
// could write them, so nothing another user planted is ever read back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessal::platform {

// The user's cache folder without a trailing '/'; nothing when neither
// $XDG_CACHE_HOME nor $HOME gives an absolute path.
std::optional<std::string> userCacheFolder();

// The path of `name` inside the user's cache folder, created (0700, with the
// cache folder itself) when `create` is set and it is missing. Nothing when
// the folder is absent, is not a directory, belongs to another user or is
// writable by group or others.
std::optional<std::string> privateCacheSubfolder(std::string_view name, bool create);

// Creates `path` with `size` bytes unless it exists already. The bytes go to
// a temporary file beside the target first and are linked into place only
// when complete, so the target is either absent or whole. False when the
// target existed or anything failed; nothing is left behind.
bool createFileOnce(const std::string& path, const std::uint8_t* data, std::size_t size);

// Reads a regular file (symbolic links are not followed) that belongs to the
// user and is writable by nobody else. False for anything else.
bool readPrivateFile(const std::string& path, std::vector<std::uint8_t>& out);

}  // namespace tessal::platform
