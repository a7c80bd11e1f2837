#pragma once
// The main window's long work, on threads of its own: the sizes of rows, the smallest packer of rows,
// Create, and the walk of a folder. One job runs at a time (the window's busy bracket sees to it); its
// progress, results and end come as signals on the window's thread. Each job is given a stop flag that
// ends it at its next step, what it has done so far staying done.
#include "CreateOutput.h"
#include "FolderScan.h"
#include "SmallestPacker.h"

#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <optional>

namespace hexaloom {

class LanguageTable;

// A row's file, and the packer its size is asked for.
struct RowWork
{
    int row = -1;
    QString path;
    int kind = 0;
};

class BackgroundJobs : public QObject
{
    Q_OBJECT
public:
    using Stop = std::shared_ptr<std::atomic_bool>;

    explicit BackgroundJobs(QObject* parent = nullptr);
    // Stops the running job and waits for it: its results would go to a window that is gone.
    ~BackgroundJobs() override;

    // The Datasize of each row with its packer (sizeReady for each file that could be read).
    void CalculateSizes(QList<RowWork> rows, int level, const Stop& stop);
    // The packer that stores each row's file smallest (smallestReady for each file that could be read).
    void ChooseSmallest(QList<RowWork> rows, int level, const Stop& stop);
    // Writes the plan's output; the texts are read from a copy of `language`, as the table's lookups
    // are not made for two threads.
    void Create(const CreatePlan& plan, const LanguageTable& language, int level, const Stop& stop);
    // Walks `folder` and everything below it, handing the entries over in batches.
    void WalkFolder(const QString& folder, const Stop& stop);

    // Create's result, once createFinished came; none when it told none.
    std::optional<CreateResult> createResult() const;

signals:
    void progressRangeChanged(int minimum, int maximum);
    void progressValueChanged(int value);
    void sizeReady(int row, qint64 size);
    void smallestReady(int row, int packer, qint64 size);
    void walkEntries(const QList<ScanEntry>& entries);
    // The sizes or the smallest packers are done.
    void rowsFinished();
    void createFinished();
    void walkFinished();

private:
    struct RowSize
    {
        int row = -1;
        std::optional<qint64> size; // none when the file could not be read
    };
    struct RowSmallest
    {
        int row = -1;
        std::optional<SmallestChoice> choice; // none when the file could not be read
    };

    // The window's own workers: Qt paints with the global pool's threads, which long work must not hold.
    QThreadPool m_workers;
    QFutureWatcher<RowSize> m_sizes;
    QFutureWatcher<RowSmallest> m_smallest;
    QFutureWatcher<CreateResult> m_create;
    QFutureWatcher<QList<ScanEntry>> m_walk;
    Stop m_stop; // the running job's
};

} // namespace hexaloom
