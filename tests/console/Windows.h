#pragma once

#include <QApplication>
#include <QPointer>
#include <QTest>

#include "console/TForm1.h"

// The window the form's last command opened: its one other visible top-level window.
inline QWidget* ShownDialog(TForm1& form) {
    QWidget* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != &form && w->isVisible() && w->parentWidget() == &form) shown = w;
    return shown;
}

// Runs a command as the operator would and waits until its dialog has the keyboard; null when
// it never gets it.
template <class Dialog>
Dialog* OpenActive(TForm1& form, const char* item, const QPointer<Dialog>& current) {
    form.action(item)->trigger();
    if (!current || !QTest::qWaitFor([&] { return current->isActiveWindow(); })) return nullptr;
    return current.data();
}
