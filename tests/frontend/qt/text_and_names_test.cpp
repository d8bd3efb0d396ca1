// The conversions between the engine's byte strings and Qt, the name offsets
// a file chooser reports, the dialog-unit layout, the platform choice, and
// the demo's MPEG header.
#include <QFile>
#include <QFont>

#include "dialog_units.h"
#include "mpeg_ps.h"
#include "platform_choice.h"
#include "qt_test_support.h"
#include "text_encoding.h"

class TextAndNamesTest : public QObject {
    Q_OBJECT

private slots:
    void windows1252DecodesEveryByte();
    void encodingCutsOnlyBetweenCharacters();
    void x11IsPreferredUnderWaylandOnly();
    void demoHeaderIsAProgramStreamStart();
};

void TextAndNamesTest::windows1252DecodesEveryByte() {
    QCOMPARE(DecodeWindows1252("Header zu gro\xDF! m\xF6glich \xE4\xFC\xC4\xD6\xDC"),
             QString::fromUtf8("Header zu groß! möglich äüÄÖÜ"));
    QCOMPARE(DecodeWindows1252("\x80\x8A\x93\x94\x96\x99\x9F"), QString::fromUtf8("€Š“”–™Ÿ"));
    // The five undefined bytes stay distinct characters, not question marks.
    const QString undefined = DecodeWindows1252("\x81\x8D\x8F\x90\x9D");
    QCOMPARE(undefined.size(), 5);
    QCOMPARE(undefined.at(0).unicode(), char16_t(0x81));
    QCOMPARE(undefined.at(4).unicode(), char16_t(0x9D));
    QVERIFY(!undefined.contains(QLatin1Char('?')));
    QCOMPARE(DecodeWindows1252(""), QString());
}

void TextAndNamesTest::encodingCutsOnlyBetweenCharacters() {
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

void TextAndNamesTest::x11IsPreferredUnderWaylandOnly() {
    QCOMPARE(ChooseQtPlatform(nullptr, "wayland-0", "wayland", ":0"), "xcb;wayland");
    QCOMPARE(ChooseQtPlatform(nullptr, nullptr, "wayland", ":0"), "xcb;wayland");
    // No XWayland, a plain X11 session, or the user's own choice: left alone.
    QCOMPARE(ChooseQtPlatform(nullptr, "wayland-0", "wayland", nullptr), nullptr);
    QCOMPARE(ChooseQtPlatform(nullptr, nullptr, "x11", ":0"), nullptr);
    QCOMPARE(ChooseQtPlatform("wayland", "wayland-0", "wayland", ":0"), nullptr);
}

void TextAndNamesTest::demoHeaderIsAProgramStreamStart() {
    const std::vector<unsigned char> pack = MakeHeaderPack();
    QCOMPARE(pack.size(), std::size_t(2048));
    // Pack header: start code, MPEG-2 marker bits, no stuffing.
    QVERIFY((std::vector<unsigned char>(pack.begin(), pack.begin() + 4) ==
             std::vector<unsigned char>{0x00, 0x00, 0x01, 0xBA}));
    QCOMPARE(pack[4] & 0xC4, 0x44);
    QCOMPARE(pack[13] & 0x07, 0);
    // System header right after it, its length covering two streams.
    QCOMPARE(pack[17], 0xBB);
    QCOMPARE((pack[18] << 8) | pack[19], 12);
    // A padding packet fills the rest exactly.
    const std::size_t padding = 14 + 6 + 12;
    QCOMPARE(pack[padding + 3], 0xBE);
    QCOMPARE(padding + 6 + ((pack[padding + 4] << 8) | pack[padding + 5]), std::size_t(2048));
    const std::vector<unsigned char> later = MakePaddingPack(90000);
    QCOMPARE(later.size(), std::size_t(2048));
    QVERIFY(later != pack);
}

VELMORA_QTEST_MAIN(TextAndNamesTest)
#include "text_and_names_test.moc"
