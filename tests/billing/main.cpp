#include <QApplication>

int runBillingTest(int argc, char** argv);
int runSessionChangesTest(int argc, char** argv);
int runSoundCoreTest(int argc, char** argv);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failures = runBillingTest(argc, argv);
    failures += runSessionChangesTest(argc, argv);
    failures += runSoundCoreTest(argc, argv);
    return failures;
}
