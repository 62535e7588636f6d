#include "support/tempsettings.h"

#include "settings/store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace zorv::test {

CTempSettings::CTempSettings()
{
    EXPECT_TRUE(m_dir.isValid());
    SetSettingsFile(IniFile());
    Reload();
}

CTempSettings::~CTempSettings()
{
    SetOptions(nullptr);
    m_options.reset();
    SetSettingsFile(QString());
}

COptions& CTempSettings::Reload()
{
    SetOptions(nullptr);
    m_options = std::make_unique<COptions>();
    SetOptions(m_options.get());
    return *m_options;
}

QByteArray Bytes(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (const int b : bytes)
        out.append(static_cast<char>(b));
    return out;
}

QByteArray ReadFileBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool WriteFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool PutFileBelow(const QString& root, const QString& relativePath, const QByteArray& bytes)
{
    const QString path = QDir(root).filePath(relativePath);
    return QDir().mkpath(QFileInfo(path).path()) && WriteFileBytes(path, bytes);
}

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

std::string HexDump(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper().toStdString();
}

bool RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();
    return true;
}

void UsePrivateRuntimeDir()
{
    static QTemporaryDir dir; // 0700, removed when the run ends
    if (dir.isValid()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
        // The program's data folder (the recovery list) too: never the user's.
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));
    }
}

} // namespace zorv::test
