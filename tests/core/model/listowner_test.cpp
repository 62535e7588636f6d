// The owner of a list answers the requests of other zorv processes over its
// local socket; anything that is not a well-formed request for its list is
// dropped without effect.
#include "model/listowner.h"
#include "model/listrequest.h"
#include "support/tempsettings.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <tuple>

#ifndef _WIN32
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zorv::test {
namespace {

class ListOwnerTest : public SettingsTest {
protected:
    void SetUp() override
    {
        list = settings.Path(QStringLiteral("l.zorv"));
        ASSERT_TRUE(doc.OnSaveDocument(list, nullptr));
        ASSERT_EQ(owner.Own(list, nullptr), CListOwner::OwnResult::Owned);
    }

    // Runs `send` on another thread while this one (the owner's) runs its
    // event loop.
    void OnSenderThread(const std::function<void()>& send)
    {
        std::atomic<bool> done{false};
        std::thread sender([&] {
            send();
            done = true;
        });
        EXPECT_TRUE(RunUntil([&] { return done.load(); }));
        sender.join();
    }
    HandOff Send(const QJsonObject& request, QJsonObject* reply)
    {
        HandOff result = HandOff::NoOwner;
        OnSenderThread([&] { result = SendToOwner(list, request, reply, std::chrono::seconds(10)); });
        return result;
    }
    // Writes raw bytes; true when the owner hung up without sending anything back.
    bool DroppedRaw(const QByteArray& bytes)
    {
        bool dropped = false;
        OnSenderThread([&] {
            QLocalSocket s;
            s.connectToServer(OwnerSocketPath(list));
            if (s.waitForConnected(2000)) {
                s.write(bytes);
                s.waitForBytesWritten(2000);
                s.waitForReadyRead(5000);
                dropped = s.bytesAvailable() == 0 && s.state() != QLocalSocket::ConnectedState;
            }
        });
        return dropped;
    }
    QJsonObject AddRequest(const char* url)
    {
        CAddRequest add;
        add.urls = {url};
        add.destination = settings.Dir().toStdString();
        return add.ToJson();
    }

    QString list;
    CZorvDoc doc;
    CListOwner owner{[this](const QJsonObject& r) { return AnswerListRequest(doc, r); }};
};

TEST_F(ListOwnerTest, AnswersAddsAndDropsEverythingElse)
{
    QByteArray greeting("ZORV-LIST/1\n");
    const auto framed = [&](const QByteArray& json) {
        const auto n = static_cast<quint32>(json.size());
        return greeting + QByteArray(1, char(n >> 24)) + char(n >> 16) + char(n >> 8) + char(n) + json;
    };
    const QJsonObject add = AddRequest("http://h/a*1.2.1d*");
    const QByteArray addJson = QJsonDocument(add).toJson();
    for (const QByteArray& bytes :
         {QByteArray("GET / HTTP/1.0\r\n\r\n"), greeting + QByteArray("\x7F\xFF\xFF\xFF", 4), framed("not json"),
          framed(addJson), // no list named: not for this owner
          framed(addJson) + "and more"}) {
        EXPECT_TRUE(DroppedRaw(bytes)) << bytes.left(40).toStdString();
        EXPECT_EQ(doc.GetCount(), 0);
    }

    QJsonObject reply;
    ASSERT_EQ(Send(add, &reply), HandOff::Answered);
    EXPECT_TRUE(reply["ok"].toBool());
    EXPECT_EQ(CAddReport::FromJson(reply["report"].toObject()).added, 2);
    // Queued, as the new-URL command does.
    EXPECT_TRUE(doc.GetCount() == 2 && doc.GetItemCount(true) == 2 && doc.IsModified());

    // The same files again clash; an unknown request is refused.
    ASSERT_EQ(Send(add, &reply), HandOff::Answered);
    EXPECT_EQ(CAddReport::FromJson(reply["report"].toObject()).clashes.size(), 2u);
    ASSERT_EQ(Send({{"command", "format-disk"}}, &reply), HandOff::Answered);
    EXPECT_FALSE(reply["ok"].toBool());
    EXPECT_EQ(doc.GetCount(), 2);

    // A second owner of the same list is refused; released, nobody answers.
    CListOwner other{{}};
    EXPECT_EQ(other.Own(list, nullptr), CListOwner::OwnResult::Taken);
    owner.Release();
    EXPECT_EQ(SendToOwner(list, add, &reply), HandOff::NoOwner);
    EXPECT_EQ(other.Own(list, nullptr), CListOwner::OwnResult::Owned);
}

#ifndef _WIN32
// The uid of "nobody" when the test runs as root (and can hand files to
// another user); -1 otherwise.
int OtherUser()
{
    const passwd* pw = ::getpwnam("nobody");
    return ::getuid() == 0 && pw ? static_cast<int>(pw->pw_uid) : -1;
}

// XDG_RUNTIME_DIR is used only when it is the user's own and closed to
// others; else the socket goes to a private folder of the user's.
TEST_F(ListOwnerTest, RuntimeFolderIsUsedOnlyWhenPrivate)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir base;
    for (const auto& [name, mode, stranger] : {std::tuple{"own", 0700, false}, {"open", 0777, false},
                                                {"readable", 0755, false}, {"stranger", 0700, true}}) {
        if (stranger && OtherUser() < 0)
            continue;
        const QByteArray folder = QFile::encodeName(base.filePath(QString::fromUtf8(name)));
        ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
        ASSERT_EQ(::chmod(folder.constData(), mode), 0);
        ASSERT_EQ(::chown(folder.constData(), stranger ? OtherUser() : ::getuid(), ::getgid()), 0);
        qputenv("XDG_RUNTIME_DIR", folder);
        const QByteArray used = QFile::encodeName(QFileInfo(OwnerSocketPath(list)).path());
        EXPECT_EQ(used == folder, mode == 0700 && !stranger) << name;
        struct stat st {};
        ASSERT_EQ(::lstat(used.constData(), &st), 0) << name;
        EXPECT_TRUE(st.st_uid == ::getuid() && (st.st_mode & 0077) == 0) << name << " " << used.constData();
    }
    qputenv("XDG_RUNTIME_DIR", saved);
}

// A socket file of another user's at the owner's path is never connected to:
// a sender finds no owner, and a new owner does not defer to it.
TEST_F(ListOwnerTest, SocketOfAnotherUserIsNeitherAskedNorObeyed)
{
    if (OtherUser() < 0)
        GTEST_SKIP() << "needs root to hand a socket to another user";
    const QByteArray socket = QFile::encodeName(OwnerSocketPath(list));
    ASSERT_EQ(::lchown(socket.constData(), OtherUser(), OtherUser()), 0);
    QJsonObject reply;
    EXPECT_EQ(Send(AddRequest("http://h/a"), &reply), HandOff::NoOwner);
    CListOwner other{{}};
    EXPECT_EQ(other.Own(list, nullptr), CListOwner::OwnResult::Failed);
    ASSERT_EQ(::lchown(socket.constData(), ::getuid(), ::getgid()), 0);
    EXPECT_EQ(Send(AddRequest("http://h/a"), &reply), HandOff::Answered);
    EXPECT_EQ(doc.GetCount(), 1);
}
#endif

} // namespace
} // namespace zorv::test
