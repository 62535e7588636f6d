#pragma once
// CHangUpDialog: "ダイアルアップ接続の切断". Announces that the dial-up
// connection is about to be cut and counts down; the disconnect button or the
// end of the countdown hangs up, cancel (the default button) or Escape keeps
// the connection.
#include "app/dialup.h"

#include <QDialog>
#include <QTimer>

#include <cstdint>
#include <functional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace zorv {

class CHangUpDialog : public QDialog {
    Q_OBJECT
public:
    // A monotonic millisecond clock (the frame's).
    using TickSource = std::function<std::uint64_t()>;

    CHangUpDialog(IDialUpLink& link, unsigned countdownMs, TickSource tick, QWidget* parent);

    // Once a second: the remaining time, and the hang-up when it has run out.
    void OnTimer();
    // The disconnect button: hangs up, then closes the dialog with Accepted.
    void OnDisconnect();

    QString MessageText() const;
    QString RemainingText() const;
    QPushButton* DisconnectButton() const { return m_pDisconnect; }
    QPushButton* CancelButton() const { return m_pCancel; }

    // Closing the dialog, either way, ends the countdown.
    void done(int result) override;

private:
    QString FormatRemaining() const;

    IDialUpLink& m_link;
    const unsigned m_countdown;
    TickSource m_tick;
    const std::uint64_t m_start;
    QPlainTextEdit* m_pMessage;
    QLineEdit* m_pRemaining;
    QPushButton* m_pDisconnect;
    QPushButton* m_pCancel;
    QTimer m_timer;
    bool m_bDone = false;
};

} // namespace zorv
