#pragma once
// The user's private runtime folder, for the sockets by which one run of the
// application finds another and finds the control port's keeper: only this
// user may reach them, so another local user can neither answer nor listen
// in their place.
//
// $XDG_RUNTIME_DIR where it is set and is this user's alone; else a folder
// of this user's in the temporary folder (made 0700, used only once it is
// seen to be ours, not a link, and closed to others). Where another user has
// taken that name first, a private folder under the user's own state folder
// serves instead, and `note` says so.
#include <string>

namespace kit {

struct RuntimeFolder {
    std::string path; // empty when no private folder could be had
    std::string note; // why the usual place was not used, or why none could be
};

RuntimeFolder runtimeFolder();

// A socket of this device's in the runtime folder: `name`, then a short tag
// of the device's settings file (one keeper, one service per device); empty
// without a private folder.
std::string deviceSocketPath(const std::string& name);

// Why `folder` is not this user's alone (owner, a folder, not a link, no one
// else may enter it), or empty when it is.
std::string foreignFolderProblem(const std::string& folder);

} // namespace kit
