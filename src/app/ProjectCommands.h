#pragma once
// Opening and saving projects the way the user asks for them: requesters, questions and messages in the
// user's language around the project format of ProjectFile.h.
#include "AtomicFile.h"

#include <QString>

namespace hexaloom {

class Document;
class Platform;

enum class OpenProjectResult { Cancelled, Unreadable, NotSupported, Damaged, SecondCopy, Loaded };
enum class SaveProjectResult { Cancelled, EmptyList, TooManyRows, PathsTooLong, Failed, Saved };

struct OpenProjectReport
{
    OpenProjectResult result = OpenProjectResult::Cancelled;
    int added = 0;   // rows added to the list
    int missing = 0; // listed files that were missing or empty
    QString reason;  // why a project that was named could not be loaded
};

// Opens a project into the document; an empty path asks for one. While the list has rows the project
// is handed to a second copy of the program instead (settings saved first). A damaged or unsupported
// file is refused with a message and changes nothing.
OpenProjectReport OpenProject(Document& document, Platform& platform, const QString& path);
// Saves the list as a version 1.5 project; an empty path asks for one. A name answered without the
// extension becomes another file than the requester asked about: when that one exists it is replaced only
// after `overwriteQuestion` (the language's Messages/OverWrite; English when empty) is answered Yes.
// A list the format cannot hold (too many rows, paths longer than 320 units) is refused with a message
// naming the problem before anything is asked. Written atomically: on any failure the user is told
// the path and the reason, an existing file keeps its content and the project keeps its name.
SaveProjectResult SaveProject(Document& document, Platform& platform, const QString& path,
                              const DeviceWriter& writer = {}, const QString& overwriteQuestion = {});

} // namespace hexaloom
