#pragma once
// The program's name, version and addresses, shown in the About page and used by the update check.
namespace hexaloom {

inline constexpr char kAppTitle[] = "Hexaloom";
// The version as the About page shows it: major.minor and the build number in three digits.
inline constexpr char kAppVersion[] = "1.6.006";
inline constexpr char kAppYear[] = "2009";
// The version the update check compares with (VersionNumber gives 106006).
inline constexpr char kOwnVersion[] = "1.6.6";

// The project's web page, opened by the About window's donate button.
inline constexpr char kProjectWebPage[] = "https://hexaloom.org/";
// Where the update check asks for the information file. https, so neither the file nor the fingerprint
// it carries can be swapped on the way; the settings key "updateurl" overrides it.
inline constexpr char kUpdateInfoUrl[] = "https://hexaloom.org/u_versions/hexaloom.dat";

} // namespace hexaloom
