#include "console/TSignIn.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "accounts/Accounts.h"
#include "desk/Desk.h"
#include "widgets/Themed.h"

TSignIn::TSignIn(Desk& deskRef, QWidget* window) : QWidget(window), desk(deskRef) {
    setObjectName(QStringLiteral("signIn"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(58, 110, 165));
    setPalette(pal);
    auto* outer = new QVBoxLayout(this);
    auto* panel = new QWidget(this);
    panel->setAutoFillBackground(true);
    QPalette panelPalette = panel->palette();
    panelPalette.setColor(QPalette::Window, QColor(212, 208, 200));
    panel->setPalette(panelPalette);
    panel->setFixedWidth(320);
    auto* form = new QFormLayout(panel);
    auto* title = new QLabel(QStringLiteral("请操作员登录"), panel);
    title->setFont(ThemedFont(QStringLiteral("SimSun"), 16));
    form->addRow(title);
    NameBox = new QComboBox(panel);
    NameBox->setObjectName(QStringLiteral("NameBox"));
    PinEdit = new QLineEdit(panel);
    PinEdit->setObjectName(QStringLiteral("PinEdit"));
    PinEdit->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("操作员(&O)："), NameBox);
    form->addRow(QStringLiteral("PIN/密码(&P)："), PinEdit);
    SignInButton = new FlatButton(QStringLiteral("登　录"), panel);
    SignInButton->setObjectName(QStringLiteral("SignInButton"));
    form->addRow(SignInButton);
    MessageLabel = new QLabel(panel);
    MessageLabel->setObjectName(QStringLiteral("MessageLabel"));
    MessageLabel->setWordWrap(true);
    form->addRow(MessageLabel);
    outer->addStretch();
    outer->addWidget(panel, 0, Qt::AlignHCenter);
    outer->addStretch();
    connect(PinEdit, &QLineEdit::returnPressed, SignInButton, &QPushButton::click);
    connect(SignInButton, &QPushButton::clicked, this, desk.Guarded([this] { SignInClick(); }));
    window->installEventFilter(this);  // follows the window's size
    hide();
}

void TSignIn::Cover() {
    const QString current = NameBox->currentText();
    NameBox->clear();
    if (const auto accounts = ReadAccounts(desk))
        for (const Account& account : *accounts)
            if (account.enabled)
                NameBox->addItem(QStringLiteral("%1（%2）").arg(account.name, RoleName(account.role)),
                                 account.name);
    if (const int i = NameBox->findText(current); i >= 0) NameBox->setCurrentIndex(i);
    PinEdit->clear();
    MessageLabel->clear();
    setGeometry(parentWidget()->rect());
    show();
    raise();
    PinEdit->setFocus();
}

void TSignIn::SignInClick() {
    // Enter on an empty field is a slip, not a guess: it costs none of the five tries.
    if (PinEdit->text().isEmpty()) {
        MessageLabel->setText(QStringLiteral("请先输入PIN或店主密码。"));
        PinEdit->setFocus();
        return;
    }
    QString typed = PinEdit->text();
    PinEdit->clear();
    const Secret pin(typed);
    const SignInResult result = SignIn(desk, NameBox->currentData().toString(), pin);
    if (result.result != SignInResult::Ok) {
        MessageLabel->setText(result.text);
        PinEdit->setFocus();
        return;
    }
    hide();
    emit signedIn();
}

bool TSignIn::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}
