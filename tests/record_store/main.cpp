#include <QCoreApplication>

int runRecordStoreTest(int argc, char** argv);
int runGridModelTest(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failures = runRecordStoreTest(argc, argv);
    failures += runGridModelTest(argc, argv);
    return failures;
}
