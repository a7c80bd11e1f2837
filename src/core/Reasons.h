#pragma once
// The program's own words for why a file could not be taken, read or written, where the system gives
// none. The command line prints them as they stand; the window shows them in the user's language
// (ReasonText, which finds them by these texts).
namespace hexaloom::reason {

inline constexpr char kNotFound[] = "not found";
inline constexpr char kNoRegularFile[] = "no regular file";
inline constexpr char kNotRegularFile[] = "not a regular file";
inline constexpr char kNotReplaced[] = "not a regular file; left as it is";
inline constexpr char kLinkStandsThere[] = "a link stands there";
inline constexpr char kLinkToNothing[] = "a link to nothing";
inline constexpr char kCannotBeListed[] = "cannot be listed";
inline constexpr char kNameNotInEncoding[] = "its name is not valid in the system's encoding";
inline constexpr char kChangedWhileRead[] = "it changed while it was read";
inline constexpr char kNotEnoughMemory[] = "not enough memory";
inline constexpr char kLargerThanProjects[] = "larger than any project can be";

} // namespace hexaloom::reason
