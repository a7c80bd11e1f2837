#include "AtomicFile.h"
#include "AtomicFileSystem.h"
#include "Reasons.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

namespace hexaloom {

using namespace atomic_file;

namespace {

const QLatin1String kTemporaryPrefix(".hexaloom-");
const QLatin1String kTemporarySuffix(".tmp");
// The first bytes of a pair's journal (PairJournal), which carries a temporary file's name.
const QByteArray kPairMagic("hexaloom pair journal 1\n");

// Four hexadecimal digits that check the eight before them: a name a user gave a file of his own
// (".hexaloom-mynotes1.tmp") is never taken for one of ours, removed or left out of a walk.
QString CheckDigits(QStringView random)
{
    std::uint32_t hash = 2166136261u; // FNV-1a, salted so that no plain pattern checks
    for (const char c : {'h', 'x', 'l', 'm'})
        hash = (hash ^ std::uint8_t(c)) * 16777619u;
    for (const QChar c : random)
        hash = (hash ^ c.unicode()) * 16777619u;
    return QStringLiteral("%1").arg((hash ^ (hash >> 16)) & 0xFFFF, 4, 16, QLatin1Char('0'));
}

} // namespace

// A short name of its own in the target's folder, however long the target's name is.
QString atomic_file::TemporaryName(const QString& folder)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    QString random;
    for (int i = 0; i < 8; ++i)
        random += QLatin1Char(kDigits[QRandomGenerator::global()->bounded(16)]);
    return folder + QLatin1Char('/') + kTemporaryPrefix + random + CheckDigits(random) + kTemporarySuffix;
}

namespace {

// The temporary files that exist right now, for the signal handler: fixed slots, so that registering
// never allocates and the handler reads only what was completely written.
struct PendingSlot
{
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 holds a path
    char path[4096];
};
PendingSlot g_pending[64];

} // namespace

int atomic_file::RegisterPending(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() >= int(sizeof g_pending[0].path))
        return -1;
    for (int i = 0; i < 64; ++i) {
        int expected = 0;
        if (g_pending[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(g_pending[i].path, bytes.constData(), std::size_t(bytes.size()) + 1);
            g_pending[i].state.store(2);
            return i;
        }
    }
    return -1;
}

void atomic_file::UnregisterPending(int slot)
{
    if (slot >= 0)
        g_pending[slot].state.store(0);
}

namespace {

// While above 0, a signal that ends the program waits in g_deferred (see HeldSignals).
std::atomic<int> g_holding{0};
std::atomic<int> g_deferred{0};

extern "C" void RemovePendingAndEnd(int signal)
{
    if (g_holding.load() > 0) {
        g_deferred.store(signal);
        return;
    }
    for (PendingSlot& slot : g_pending) {
        if (slot.state.load() == 2)
            UnlinkInSignalHandler(slot.path);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Removes the temporary files of this program in `folder` that no running program holds: a killed run
// leaves its file behind, and the next save there must not find it (nor a folder walk pack it).
// The files of a folder as the cleaners walk them. No name filter: Qt matches those with a regular
// expression, whose per-thread state crashes a MinGW program when a worker thread that used it ends. The
// names are told apart by IsOwnTemporaryName.
QStringList FolderFiles(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

QStringList SplitPairsAmong(const QString& folder, const QStringList& names, bool repair);

void RemoveAbandoned(const QString& folder)
{
    const QStringList names = FolderFiles(folder);
    // A pair a killed run left apart is put together first, from the temporary file the cleaner would take.
    SplitPairsAmong(folder, names, true);
    for (const QString& name : names) {
        if (!IsOwnTemporaryName(name))
            continue;
        RemoveUnlessHeld(folder + QLatin1Char('/') + name);
    }
}

} // namespace

void PauseForTests(const char* name)
{
    const int ms = qEnvironmentVariableIntValue(name);
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

QString SystemErrorText(int error)
{
    const QString text = qt_error_string(error);
    if (!text.isEmpty() && text != QLatin1String("Unknown error"))
        return text;
    return QString::fromLocal8Bit(std::strerror(error));
}

bool IsOwnTemporaryName(const QString& fileName)
{
    if (fileName.size() != kTemporaryPrefix.size() + 12 + kTemporarySuffix.size() ||
        !fileName.startsWith(kTemporaryPrefix) || !fileName.endsWith(kTemporarySuffix))
        return false;
    const QStringView digits = QStringView(fileName).mid(kTemporaryPrefix.size(), 12);
    for (const QChar c : digits) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return CheckDigits(digits.left(8)) == digits.mid(8);
}

void RemoveTemporaryFilesOnSignals()
{
    std::signal(SIGINT, RemovePendingAndEnd);
    std::signal(SIGTERM, RemovePendingAndEnd);
#ifdef SIGHUP
    std::signal(SIGHUP, RemovePendingAndEnd);
#endif
}

HeldSignals::HeldSignals()
{
    ++g_holding;
}

HeldSignals::~HeldSignals()
{
    if (--g_holding == 0) {
        if (const int signal = g_deferred.exchange(0))
            RemovePendingAndEnd(signal);
    }
}

bool PairJournal::Begin(const SaveFile& first, const SaveFile& second)
{
    End();
    // The second file's target and temporary file, and the first one's temporary file: which of the
    // two steps were taken can be told from what is still there.
    QByteArray text = kPairMagic;
    for (const QString& path : {second.target(), second.temporaryName(), first.temporaryName()})
        text += QFile::encodeName(QFileInfo(path).absoluteFilePath()) + '\0';
    const QString folder = QFileInfo(second.target()).absolutePath();
    for (int attempt = 0; attempt < 16 && m_path.isEmpty(); ++attempt) {
        const QString name = TemporaryName(folder);
        // Made and held as a save's temporary file is: on Windows only such a file can be removed while
        // open, and a cleaner that took it before the hold leaves it without a name.
        if (!CreateTemporary(m_file, name, QIODevice::WriteOnly,
                             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                 QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther)) {
            if (!QFileInfo::exists(name))
                break; // not a name taken by chance: the folder refuses
            continue;
        }
        if (HoldTemporary(m_file.handle(), name))
            m_path = name;
        else
            m_file.close();
    }
    QString why;
    if (m_path.isEmpty() || m_file.write(text) != text.size() || !m_file.flush() ||
        !SyncToDisk(m_file.handle(), &why)) {
        End();
        return false;
    }
    return true;
}

void PairJournal::End()
{
    if (m_path.isEmpty())
        return;
    QFile::remove(m_path); // while still held, so no cleaner takes it meanwhile
    m_file.close();
    m_path.clear();
}

namespace {

// What a journal left by a killed run says: the second file's target when the first file has replaced
// its old one and the second has not; then `temporary` is the second file's complete new version.
std::optional<std::pair<QString, QString>> SplitPair(const QByteArray& text)
{
    if (!text.startsWith(kPairMagic))
        return std::nullopt;
    const QList<QByteArray> parts = text.mid(kPairMagic.size()).split('\0');
    if (parts.size() < 3)
        return std::nullopt;
    const QString target = QFile::decodeName(parts[0]);
    const QString temporary = QFile::decodeName(parts[1]);
    const QString firstTemporary = QFile::decodeName(parts[2]);
    if (QFileInfo::exists(firstTemporary) || !QFileInfo(temporary).isFile())
        return std::nullopt; // the first step was not taken, or the second was
    return std::pair{target, temporary};
}

} // namespace

namespace {

QStringList SplitPairsAmong(const QString& folder, const QStringList& names, bool repair)
{
    QStringList split;
    for (const QString& name : names) {
        if (!IsOwnTemporaryName(name))
            continue;
        const QString path = folder + QLatin1Char('/') + name;
        QFile journal;
        if (!OpenUnhindering(journal, path) || journal.size() > 3 * 4096 + 64 ||
            !journal.peek(kPairMagic.size()).startsWith(kPairMagic))
            continue;
        // Held: its run is still at work.
        if (!TakeJournal(journal.handle()))
            continue;
        const auto pair = SplitPair(journal.readAll());
        if (!pair)
            continue;
        QString why;
        if (repair && MoveOver(pair->second, pair->first, &why))
            continue;
        split.append(pair->first);
    }
    return split;
}

} // namespace

QStringList SplitPairs(const QString& folder, bool repair)
{
    return SplitPairsAmong(folder, FolderFiles(folder), repair);
}

QString ThroughLinks(const QString& target)
{
    QFileInfo link(target);
    for (int depth = 0; depth < 32 && link.isSymLink(); ++depth)
        link.setFile(link.symLinkTarget());
    return link.filePath();
}

SaveFile::SaveFile(const QString& target, Links links)
    : m_target(links == FollowLinks ? ThroughLinks(target) : target), m_links(links)
{
}

SaveFile::~SaveFile()
{
    cancelWriting();
    dropOld();
}

bool SaveFile::fail(const QString& why)
{
    setErrorString(why);
    return false;
}

bool SaveFile::open(OpenMode mode)
{
    if (m_pending)
        return fail(QStringLiteral("already open"));
    m_writeFailed = false;
    m_finished = false;
    m_unchanged = false;
    const QFileInfo existing(m_target);
    if (m_links == RefuseLinks && existing.isSymLink())
        return fail(QString::fromLatin1(reason::kLinkStandsThere));
    if (existing.isDir())
        return fail(SystemErrorText(EISDIR));
    // A FIFO or device standing there is the user's, not an old output: renaming over it would replace
    // it with a regular file.
    if (existing.exists() && !existing.isFile())
        return fail(QString::fromLatin1(reason::kNotReplaced));
    if (const QString why = WhyNotWritable(m_target, existing); !why.isEmpty())
        return fail(why);
    m_keepPermissions = existing.exists();
    // The file's own bits only: the "user" ones say what this process may do (everything, for root), and
    // set again they would make a read-only file writable.
    m_permissions = existing.permissions() & ~(ReadUser | WriteUser | ExeUser);
    const QString folder = existing.absolutePath();
    RemoveAbandoned(folder);
    // Readable only by its owner until it takes an existing file's place and permissions.
    const Permissions created = m_keepPermissions
                                    ? (ReadOwner | WriteOwner)
                                    : (ReadOwner | WriteOwner | ReadGroup | WriteGroup | ReadOther | WriteOther);
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_temporary = TemporaryName(folder);
        // Known to the signal handler before it exists: a signal right after its creation removes it too.
        m_registered = RegisterPending(m_temporary);
        if (CreateTemporary(*this, m_temporary, mode, created)) {
            if (!HoldTemporary(handle(), m_temporary)) {
                QFile::close();
                UnregisterPending(std::exchange(m_registered, -1));
                continue;
            }
            m_pending = true;
            return true;
        }
        UnregisterPending(std::exchange(m_registered, -1));
        if (!QFileInfo::exists(m_temporary))
            break; // not a name taken by chance: the folder refuses
    }
    return false;
}

qint64 SaveFile::writeData(const char* data, qint64 length)
{
    errno = 0;
    const qint64 written = QFile::writeData(data, length);
    if (written != length) {
        m_writeFailed = true;
        if (errno != 0)
            setErrorString(SystemErrorText(errno));
    }
    return written;
}

bool SaveFile::finishWriting()
{
    if (!m_pending)
        return fail(QStringLiteral("not open"));
    errno = 0;
    if (!flush() || m_writeFailed) {
        if (errno != 0 && !m_writeFailed)
            setErrorString(SystemErrorText(errno));
        return false; // the device's own error text stays
    }
    QString why;
    if (!SyncToDisk(handle(), &why))
        return fail(why);
    m_finished = true;
    return true;
}

bool SaveFile::put(bool keepSame, bool keepOld)
{
    if (!m_finished && !finishWriting()) {
        const QString why = errorString();
        cancelWriting();
        return fail(why);
    }
    if (keepSame && SameFileContent(m_temporary, m_target)) {
        cancelWriting();
        m_unchanged = true;
        return true;
    }
    if (m_keepPermissions)
        QFile::setPermissions(m_temporary, m_permissions);
    dropOld();
    m_hadOld = QFileInfo(m_target).isFile();
    if (keepOld && m_hadOld) {
        // A second name for the old file, which the rename below leaves in place.
        for (int attempt = 0; attempt < 16 && m_old.isEmpty(); ++attempt) {
            const QString name = TemporaryName(QFileInfo(m_target).absolutePath());
            if (SecondName(m_target, name, &m_oldHandle))
                m_old = name;
        }
        if (m_old.isEmpty()) {
            const QString why = errorString();
            cancelWriting();
            return fail(QStringLiteral("the old file cannot be kept aside: ") + why);
        }
    }
    QString why;
    if (!MoveOver(m_temporary, m_target, &why)) {
        cancelWriting();
        dropOld();
        return fail(why);
    }
    m_pending = false;
    QFile::close();
    UnregisterPending(m_registered);
    m_registered = -1;
    return true;
}

bool SaveFile::commit(bool keepSame)
{
    return put(keepSame, false);
}

bool SaveFile::commitKeepingOld(bool keepSame)
{
    return put(keepSame, true);
}

bool SaveFile::restoreOld()
{
    if (m_unchanged)
        return true;
    QString why;
    if (!m_hadOld)
        return QFile::remove(m_target);
    if (m_old.isEmpty() || !MoveOver(m_old, m_target, &why))
        return fail(why);
    m_old.clear();
    dropOld();
    return true;
}

void SaveFile::dropOld()
{
    if (!m_old.isEmpty())
        QFile::remove(m_old);
    m_old.clear();
    if (m_oldHandle >= 0)
        CloseDescriptor(m_oldHandle);
    m_oldHandle = -1;
}

void SaveFile::cancelWriting()
{
    if (!m_pending)
        return;
    m_pending = false;
    // Removed while still open and locked, so no cleaner takes it for abandoned meanwhile.
    QFile::remove(m_temporary);
    QFile::close();
    UnregisterPending(m_registered);
    m_registered = -1;
}

bool WriteAll(QIODevice& device, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error, const DeviceWriter& writer,
                         SaveFile::Links links)
{
    SaveFile file(path, links);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const bool written = writer ? writer(file, bytes) : WriteAll(file, bytes);
    if (!written) {
        if (error)
            *error = file.error() == QFileDevice::NoError ? QStringLiteral("write failed") : file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool SameFileContent(const QString& a, const QString& b)
{
    QFile first(a);
    QFile second(b);
    if (!QFileInfo(b).isFile() || !first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) ||
        first.size() != second.size())
        return false;
    constexpr qint64 kPiece = 1 << 20;
    QByteArray x(kPiece, Qt::Uninitialized);
    QByteArray y(kPiece, Qt::Uninitialized);
    for (;;) {
        const qint64 n = first.read(x.data(), kPiece);
        const qint64 m = second.read(y.data(), kPiece);
        if (n != m || n < 0)
            return false;
        if (n == 0)
            return true;
        if (std::memcmp(x.constData(), y.constData(), static_cast<std::size_t>(n)) != 0)
            return false;
    }
}

bool MakeFolders(const QString& folder, QString* why)
{
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink()) {
        *why = SystemErrorText(ENOTDIR);
        return false;
    }
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath() && !MakeFolders(parent, why))
        return false;
    return MakeFolder(folder, why);
}

bool OpenRegularFile(QFile& file, const QString& path, qint64 cap, QString* why)
{
    if (!OpenRegular(file, path, why))
        return false;
    if (file.size() > cap) {
        file.close();
        *why = QStringLiteral("larger than %1 bytes").arg(cap);
        return false;
    }
    return true;
}

std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 cap, QString* why)
{
    QFile file;
    if (!OpenRegularFile(file, path, cap, why))
        return std::nullopt;
    // A file that grows while it is read is read only up to the length it had.
    const qint64 size = file.size();
    QByteArray bytes = file.read(size + 1);
    if (file.error() != QFileDevice::NoError) {
        *why = file.errorString();
        return std::nullopt;
    }
    if (bytes.size() != size) {
        *why = QString::fromLatin1(reason::kChangedWhileRead);
        return std::nullopt;
    }
    return bytes;
}

} // namespace hexaloom
