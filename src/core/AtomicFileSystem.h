#pragma once
// What atomic saves ask of the system, told once per system: AtomicFilePosix.cpp and
// AtomicFileWindows.cpp define it, AtomicFile.cpp (the part every system shares) uses it. Not for callers
// of AtomicFile.h.
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace hexaloom::atomic_file {

// Shared by both systems, defined in AtomicFile.cpp.

// A short name of this program's own in `folder` (see IsOwnTemporaryName).
QString TemporaryName(const QString& folder);
// Makes `path` known to the signal handler that removes temporary files; the slot, or -1.
int RegisterPending(const QString& path);
void UnregisterPending(int slot);

// Per system.

// Removes a file from a signal handler: nothing but what a handler may call.
void UnlinkInSignalHandler(const char* path);
// Puts `from` in the place of `to` in one step, replacing what is there.
bool MoveOver(const QString& from, const QString& to, QString* why);
// Flushes the file's data to the disk. Devices that cannot be synced are taken as synced.
bool SyncToDisk(int handle, QString* why);
// Why the existing target may not be written; empty when it may.
QString WhyNotWritable(const QString& target, const QFileInfo& existing);
// Removes this program's temporary file `path` unless a running program holds it.
void RemoveUnlessHeld(const QString& path);
// Creates the temporary file `path` (it must not exist) and opens `file` on it for `mode`. `created`:
// the permissions it gets where the system has such bits.
bool CreateTemporary(QFile& file, const QString& path, QIODevice::OpenMode mode, QFileDevice::Permissions created);
// Opens another file of this program's for reading without keeping its run from renaming or removing it
// meanwhile: a cleaner must never make a running save fail.
bool OpenUnhindering(QFile& file, const QString& path);
// Locks the new temporary file (or pair journal) for as long as it exists. A cleaner that removed it
// between its creation and the lock leaves it without a name: then false, and another name is tried.
bool HoldTemporary(int handle, const QString& path);
// Takes the lock of a journal found in a folder; false while its run holds it (is still at work).
bool TakeJournal(int handle);
// Gives the file `existing` the second name `name` (a hard link where the file system has them, else a
// copy), locked as a temporary file of a running save is.
bool SecondName(const QString& existing, const QString& name, int* handle);
void CloseDescriptor(int handle);
// Makes the one folder `folder`, whose parent exists; true when it exists afterwards.
bool MakeFolder(const QString& folder, QString* why);
// Opens `path` for reading when it is a regular file (through links), without ever waiting on a FIFO
// or reading a device.
bool OpenRegular(QFile& file, const QString& path, QString* why);

} // namespace hexaloom::atomic_file
