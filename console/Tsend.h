#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>

class Desk;
class QComboBox;
class QLabel;
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
    QLabel* ByteCounter;     // "n/28 字节" as one types

    void FormShow();
    void XP_Button1Click();
    void XP_Button2Click();

    // The command text of a message: one space, then the lines joined by CR LF.
    static QString MessageCommand(const QString& memoText);
    // The bytes of the operator's text as it will travel; nullopt when it cannot.
    static std::optional<qsizetype> MessageBytes(const QString& memoText);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void CountBytes();
    Desk& desk;
    bool m_sized = false;
};
