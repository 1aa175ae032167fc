#include <QCoreApplication>

#ifdef CAFE_TEST_SQLITE_SHIM
#include "support/SqliteShim.h"
#endif

int runBillingPassTest(int argc, char** argv);
int runNothingLostTest(int argc, char** argv);
int runSessionOperationsTest(int argc, char** argv);
int runJournalledOperationsTest(int argc, char** argv);
int runPricesRemindersBulkTest(int argc, char** argv);
int runSeveralDesksTest(int argc, char** argv);
int runServerLossTest(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
#ifdef CAFE_TEST_SQLITE_SHIM
    // Before any connection opens: a commit's I/O error and a power cut are made beneath it.
    if (!SqliteShim::Install()) qFatal("the SQLite test layer could not be installed");
#endif
    int failures = runBillingPassTest(argc, argv);
    failures += runNothingLostTest(argc, argv);
    failures += runSessionOperationsTest(argc, argv);
    failures += runJournalledOperationsTest(argc, argv);
    failures += runPricesRemindersBulkTest(argc, argv);
    failures += runSeveralDesksTest(argc, argv);
    failures += runServerLossTest(argc, argv);
    return failures;
}
