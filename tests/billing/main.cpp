#include <QCoreApplication>

int runBillingTest(int argc, char** argv);
int runSoundCoreTest(int argc, char** argv);
int runOperationsTest(int argc, char** argv);
int runJournalTest(int argc, char** argv);
int runDeskToolsTest(int argc, char** argv);
int runDesksTest(int argc, char** argv);
int runServerLossTest(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failures = runBillingTest(argc, argv);
    failures += runSoundCoreTest(argc, argv);
    failures += runOperationsTest(argc, argv);
    failures += runJournalTest(argc, argv);
    failures += runDeskToolsTest(argc, argv);
    failures += runDesksTest(argc, argv);
    failures += runServerLossTest(argc, argv);
    return failures;
}
