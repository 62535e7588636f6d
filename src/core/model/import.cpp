#include "model/import.h"

#include "model/paths.h"
#include "model/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <functional>

namespace zorv {

namespace {

// Splits a byte stream into lines, holding at most one line and one buffer.
class CLineReader {
public:
    // Bytes read into `buf` (at most `max`), 0 at the end, -1 on a read error.
    using Read = std::function<long long(char* buf, long long max)>;
    explicit CLineReader(Read read) : m_read(std::move(read)) {}

    enum Result { Line, End, Error, TooLong };

    // The next line without its line end (LF or CR LF).
    Result Next(std::string& line)
    {
        line.clear();
        bool any = false;
        for (;;) {
            if (m_pos == m_len) {
                if (m_eof)
                    return any ? Finish(line) : End;
                const long long n = m_read(m_buf, sizeof m_buf);
                if (n < 0)
                    return Error;
                if (n == 0) {
                    m_eof = true;
                    continue;
                }
                m_pos = 0;
                m_len = static_cast<size_t>(n);
            }
            any = true;
            const char* begin = m_buf + m_pos;
            const auto* nl = static_cast<const char*>(std::memchr(begin, '\n', m_len - m_pos));
            const size_t take = nl ? static_cast<size_t>(nl - begin) : m_len - m_pos;
            if (line.size() + take > kMaxImportLine)
                return TooLong;
            line.append(begin, take);
            m_pos += take;
            if (nl) {
                ++m_pos;
                return Finish(line);
            }
        }
    }

private:
    Result Finish(std::string& line)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (m_first && line.starts_with("\xEF\xBB\xBF"))
            line.erase(0, 3);
        m_first = false;
        return Line;
    }

    Read m_read;
    char m_buf[64 * 1024];
    size_t m_pos = 0;
    size_t m_len = 0;
    bool m_eof = false;
    bool m_first = true;
};

// The value after `key` when `line` starts with it (byte for byte).
bool Key(std::string_view line, std::string_view key, std::string* value)
{
    if (!line.starts_with(key))
        return false;
    *value = std::string(line.substr(key.size()));
    return true;
}

// A "SaveAs=" value that names one folder inside the StoreIn folder.
bool IsOneFolderName(std::string_view name)
{
    if (name == "." || name == ".." || name.find_first_of("/\\") != std::string_view::npos)
        return false;
#ifdef _WIN32
    if (name.find(':') != std::string_view::npos) // a drive
        return false;
#endif
    return true;
}

// One import: the document, the defaults and the outcome.
class CImport {
public:
    // `folder`: the imported file's folder, which relative folders named in
    // the file are taken from.
    CImport(CZorvDoc& doc, const std::string& defaultDestination, CImportFailure* failure, const std::string& folder)
        : m_doc(doc), m_strDefault(defaultDestination), m_pFailure(failure),
          m_base(folder.empty() ? QDir::currentPath() : QString::fromStdString(folder))
    {
    }

    CImportResult Run(ImportFormat format, CLineReader& reader)
    {
        std::string line;
        for (;;) {
            const CLineReader::Result r = reader.Next(line);
            if (r == CLineReader::End)
                break;
            ++m_line;
            if (r == CLineReader::Error)
                return Fail("the file cannot be read", 0);
            if (r == CLineReader::TooLong)
                return Fail("line too long (damaged or not a list file)");
            if (line.empty())
                continue;
            if (line.find('\0') != std::string::npos)
                return Fail("NUL byte in the line (damaged or not a list file)");
            line = DecodeLegacyText(line);
            const bool go = format == ImportFormat::Grx ? Grx(line)
                : format == ImportFormat::Wrg         ? Wrg(line)
                                                      : Add(line, {}, m_strDefault);
            if (!go)
                return m_result;
        }
        // An incomplete record at the end is dropped.
        m_result.ok = true;
        return m_result;
    }

    CImportResult Fail(const std::string& cause, int line = -1)
    {
        if (m_pFailure) {
            m_pFailure->line = line < 0 ? m_line : line;
            m_pFailure->cause = cause;
        }
        m_result.ok = false;
        return m_result;
    }

private:
    // A folder named by the file, relative ones taken from the file's folder.
    std::string FileFolder(const std::string& folder) const
    {
        const QString given = QString::fromStdString(folder);
        if (QDir::isAbsolutePath(given))
            return folder;
        return QDir::toNativeSeparators(QDir::cleanPath(QDir(m_base).absoluteFilePath(given))).toStdString();
    }

    bool Add(const std::string& url, const std::string& referer, const std::string& destination)
    {
        if (!m_doc.AddUrl(url, referer, destination, {}, -1)) {
            Fail("not an http, https or ftp URL: " + EscapeText(url));
            return false;
        }
        ++m_result.added;
        return true;
    }

    bool Grx(const std::string& line)
    {
        if (m_strUrl.empty() && Key(line, "URL: ", &m_strUrl)) {
        } else if (m_strFolder.empty() && Key(line, "File: ", &m_strFolder)) {
        } else {
            Fail("not a \"URL: \" or \"File: \" line of a record");
            return false;
        }
        if (m_strUrl.empty() || m_strFolder.empty())
            return true;
        const bool added = Add(m_strUrl, {}, FileFolder(m_strFolder));
        m_strUrl.clear();
        m_strFolder.clear();
        return added;
    }

    bool Wrg(const std::string& line)
    {
        std::string value;
        if (m_strUrl.empty() && Key(line, "Url=", &m_strUrl)) {
        } else if (m_strFolder.empty() && Key(line, "StoreIn=", &m_strFolder)) {
        } else if (!m_strFolder.empty() && Key(line, "SaveAs=", &value) && !value.empty()) {
            // A further folder level under the folder, never one outside it.
            if (!IsOneFolderName(value)) {
                m_result.notes.push_back(
                    {m_line, "SaveAs=" + EscapeText(value) + " refused: not one folder inside StoreIn"});
            } else {
                const char last = m_strFolder.back();
                if (last != kPathSeparator && last != '/')
                    m_strFolder += kPathSeparator;
                m_strFolder += value;
            }
        } else if (m_strReferer.empty() && Key(line, "RefererStr=", &m_strReferer)) {
        }
        if (m_strUrl.empty() || m_strFolder.empty())
            return true;
        const bool added = Add(m_strUrl, m_strReferer, FileFolder(m_strFolder));
        m_strUrl.clear();
        m_strFolder.clear();
        m_strReferer.clear();
        return added;
    }

    CZorvDoc& m_doc;
    const std::string& m_strDefault;
    CImportFailure* m_pFailure;
    const QString m_base;
    CImportResult m_result;
    int m_line = 0;
    std::string m_strUrl, m_strFolder, m_strReferer;
};

} // namespace

bool ImportFormatOf(std::string_view path, ImportFormat* format)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    std::string ext(path.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    *format = ext == "grx" ? ImportFormat::Grx : ext == "wrg" ? ImportFormat::Wrg : ImportFormat::Text;
    return true;
}

CImportResult ImportFile(CZorvDoc& doc, const std::string& path)
{
    return ImportFile(doc, path, {}, nullptr);
}

CImportResult ImportFile(CZorvDoc& doc, const std::string& path, const std::string& defaultDestination,
                         CImportFailure* failure)
{
    CImport import(doc, defaultDestination, failure, QFileInfo(QString::fromStdString(path)).absolutePath().toStdString());
    ImportFormat format{};
    if (!ImportFormatOf(path, &format))
        return import.Fail("no extension: the format is unknown", 0);
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return import.Fail(file.errorString().toStdString(), 0);
    CLineReader reader([&file](char* buf, long long max) { return static_cast<long long>(file.read(buf, max)); });
    return import.Run(format, reader);
}

CImportResult ImportBytes(CZorvDoc& doc, ImportFormat format, std::string_view bytes,
                          const std::string& defaultDestination, CImportFailure* failure, const std::string& folder)
{
    CImport import(doc, defaultDestination, failure, folder);
    CLineReader reader([&bytes](char* buf, long long max) {
        const size_t n = std::min(bytes.size(), static_cast<size_t>(max));
        std::memcpy(buf, bytes.data(), n);
        bytes.remove_prefix(n);
        return static_cast<long long>(n);
    });
    return import.Run(format, reader);
}

} // namespace zorv
