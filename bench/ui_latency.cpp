// How long the window's thread is busy per timer tick: the real main window (offscreen) over n
// machines in session, both 30-second ticks run as the timers run them, then the events they
// caused (the grid's repaint) until the event loop is idle again.
//   ui_latency [ticks] [machines...]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "BenchDesk.h"
#include "client_channel/NMUDP.h"
#include "console/TForm1.h"
#include "desk/Desk.h"
#include "record_store/DataModule.h"
#include "widgets/Themed.h"

namespace {

// Runs the event loop for a while (QTest::qWait sleeps between its turns, which a probe would
// count as a stall).
void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

qint64 ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? std::max(4, atoi(argv[1])) : 20;
    std::vector<int> sizes{1000, 10000};
    if (argc > 2) {
        sizes.clear();
        for (int i = 2; i < argc; ++i) sizes.push_back(atoi(argv[i]));
    }
    std::printf(
        "the window's thread per tick (both 30-second passes, the grid patch and its "
        "repaint), ms\n  busy: its CPU time over the tick; stall: the longest it did not "
        "reach its event loop\n");
    std::printf("  %6s %8s %8s %8s %8s   %s\n", "rows", "busy", "max", "stall", "max",
                "goal (busy)");
    for (const int n : sizes) {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            TDataModule1 dm;
            {
                QSqlDatabase db = QSqlDatabase::database(dm.connectionName());
                db.transaction();
                QSqlQuery q(db);
                q.prepare(
                    QStringLiteral("insert into Tcount (username, Tstart, Tnow, Stime, Tmoney, "
                                   "Tother, Tsum, gotime, Cstate) values (?, ?, ?, '0', '0', "
                                   "'0', '0', '', '正常')"));
                for (int i = 0; i < n; ++i) {
                    const QString start = QStringLiteral("%1:%2:0").arg(8 + i % 2).arg(i % 60);
                    q.addBindValue(QStringLiteral("pc%1").arg(i, 5, 10, QLatin1Char('0')));
                    q.addBindValue(start);
                    q.addBindValue(start);
                    q.exec();
                }
                db.commit();
            }
            BenchDesk bench(dm, dir.path(), QDateTime(QDate(2026, 12, 9), QTime(10, 0, 15)));
            Desk& desk = *bench.desk;
            SteppingClock& clock = bench.clock;
            SilentPrompts& prompts = bench.prompts;
            TForm1 form(desk);
            form.Timer1->stop();  // the ticks come from here, at once
            form.Timer2->stop();
            form.show();
            (void)QTest::qWaitForWindowExposed(&form);
            Spin(200);
            // A probe every millisecond: the longest it waits is how long the window's thread
            // did not get to its event loop; the thread's own CPU time over the tick is what it
            // spent working (a long wait with little CPU is the scheduler, not us).
            QElapsedTimer wall;
            wall.start();
            qint64 last = 0, longest = 0, wakeups = 0;
            QTimer probe;
            probe.setTimerType(Qt::PreciseTimer);
            probe.setInterval(1);
            QObject::connect(&probe, &QTimer::timeout, [&] {
                const qint64 now = wall.nsecsElapsed();
                longest = std::max(longest, now - last);
                last = now;
                ++wakeups;
            });
            probe.start();
            Spin(100);
            // What the probe itself costs per wake-up, taken off the figures below.
            wakeups = 0;
            qint64 cpu = ThreadCpuNs();
            Spin(300);
            const double probeNs =
                double(ThreadCpuNs() - cpu) / double(std::max<qint64>(1, wakeups));
            std::vector<double> stall, busy, total;
            for (int t = 0; t < ticks; ++t) {
                clock.at = clock.at.addSecs(30);
                Spin(20);
                last = wall.nsecsElapsed();
                longest = 0;
                wakeups = 0;
                const qint64 cpuBefore = ThreadCpuNs();
                QElapsedTimer whole;
                whole.start();
                // Both timers fire in the same turn of the loop, as they do every minute.
                QTimer::singleShot(0, &form, [&form] {
                    form.Timer1Timer();
                    form.Timer2Timer();
                });
                Spin(1);
                while (desk.billingPassRunning || desk.clockRefreshRunning)
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                total.push_back(double(whole.nsecsElapsed()) / 1e6);
                Spin(30);  // the repaint the patch asked for
                stall.push_back(double(longest) / 1e6);
                busy.push_back((double(ThreadCpuNs() - cpuBefore) - probeNs * double(wakeups)) /
                               1e6);
            }
            probe.stop();
            const auto median = [](std::vector<double>& v) {
                std::sort(v.begin(), v.end());
                return v[v.size() / 2];
            };
            const double goal = n <= 1000 ? 8 : 30;
            const double busyMedian = median(busy), stallMedian = median(stall);
            std::printf(
                "  %6d %8.1f %8.1f %8.1f %8.1f   %4.0f ms  %s   (the passes: %.0f ms, beside)\n", n,
                busyMedian, busy.back(), stallMedian, stall.back(), goal,
                busyMedian <= goal ? "met" : "NOT met", median(total));
            if (prompts.boxes)
                std::printf("  (unexpected: %d boxes, the last \"%s\")\n", prompts.boxes,
                            qPrintable(prompts.last));
        }
        QDir::setCurrent(previous);
    }
    return 0;
}
