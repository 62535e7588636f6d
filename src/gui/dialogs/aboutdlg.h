#pragma once
// The About box: the program's icon, name, copyright, version and file date,
// and the run-time libraries this process has loaded with their versions.
#include <QDialog>

class QLabel;
class QPlainTextEdit;

namespace zorv {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QString Version() const;
    QString Date() const;
    QString Copyright() const;
    // The module list as shown ("\n" line ends).
    QString Modules() const;

private:
    QLabel* m_pCopyright;
    QLabel* m_pVersion;
    QLabel* m_pDate;
    QPlainTextEdit* m_pModules;
};

} // namespace zorv
