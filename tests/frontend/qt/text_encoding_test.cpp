// The Linux window's conversions between the engine's byte strings and Qt's
// texts: the engine's own words in Windows-1252, names in the file system's
// encoding, cut only between whole characters.
#include "text_encoding.h"

#include <QFile>

#include "qt_test_support.h"
#include "windows_1252.h"

class TextEncodingTest : public QObject {
    Q_OBJECT

private slots:
    void ownWordsDecodeByTheEnginesTable();
    void encodingCutsOnlyBetweenCharacters();
};

void TextEncodingTest::ownWordsDecodeByTheEnginesTable() {
    // Every byte, in one text: one character each, the engine's.
    QByteArray everyByte;
    for (int byte = 1; byte < 256; ++byte) {
        everyByte += static_cast<char>(byte);
    }
    const QString decoded = DecodeWindows1252(everyByte.constData());
    QCOMPARE(decoded.size(), 255);
    for (int byte = 1; byte < 256; ++byte) {
        QCOMPARE(char32_t(decoded.at(byte - 1).unicode()),
                 Windows1252CodePoint(static_cast<unsigned char>(byte)));
    }
    QCOMPARE(DecodeWindows1252("Header zu gro\xDF! \x80"), QString::fromUtf8("Header zu groß! €"));
    QCOMPARE(DecodeWindows1252(""), QString());
}

void TextEncodingTest::encodingCutsOnlyBetweenCharacters() {
    char buffer[8];
    EncodeFileSystemText(QString::fromUtf8("#"), buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer), QByteArray("#"));
    EncodeFileSystemText(QString::fromUtf8("_teil_lang"), buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer), QByteArray("_teil_l"));
    // ä is two bytes, € three, 😀 four (two UTF-16 units): none is split.
    EncodeFileSystemText(QString::fromUtf8("ääää"), buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer), QFile::encodeName(QString::fromUtf8("äää")));
    EncodeFileSystemText(QString::fromUtf8("a€€"), buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer), QFile::encodeName(QString::fromUtf8("a€€")));
    EncodeFileSystemText(QString::fromUtf8("ab😀😀"), buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer), QFile::encodeName(QString::fromUtf8("ab😀")));
    EncodeFileSystemText(QString(), buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer), QByteArray());
    // A small buffer is never overrun.
    char small[3] = {'x', 'x', 'x'};
    EncodeFileSystemText(QString::fromUtf8("äb"), small, sizeof small);
    QCOMPARE(QByteArray(small), QFile::encodeName(QString::fromUtf8("ä")));
}

VELMORA_QTEST_MAIN(TextEncodingTest)
#include "text_encoding_test.moc"
