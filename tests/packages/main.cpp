#include <QCoreApplication>

int runPackageCoreTest(int argc, char** argv);
int runPackagesTest(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failures = runPackageCoreTest(argc, argv);
    failures += runPackagesTest(argc, argv);
    return failures;
}
