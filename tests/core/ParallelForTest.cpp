// Work spread over the cores: every item done exactly once, also when the system refuses threads.
#include "ParallelFor.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <system_error>

using namespace hexaloom;

class ParallelForTest : public QObject
{
    Q_OBJECT
private slots:
    void items_data()
    {
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("refused"); // the first start (1, 2, ...) the system refuses; 0: none
        QTest::addColumn<int>("started"); // helper threads expected to start
        QTest::newRow("every thread starts") << 40 << 4 << 0 << 3;
        QTest::newRow("the second start refused: one helper") << 40 << 4 << 2 << 1;
        QTest::newRow("the first start refused: all on the caller") << 40 << 4 << 1 << 0;
        QTest::newRow("no more threads than items") << 2 << 8 << 0 << 1;
        QTest::newRow("no items") << 0 << 4 << 0 << 0;
    }
    void items()
    {
        QFETCH(int, items);
        QFETCH(int, threads);
        QFETCH(int, refused);
        QFETCH(int, started);
        int starts = 0;
        int running = 0;
        const ThreadStart start = [&](std::function<void()> body) {
            if (++starts == refused)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            ++running;
            return std::thread(std::move(body));
        };
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(items));
        const std::thread::id caller = std::this_thread::get_id();
        std::atomic<bool> progressElsewhere{false};
        ParallelFor(
            runs.size(),
            [&](std::size_t i) {
                // Long enough that the helpers take items before the caller has run them all.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                ++runs[i];
            },
            {.threads = threads,
             .progress = [&](std::size_t) { progressElsewhere = progressElsewhere || std::this_thread::get_id() != caller; },
             .start = start});
        QCOMPARE(running, started);
        for (std::size_t i = 0; i < runs.size(); ++i)
            QVERIFY2(runs[i] == 1, qPrintable(QStringLiteral("item %1 ran %2 time(s)").arg(i).arg(runs[i].load())));
        QVERIFY2(!progressElsewhere, "progress was reported from a helper thread");
    }
};

QTEST_GUILESS_MAIN(ParallelForTest)
#include "ParallelForTest.moc"
