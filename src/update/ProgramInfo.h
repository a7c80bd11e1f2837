#pragma once
// The program's name, version and addresses, shown in the About page and used by the update check.
#include "Version.h"

namespace hexaloom {

inline constexpr char kAppYear[] = "2009";

// The project's web page, opened by the About window's donate button.
inline constexpr char kProjectWebPage[] = "https://hexaloom.org/";
// Where the update check asks for the information file. https, so neither the file nor the fingerprint
// it carries can be swapped on the way; the settings key "updateurl" overrides it.
inline constexpr char kUpdateInfoUrl[] = "https://hexaloom.org/u_versions/hexaloom.dat";

} // namespace hexaloom
