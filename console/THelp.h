#pragma once

#include <QPointer>
#include <QWidget>

class QTextBrowser;

// The operator's guide, bundled with the program.
class THelp : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<THelp> help;  // the newest instance
    static constexpr const char* Guide = "qrc:/help/operator-guide.html";

    explicit THelp(QWidget* owner);
    QTextBrowser* Browser;
};
