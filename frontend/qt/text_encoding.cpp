#include "text_encoding.h"

#include <QByteArray>
#include <QFile>
#include <cstring>

#include "windows_1252.h"

QString DecodeWindows1252(const char* text) {
    QString result;
    for (const char* p = text; *p != '\0'; ++p) {
        result.append(
            QChar(static_cast<char16_t>(Windows1252CodePoint(static_cast<unsigned char>(*p)))));
    }
    return result;
}

QString DecodeFileSystemText(const char* text) {
    return QFile::decodeName(text);
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
