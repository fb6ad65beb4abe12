#pragma once

#include <string>

namespace zeplo::tool {

// The catalogue that the desktop menu's entries open: the user's own setting,
// chosen in the transfer window and read by the menu's launcher through the
// catalogue tool. A catalogue folder or a server URI, never with a password;
// empty when the user chose none. It lives in a Qt settings file under the
// user's configuration folder ($XDG_CONFIG_HOME/zeplo/zeplo.conf, or
// ~/.config/zeplo/zeplo.conf).
std::string desktopCatalogue();
// Raises the tool's error when the setting cannot be written.
void setDesktopCatalogue(const std::string &catalogue);

} // namespace zeplo::tool
