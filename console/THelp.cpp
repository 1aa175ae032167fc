#include "console/THelp.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "widgets/Themed.h"

THelp::THelp(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("help"));
    setWindowTitle(QStringLiteral("青岚帮助"));
    resize(640, 560);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Browser = new QTextBrowser(this);
    Browser->setFont(ThemedFont(QStringLiteral("SimSun"), 14));
    Browser->setSource(QUrl(QString::fromLatin1(Guide)));
    DialogKeys(this);
    layout->addWidget(Browser);
}
