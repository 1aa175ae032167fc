#pragma once

#include <QPointer>
#include <QWidget>

class Desk;
class QComboBox;
class QPlainTextEdit;
class FlatButton;

// "信使服务": sends a short message to a machine in session.
class Tsend : public QWidget {
    Q_OBJECT
  public:
    static inline QPointer<Tsend> send;  // the newest instance
    // One space goes before the text; the record holds 29 bytes of text.
    static constexpr int MessageByteLimit = 28;
    static constexpr QSize OuterSize{217, 242};

    Tsend(Desk& desk, QWidget* owner);

    QComboBox* FlatComboBox1;
    QPlainTextEdit* FlatMemo1;
    FlatButton* XP_Button1;  // 发   送
    FlatButton* XP_Button2;  // 返   回

    void FormShow();
    void XP_Button1Click();
    void XP_Button2Click();

    // The command text of a message: one space, then the lines joined by CR LF.
    static QString MessageCommand(const QString& memoText);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    Desk& desk;
    bool m_sized = false;
};
