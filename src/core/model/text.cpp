#include "model/text.h"

#include <QStringDecoder>

#include <cerrno>

namespace zorv {

bool IsValidUtf8(std::string_view s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int n;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (end - p <= n)
            return false;
        for (int i = 1; i <= n; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF
            || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += n + 1;
    }
    return true;
}

std::string DecodeLegacyText(std::string_view bytes)
{
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    QStringDecoder decoder("windows-31j");
    if (!decoder.isValid())
        decoder = QStringDecoder("Shift_JIS");
    if (!decoder.isValid())
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
    const QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return text.toStdString();
}

QString FileErrorText(int err, const QString& fallback)
{
    const char* text = nullptr;
    switch (err) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        text = "ディスクがいっぱいです";
        break;
    case EFBIG:
        text = "ファイルが大きすぎます";
        break;
    case EACCES:
    case EPERM:
        text = "アクセスが拒否されました";
        break;
    case ENOENT:
        text = "ファイルまたはフォルダがありません";
        break;
    case EROFS:
        text = "読み取り専用のファイルシステムです";
        break;
    case EISDIR:
        text = "同じ名前のフォルダがあります";
        break;
    case EIO:
        text = "入出力エラーが発生しました";
        break;
    default:
        return fallback;
    }
    QString out = QString::fromUtf8(text);
    if (!fallback.isEmpty())
        out += QStringLiteral(" (%1)").arg(fallback);
    return out;
}

} // namespace zorv
