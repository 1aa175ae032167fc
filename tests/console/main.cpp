#include <QApplication>

int runMainWindowTest(int argc, char** argv);
int runMachineListWindowTest(int argc, char** argv);
int runSessionWindowTest(int argc, char** argv);
int runSessionChangesTest(int argc, char** argv);
int runChannelWindowTest(int argc, char** argv);
int runMoneyWindowTest(int argc, char** argv);
int runToolsWindowTest(int argc, char** argv);
int runKeyboardTest(int argc, char** argv);
int runLooksTest(int argc, char** argv);
int runAdminTest(int argc, char** argv);
int runDesktopProgramTest(int argc, char** argv);
int runServerWindowTest(int argc, char** argv);
int runPasswordAndPortTest(int argc, char** argv);
int runPlanWindowTest(int argc, char** argv);
int runSignInWindowTest(int argc, char** argv);
int runPackageWindowTest(int argc, char** argv);
int runPackageEditorTest(int argc, char** argv);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failures = runMainWindowTest(argc, argv);
    failures += runMachineListWindowTest(argc, argv);
    failures += runSessionWindowTest(argc, argv);
    failures += runSessionChangesTest(argc, argv);
    failures += runChannelWindowTest(argc, argv);
    failures += runMoneyWindowTest(argc, argv);
    failures += runToolsWindowTest(argc, argv);
    failures += runKeyboardTest(argc, argv);
    failures += runLooksTest(argc, argv);
    failures += runAdminTest(argc, argv);
    failures += runServerWindowTest(argc, argv);
    failures += runPasswordAndPortTest(argc, argv);
    failures += runPlanWindowTest(argc, argv);
    failures += runSignInWindowTest(argc, argv);
    failures += runPackageWindowTest(argc, argv);
    failures += runPackageEditorTest(argc, argv);
    failures += runDesktopProgramTest(argc, argv);  // last: it installs Qt's translations
    return failures;
}
