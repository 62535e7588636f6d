#pragma once
// The window application on a private settings store, with a fake dial-up
// link, for the window tests. Nothing here opens a message box or a file
// dialog: errors are collected and questions answered from the fixture.
#include "app/app.h"
#include "app/mainframe.h"
#include "engine/pool.h"
#include "model/doc.h"
#include "res/resource.h"
#include "support/items.h"
#include "support/tempsettings.h"
#include "view/listmodel.h"
#include "view/zorvview.h"

#include <QAction>
#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zorv::test {

class CFakeDialUp : public IDialUpLink {
public:
    bool available = true;
    bool connected = false;
    int hangUps = 0;
    bool IsAvailable() const override { return available; }
    bool IsConnected() const override { return connected; }
    bool HangUp() override { return ++hangUps, std::exchange(connected, false); }
};

class WindowTest : public ::testing::Test {
protected:
    void TearDown() override { Stop(); }

    // Starts the application; false when InitInstance refused.
    // With `link`, that dial-up link instead of the fake one.
    bool Start(const QStringList& args = {}, std::unique_ptr<IDialUpLink> link = nullptr)
    {
        if (!link) {
            auto fake = std::make_unique<CFakeDialUp>();
            dialUp = fake.get();
            link = std::move(fake);
        }
        app = std::make_unique<CZorvApp>(std::move(link));
        app->UI().error = [this](const QString& text) { errors << text; };
        app->UI().warning = [this](const QString& text) { warnings << text; };
        app->UI().askSave = [this](const QString& text) { return questions << text, saveAnswer; };
        app->UI().chooseFile = [this](bool, const QString&) { return chosenFile; };
        app->UI().ask = [this](const CPrompt& prompt) {
            prompts.push_back(prompt);
            const int answer = answers.empty() ? int(IDNO) : answers.front();
            if (!answers.empty())
                answers.pop_front();
            return answer;
        };
        if (!app->InitInstance(args))
            return false;
        Frame().Timer().stop(); // the tests tick by hand
        return true;
    }
    void Stop()
    {
        if (app)
            app->ExitInstance();
        app.reset();
        dialUp = nullptr;
    }

    CMainFrame& Frame() { return *app->MainFrame(); }
    CZorvView& View() { return Frame().View(); }
    CZorvDoc& Doc() { return app->Doc(); }
    QAction& Act(int id)
    {
        QAction* a = Frame().Action(id);
        EXPECT_NE(a, nullptr) << id;
        return *a;
    }
    // Triggers a command as the menu would (its rules applied first).
    void Run(int id)
    {
        Frame().UpdateCommandUI();
        Act(id).trigger();
    }
    bool Enabled(int id)
    {
        Frame().UpdateCommandUI();
        return Act(id).isEnabled();
    }
    // Makes the frame the active window so that its accelerators work.
    void Activate()
    {
        Frame().activateWindow();
        View().setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Frame()));
    }

    // Queues `url` with the test folder as its destination.
    CItem* Add(const std::string& url)
    {
        CItem* item = Doc().AddUrl(url, "", settings.Dir().toStdString(), "", 0);
        EXPECT_NE(item, nullptr) << url;
        return item;
    }
    // Items http://host/<c> with file name <c>, one per character, queued.
    void Fill(const std::string& names) { test::Fill(Doc(), names, settings.Dir().toStdString()); }
    // The file names in row order: of every row, or of the selected ones.
    std::string Names() { return test::Names(Doc()); }
    std::string SelectedNames()
    {
        std::string out;
        for (const int r : View().SelectedRows())
            out += Doc().GetItem(r)->m_strFileName;
        return out;
    }
    // The URLs of the rows from `from` on.
    std::vector<std::string> UrlsFrom(int from)
    {
        std::vector<std::string> out;
        for (int r = from; r < Doc().GetCount(); ++r)
            out.push_back(Doc().GetItem(r)->m_strUrl);
        return out;
    }
    // Selects the rows whose file names are in `names`.
    void Select(const std::string& names)
    {
        std::vector<int> rows;
        for (int r = 0; r < Doc().GetCount(); ++r)
            if (names.find(Doc().GetItem(r)->m_strFileName) != std::string::npos)
                rows.push_back(r);
        View().SelectRows(rows);
    }

    CTempSettings settings;
    CFakeDialUp* dialUp = nullptr;
    std::unique_ptr<CZorvApp> app;
    QStringList errors;
    QStringList warnings;
    QStringList questions;
    QMessageBox::StandardButton saveAnswer = QMessageBox::No;
    QString chosenFile;
    // Questions of core operations, and the answers given in turn (then No).
    std::vector<CPrompt> prompts;
    std::deque<int> answers;

};

} // namespace zorv::test
