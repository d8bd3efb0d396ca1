#include "text_encoding.h"

#include <QByteArray>
#include <QFile>
#include <cstring>

namespace {

// Code points of the bytes 0x80 to 0x9F; the rest of Windows-1252 is Latin-1.
constexpr char16_t kHighControlRange[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

char16_t Windows1252ToUnicode(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kHighControlRange[byte - 0x80];
    }
    return byte;
}

}  // namespace

QString DecodeWindows1252(const char* text) {
    QString result;
    for (const char* p = text; *p != '\0'; ++p) {
        result.append(QChar(Windows1252ToUnicode(static_cast<unsigned char>(*p))));
    }
    return result;
}

QString DecodeFileSystemText(const char* text) {
    return QFile::decodeName(text);
}

QString DecodeStatusLine(const char* line) {
    // The engine's words stand outside the double quotes around the name,
    // and hold no double quote themselves; the name may.
    const char* opening = std::strchr(line, '"');
    const char* closing = std::strrchr(line, '"');
    if (opening == nullptr || opening == closing) {
        return DecodeFileSystemText(line);
    }
    const QByteArray before(line, opening + 1 - line);
    const QByteArray name(opening + 1, closing - opening - 1);
    return DecodeWindows1252(before.constData()) + QFile::decodeName(name) +
           DecodeWindows1252(closing);
}

QString EscapeLineSeparators(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar character : text) {
        const QChar::Category category = character.category();
        if (category == QChar::Separator_Line || category == QChar::Separator_Paragraph) {
            shown +=
                QStringLiteral("\\u%1").arg(uint(character.unicode()), 4, 16, QLatin1Char('0'));
        } else {
            shown += character;
        }
    }
    return shown;
}

void EncodeFileSystemText(const QString& text, char* buffer, std::size_t size) {
    if (size == 0) {
        return;
    }
    std::size_t used = 0;
    // Character by character, so that the cut never splits the bytes of one.
    const QList<uint> codePoints = text.toUcs4();
    for (const uint codePoint : codePoints) {
        const char32_t character = codePoint;
        const QByteArray bytes = QFile::encodeName(QString::fromUcs4(&character, 1));
        if (bytes.isEmpty() || bytes.contains('\0') ||
            used + static_cast<std::size_t>(bytes.size()) > size - 1) {
            break;
        }
        std::memcpy(buffer + used, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        used += static_cast<std::size_t>(bytes.size());
    }
    buffer[used] = '\0';
}
