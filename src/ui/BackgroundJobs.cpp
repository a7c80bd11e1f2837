#include "BackgroundJobs.h"

#include "LanguageTable.h"
#include "RowSize.h"

#include <QElapsedTimer>
#include <QtConcurrent/QtConcurrentMap>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

namespace hexaloom {

namespace {

// A folder walk hands its entries over in batches of this many, or after this long.
constexpr int kWalkBatch = 1024;
constexpr qint64 kWalkBatchMs = 40;

} // namespace

BackgroundJobs::BackgroundJobs(QObject* parent) : QObject(parent)
{
    const QFutureWatcherBase* const counted[] = {&m_sizes, &m_smallest, &m_create};
    for (const QFutureWatcherBase* watcher : counted) {
        connect(watcher, &QFutureWatcherBase::progressRangeChanged, this, &BackgroundJobs::progressRangeChanged);
        connect(watcher, &QFutureWatcherBase::progressValueChanged, this, &BackgroundJobs::progressValueChanged);
    }
    connect(&m_sizes, &QFutureWatcherBase::resultsReadyAt, this, [this](int begin, int end) {
        for (int i = begin; i < end; ++i) {
            const RowSize result = m_sizes.resultAt(i);
            if (result.size)
                emit sizeReady(result.row, *result.size);
        }
    });
    connect(&m_smallest, &QFutureWatcherBase::resultsReadyAt, this, [this](int begin, int end) {
        for (int i = begin; i < end; ++i) {
            const RowSmallest result = m_smallest.resultAt(i);
            if (result.choice)
                emit smallestReady(result.row, result.choice->packer, result.choice->size);
        }
    });
    connect(&m_walk, &QFutureWatcherBase::resultsReadyAt, this, [this](int begin, int end) {
        for (int i = begin; i < end; ++i)
            emit walkEntries(m_walk.resultAt(i));
    });
    connect(&m_sizes, &QFutureWatcherBase::finished, this, &BackgroundJobs::rowsFinished);
    connect(&m_smallest, &QFutureWatcherBase::finished, this, &BackgroundJobs::rowsFinished);
    connect(&m_create, &QFutureWatcherBase::finished, this, &BackgroundJobs::createFinished);
    connect(&m_walk, &QFutureWatcherBase::finished, this, &BackgroundJobs::walkFinished);
}

BackgroundJobs::~BackgroundJobs()
{
    if (m_stop)
        *m_stop = true;
    m_sizes.waitForFinished();
    m_create.waitForFinished();
    m_smallest.waitForFinished();
    m_walk.waitForFinished();
}

void BackgroundJobs::CalculateSizes(QList<RowWork> rows, int level, const Stop& stop)
{
    m_stop = stop;
    m_sizes.setFuture(QtConcurrent::mapped(&m_workers, std::move(rows), [level, stop](const RowWork& job) {
        if (*stop)
            return RowSize{job.row, std::nullopt};
        return RowSize{job.row, RowDataSize(job.path, job.kind, level, stop.get())};
    }));
}

void BackgroundJobs::ChooseSmallest(QList<RowWork> rows, int level, const Stop& stop)
{
    m_stop = stop;
    m_smallest.setFuture(QtConcurrent::mapped(&m_workers, std::move(rows), [level, stop](const RowWork& job) {
        if (*stop)
            return RowSmallest{job.row, std::nullopt};
        return RowSmallest{job.row, SmallestPacker(job.path, level, stop.get())};
    }));
}

void BackgroundJobs::Create(const CreatePlan& plan, const LanguageTable& language, int level, const Stop& stop)
{
    m_stop = stop;
    auto texts = std::make_shared<LanguageTable>(language);
    m_create.setFuture(QtConcurrent::run(&m_workers, [plan, texts, level, stop](QPromise<CreateResult>& promise) {
        CreateOptions work;
        work.language = texts.get();
        work.level = level;
        work.stop = stop.get();
        work.progress = [&promise, &stop](int done, int total) {
            if (done == 0)
                promise.setProgressRange(0, total);
            promise.setProgressValue(done);
            return !*stop;
        };
        promise.addResult(WriteCreatePlan(plan, work));
    }));
}

std::optional<CreateResult> BackgroundJobs::createResult() const
{
    if (m_create.future().resultCount() == 0)
        return std::nullopt;
    return m_create.result();
}

void BackgroundJobs::WalkFolder(const QString& folder, const Stop& stop)
{
    m_stop = stop;
    m_walk.setFuture(QtConcurrent::run(&m_workers, [folder, stop](QPromise<QList<ScanEntry>>& promise) {
        // Entries go over in batches, so the window adds many rows per event and stays live.
        QList<ScanEntry> batch;
        QElapsedTimer clock;
        clock.start();
        ScanDirectory(folder, true, [&](const ScanEntry& entry) {
            if (*stop)
                return false;
            batch.append(entry);
            if (batch.size() >= kWalkBatch || clock.elapsed() >= kWalkBatchMs) {
                promise.addResult(std::exchange(batch, {}));
                clock.restart();
            }
            return true;
        });
        if (!batch.isEmpty())
            promise.addResult(batch);
    }));
}

} // namespace hexaloom
