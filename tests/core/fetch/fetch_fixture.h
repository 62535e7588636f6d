#pragma once
// Shared set-up of the fetch tests: a list document with its own settings
// record and URL cache folder, items added through AddUrl into a temporary
// destination, and a log of the events the fetch posts.
#include "engine/fetch.h"
#include "engine/urlcache.h"
#include "model/doc.h"
#include "model/events.h"
#include "settings/options.h"
#include "support/http_server.h"
#include "support/tempsettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace zorv::test {

// Receives the posted events; handles them as the UI thread would.
class CEventLog : public QObject {
public:
    std::vector<int> states; // WM_ITEM_UPDATED, in order
    int launches = 0;

    bool event(QEvent* e) override
    {
        const int type = e->type();
        if (type == WM_ITEM_UPDATED) {
            auto* ev = static_cast<CItemEvent*>(e);
            states.push_back(ev->State());
            if (auto item = ev->Item())
                CZorvDoc::UpdateHandled(item.get());
            return true;
        }
        if (type == WM_LAUNCH_ITEM) {
            ++launches;
            return true;
        }
        if (type == WM_ADD_TRAFFIC || type == WM_SET_MODIFIED)
            return true;
        return QObject::event(e);
    }
};

class FetchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // Loopback tests never go through a proxy that the environment names.
        options.ProxySetting = PROXY_DIRECT;
        options.HttpAgent = "zorv-test/1";
        SetOptions(&options);
        CUrlCache::SetFolderOverride(dir.filePath(QStringLiteral("cache")));
        doc.SetEventReceiver(&log);
    }
    void TearDown() override
    {
        doc.SetEventReceiver(nullptr);
        CUrlCache::SetFolderOverride({});
        SetOptions(nullptr);
    }

    // Adds an item for `url` that downloads into dir/<name>.
    ItemPtr Add(const std::string& url, const std::string& referer = {},
                const std::string& name = "out.bin")
    {
        CItem* added = doc.AddUrl(url, referer, dir.path().toStdString(), name, 0);
        EXPECT_NE(added, nullptr) << url;
        return added ? doc.GetItemPtr(doc.RowOf(added)) : nullptr;
    }

    // Fetches on the test thread and delivers the posted events.
    int Fetch(const ItemPtr& item)
    {
        const int result = FetchItem(session, item, doc);
        QCoreApplication::sendPostedEvents();
        return result;
    }

    QString LocalPath(const std::string& name = "out.bin") const
    {
        return dir.filePath(QString::fromStdString(name));
    }
    QByteArray LocalBytes(const std::string& name = "out.bin") const
    {
        QFile f(LocalPath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool LocalExists(const std::string& name = "out.bin") const { return QFile::exists(LocalPath(name)); }

    // The origin attribute a finished download records (user.xdg.origin.url
    // unless `name` says otherwise); "<none>" without one.
    static std::string Attribute(const QString& path, const char* name = "user.xdg.origin.url")
    {
#ifdef __linux__
        char value[4096];
        const ssize_t n = getxattr(path.toStdString().c_str(), name, value, sizeof value);
        return n >= 0 ? std::string(value, static_cast<size_t>(n)) : "<none>";
#else
        return "<none>";
#endif
    }
    static bool SetOrigin(const QString& path, const std::string& url)
    {
#ifdef __linux__
        return setxattr(path.toStdString().c_str(), "user.xdg.origin.url", url.data(), url.size(), 0) == 0;
#else
        return false;
#endif
    }

#ifndef _WIN32
    // Fetches with the process's file size limit at 256 KiB: the write that
    // crosses it fails (EFBIG) as on a full disk.
    int FetchWithSizeLimit(const ItemPtr& item)
    {
        rlimit saved{};
        if (getrlimit(RLIMIT_FSIZE, &saved) != 0) {
            ADD_FAILURE() << "getrlimit";
            return -1;
        }
        rlimit limited = saved;
        limited.rlim_cur = 256 * 1024;
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        const bool limitedOk = setrlimit(RLIMIT_FSIZE, &limited) == 0;
        EXPECT_TRUE(limitedOk) << "setrlimit";
        const int result = limitedOk ? Fetch(item) : -1;
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        return result;
    }
#endif

    QTemporaryDir dir;
    COptions options{COptions::NoLoad{}};
    // Routes first, then http.Start(). Declared before the session, so the
    // session's connections close before the server stops.
    CHttpServer http;
    CZorvDoc doc;
    CEventLog log;
    CFetchLimits limits;
    CFetchSession session{limits};
};

} // namespace zorv::test
