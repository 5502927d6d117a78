#include "screentest.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QRawFont>
#include <QtTest>

const QByteArray &fontBytesReadBeforeMain(); // filled by a static initialiser

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestScreenFont : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void resourceEqualsShippedFile();
    void readableBeforeMain();
    void registersOneMonospacedFamily();
    void coverage_data();
    void coverage();
    void cellsHaveOneWidth();

private:
    QByteArray shipped;
    QRawFont raw;
};

void TestScreenFont::initTestCase()
{
    shipped = readFile(QStringLiteral(VELMO_FONT_FILE));
    QCOMPARE(shipped.size(), 191400);
    raw.loadFromData(shipped, 30, QFont::PreferDefaultHinting);
    QVERIFY(raw.isValid());
}

void TestScreenFont::resourceEqualsShippedFile()
{
    QVERIFY(readFile(QStringLiteral(":/VelmoScreenFont.ttf")) == shipped);
}

void TestScreenFont::readableBeforeMain()
{
#ifdef Q_OS_WIN
    QSKIP("MinGW runs static initialisers in the reverse of the link order, so the early reader cannot be "
          "placed behind the bundle");
#endif
    QVERIFY(fontBytesReadBeforeMain() == shipped);
}

void TestScreenFont::registersOneMonospacedFamily()
{
    const int id = ScreenFonts::install();
    QVERIFY(id >= 0);
    QCOMPARE(QFontDatabase::applicationFontFamilies(id), QStringList{ "Ubuntu Mono" });

    const QFontInfo matched(QFont(QStringLiteral("Ubuntu Mono")));
    QCOMPARE(matched.family(), QStringLiteral("Ubuntu Mono"));
    QVERIFY(matched.fixedPitch());
    QCOMPARE(raw.familyName(), QStringLiteral("Ubuntu Mono"));
    QCOMPARE(raw.styleName(), QStringLiteral("Bold"));
    QCOMPARE(raw.weight(), int(QFont::Bold));
    QCOMPARE(raw.unitsPerEm(), 1000.0);
}

void TestScreenFont::coverage_data()
{
    QTest::addColumn<uint>("codePoint");
    QTest::addColumn<bool>("supported");

    QTest::newRow("Latin A") << 0x41u << true;
    QTest::newRow("Cyrillic A") << 0x410u << true;
    QTest::newRow("Cyrillic ya") << 0x44Fu << true;
    QTest::newRow("Cyrillic yo") << 0x451u << true;
    QTest::newRow("light horizontal") << 0x2500u << true;
    QTest::newRow("light down and right") << 0x250Cu << true;
    QTest::newRow("double horizontal") << 0x2550u << true;
    QTest::newRow("double cross") << 0x256Cu << true;
    QTest::newRow("full block") << 0x2588u << true;
    QTest::newRow("private E0FF") << 0xE0FFu << true;
    QTest::newRow("private F000") << 0xF000u << true;
    QTest::newRow("CJK") << 0x4E00u << false;
    QTest::newRow("light arc") << 0x256Du << false;
}

void TestScreenFont::coverage()
{
    QFETCH(uint, codePoint);
    QFETCH(bool, supported);
    QCOMPARE(raw.supportsCharacter(codePoint), supported);
}

void TestScreenFont::cellsHaveOneWidth()
{
    QVERIFY(ScreenFonts::install() >= 0);
    QFont font(QStringLiteral("Ubuntu Mono"), 30, QFont::Bold);
    const QFontMetrics metrics(font);
    const int cell = metrics.horizontalAdvance(QLatin1Char('W'));
    for (const QChar c : QStringLiteral("i?Ж═█\uE0FF\uF000"))
        QCOMPARE(metrics.horizontalAdvance(c), cell);
}

QTEST_MAIN(TestScreenFont)
#include "tst_screenfont.moc"
