#include "model/recovery.h"

#include "model/doc.h"
#include "model/item.h"
#include "settings/store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace zorv {

QString RecoveryListPath()
{
    // The window's data folder (AppDataLocation under the window's names),
    // whatever names the running process has.
    return QStringLiteral("%1/%2/%3/recovery.zorv")
        .arg(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation), StoreCompanyName(),
             StoreProductName());
}

bool KeepListAtEnd(CZorvDoc& doc, QString* error)
{
    doc.SetInProgressSaveState(STATE_NOT_FETCHED);
    if (!doc.GetPathName().isEmpty())
        return !doc.IsModified() || doc.OnSaveDocument(doc.GetPathName(), error);
    if (doc.GetCount() == 0)
        return true;
    const QString path = RecoveryListPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("%1: フォルダを作成できません").arg(QFileInfo(path).absolutePath());
        return false;
    }
    return doc.SaveCopy(path, error);
}

bool OfferRecovery(CZorvDoc& doc, IPrompt& prompt)
{
    const QString path = RecoveryListPath();
    if (!QFile::exists(path))
        return false;
    bool restored = false;
    if (doc.OnOpenDocument(path, nullptr) && doc.GetCount() > 0) {
        CPrompt question;
        question.captionId = IDS_PROMPT_APP_TITLE;
        question.textId = IDS_RECOVERY_OFFER;
        question.arg = std::to_string(doc.GetCount());
        restored = prompt.Ask(question) == IDYES;
    }
    if (restored) {
        // Its own list again: no file yet, and changes to save.
        doc.SetPathName({});
        doc.SetModifiedFlag(true);
    } else {
        doc.OnNewDocument();
    }
    QFile::remove(path);
    return restored;
}

} // namespace zorv
