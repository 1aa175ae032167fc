#include <QCoreApplication>

#ifdef CAFE_TEST_SQLITE_SHIM
#include "support/SqliteShim.h"
#endif

int runBillingTest(int argc, char** argv);
int runSoundCoreTest(int argc, char** argv);
int runOperationsTest(int argc, char** argv);
int runJournalTest(int argc, char** argv);
int runDeskToolsTest(int argc, char** argv);
int runDesksTest(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
#ifdef CAFE_TEST_SQLITE_SHIM
    // Before any connection opens: a commit's I/O error and a power cut are made beneath it.
    if (!SqliteShim::Install()) qFatal("the SQLite test layer could not be installed");
#endif
    int failures = runBillingTest(argc, argv);
    failures += runSoundCoreTest(argc, argv);
    failures += runOperationsTest(argc, argv);
    failures += runJournalTest(argc, argv);
    failures += runDeskToolsTest(argc, argv);
    failures += runDesksTest(argc, argv);
    return failures;
}
