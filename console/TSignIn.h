#pragma once

#include <QWidget>

class Desk;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The sign-in cover: over the whole main window while nobody is signed in (at start with
// sign-in on, after 锁定, idle minutes or 交班). The window's timers go on beneath it.
class TSignIn : public QWidget {
    Q_OBJECT
  public:
    TSignIn(Desk& desk, QWidget* window);

    QComboBox* NameBox;    // the enabled operators
    QLineEdit* PinEdit;    // never echoes
    QPushButton* SignInButton;
    QLabel* MessageLabel;  // a wrong PIN, a locked name

    void Cover();  // fills the operator list again and shows itself over everything
    void SignInClick();

  signals:
    void signedIn();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    Desk& desk;
};
