#pragma once
// COptPage: what the three pages of the options sheet share. A page copies
// its values from the sheet's copy of the settings record the first time the
// sheet shows it in a run (OnInitPage) and validates and copies them back
// into that copy when it is left (OnKillActive). A page that is never shown
// copies nothing. The copy is the sheet's alone: no lock is needed.
#include "settings/optionsedit.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QLineEdit;

namespace zorv {

class COptions;

class COptPage : public QWidget {
    Q_OBJECT
public:
    // Shows a refused input's message (default: a warning box over the page).
    using MessageHook = std::function<void(const QString& text)>;

    COptPage(COptions& options, const QString& caption, int id, QWidget* parent);

    // The help topic of the page ("OptLocal.html", ...).
    virtual QString HelpTopic() const = 0;

    // Fills the page from the record, the first time only.
    void Activate();
    // Validates and copies into the record; false keeps the page active.
    // A page that was never filled has nothing to copy.
    bool Leave();
    bool IsInitialized() const { return m_bInitialized; }

    void SetMessageHook(MessageHook hook) { m_message = std::move(hook); }

protected:
    virtual void OnInitPage() = 0;
    virtual bool OnKillActive() = 0;

    // The number in `edit` when it is one within `field`'s bounds; otherwise
    // the message is shown and the edit focused with its text selected.
    std::optional<unsigned> ReadField(QLineEdit* edit, const CUnsignedField& field);
    // Controls named after their ids.
    QLineEdit* MakeEdit(int id, int chars = 0);
    QCheckBox* MakeCheck(int id, const QString& text);

    COptions& m_options;

private:
    MessageHook m_message;
    bool m_bInitialized = false;
};

QString ToQ(const std::string& s);
std::string FromQ(const QString& s);

} // namespace zorv
