#include "screenshot.h"

#include <QFile>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QLabel>
#include <QRawFont>
#include <QTextLayout>
#include <QVector>
#include <QtTest>

using namespace ScreenTest;

namespace {

const char screenLabel[] = "autopilotScr";
const int columns = 20;
const int rows = 8;
const QString referenceRow = QStringLiteral("0123456789ABCDEFGHIJ");

// The printable characters of the list the screen fonts are made to cover.
QVector<uint> listedCharacters()
{
    QFile file(QStringLiteral(VELMO_FONT_COVERAGE));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        qFatal("cannot read %s", VELMO_FONT_COVERAGE);
    QVector<uint> characters;
    while (!file.atEnd()) {
        const QString range = QString::fromUtf8(file.readLine()).section(QLatin1Char('#'), 0, 0).trimmed();
        if (range.isEmpty())
            continue;
        const uint first = range.section(QLatin1Char('-'), 0, 0).toUInt(nullptr, 16);
        const QString last = range.section(QLatin1Char('-'), 1, 1);
        for (uint c = first; c <= (last.isEmpty() ? first : last.toUInt(nullptr, 16)); ++c) {
            const QChar::Category category = QChar::category(c);
            if (category != QChar::Other_Control && category != QChar::Other_NotAssigned)
                characters.append(c);
        }
    }
    return characters;
}

// Font units as pixels: advances come out in units.
QRawFont embeddedFont(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return QRawFont(file.readAll(), 1000, QFont::PreferNoHinting);
}

QString text(uint c, int count = 1)
{
    const char32_t codePoint = c;
    return QString::fromUcs4(&codePoint, 1).repeated(count);
}

QString hex(uint c)
{
    return QStringLiteral("U+") + QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

// Lit by a glyph: brighter than halfway to white. Where two glyphs meet
// between pixels, each lights its part, so a join is not full white.
bool isInk(QRgb pixel)
{
    return qGray(pixel) > 128;
}

// Where the label's rows and cells fall in a grab of the form.
class ScreenGrid
{
public:
    ScreenGrid(const Shot &shot, const QLabel &label)
        : shot(shot), origin(shot.rectOf(screenLabel).topLeft()), metrics(label.font())
    {
    }

    QRect rowBand(int row) const
    {
        return QRect(origin.x(), origin.y() + qRound(row * metrics.lineSpacing()),
                     qCeil(columns * cellWidth()), qRound(metrics.lineSpacing()));
    }

    qreal cellWidth() const { return metrics.horizontalAdvance(QLatin1Char('M')); }

    // The cell that holds pixel column x, counted from 0.
    int cellAt(int x) const { return qFloor((x - origin.x()) / cellWidth()); }

    // The first and last pixel columns with ink in a band, or an empty pair.
    QPair<int, int> inkColumns(const QRect &band) const
    {
        int left = -1;
        int right = -1;
        // On to the label's edge, to see a row overrun its 20 cells.
        const int end = shot.rectOf(screenLabel).right();
        for (int x = band.left(); x <= end; ++x) {
            for (int y = band.top(); y <= band.bottom(); ++y) {
                if (isInk(shot.image.pixel(x, y))) {
                    if (left < 0)
                        left = x;
                    right = x;
                    break;
                }
            }
        }
        return { left, right };
    }

    // The run of ink through (x, y) along a column, as top and bottom.
    QPair<int, int> verticalRun(int x, int y) const
    {
        int top = y;
        int bottom = y;
        while (top > 0 && isInk(shot.image.pixel(x, top - 1)))
            --top;
        while (bottom + 1 < shot.image.height() && isInk(shot.image.pixel(x, bottom + 1)))
            ++bottom;
        return { top, bottom };
    }

    bool inkAlong(int x0, int y0, int x1, int y1) const
    {
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                if (!isInk(shot.image.pixel(x, y)))
                    return false;
            }
        }
        return true;
    }

    const Shot &shot;
    const QPoint origin;
    const QFontMetricsF metrics;
};

} // namespace

class TestFontCoverage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void everyListedCharacterHasACell();
    void drawnOnlyFromEmbeddedFonts();
    void addedCharacterRowsStayInTheirCells_data();
    void addedCharacterRowsStayInTheirCells();
    void heavyFrameCloses();

private:
    QString screen(const QString &evenRow) const;
    QImage rowImage(const Shot &shot, const QLabel &label, int row) const;

    QVector<uint> listed;
    QRawFont screenFont;
    QRawFont supplement;
    VelmoScreenForm *form = nullptr;
};

void TestFontCoverage::initTestCase()
{
    QVERIFY(ScreenFonts::install() >= 0);
    listed = listedCharacters();
    QVERIFY(listed.size() > 1000);
    screenFont = embeddedFont(QStringLiteral(":/VelmoScreenFont.ttf"));
    supplement = embeddedFont(QStringLiteral(":/VelmoScreenSupplement.ttf"));
    QVERIFY(screenFont.isValid());
    QVERIFY(supplement.isValid());
    QVERIFY(!supplement.familyName().contains(QLatin1String("Ubuntu")));
}

void TestFontCoverage::init()
{
    form = new VelmoScreenForm;
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
}

void TestFontCoverage::cleanup()
{
    delete form;
    form = nullptr;
}

// Each listed character has a glyph of the fixed advance in one of the two
// embedded files, and no more than the screen font's height.
void TestFontCoverage::everyListedCharacterHasACell()
{
    QCOMPARE(supplement.unitsPerEm(), 1000.0);
    QCOMPARE(supplement.ascent(), screenFont.ascent());
    QCOMPARE(supplement.descent(), screenFont.descent());
    QCOMPARE(supplement.leading(), screenFont.leading());
    QCOMPARE(supplement.weight(), int(QFont::Bold));

    QStringList missing;
    int inScreenFont = 0;
    for (const uint c : qAsConst(listed)) {
        const QRawFont &font = screenFont.supportsCharacter(c) ? screenFont : supplement;
        inScreenFont += &font == &screenFont;
        const QVector<quint32> glyphs = font.glyphIndexesForString(text(c));
        if (glyphs.size() != 1 || glyphs.first() == 0 || font.advancesForGlyphIndexes(glyphs).first().x() != 500)
            missing << hex(c);
        // Nothing of an added glyph may reach out of the line.
        else if (&font == &supplement && !QRectF(0, -830, 500, 1000).contains(font.boundingRect(glyphs.first())))
            missing << hex(c) + QLatin1String(" (too tall)");
    }
    qInfo("%d listed characters: %d in the screen font, %d more in the supplement", int(listed.size()),
          inScreenFont, int(listed.size()) - inScreenFont - int(missing.size()));
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(' '))));
}

// Laid out in the labels' font, every listed character takes its glyph from
// the embedded file that holds it, never from a font of the computer's.
void TestFontCoverage::drawnOnlyFromEmbeddedFonts()
{
    const QFont font = child<QLabel>(*form, screenLabel)->font();
    const QByteArray screenNames = screenFont.fontTable("name");
    const QByteArray supplementNames = supplement.fontTable("name");
    QStringList elsewhere;
    for (const uint c : qAsConst(listed)) {
        QTextLayout layout(text(c), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QByteArray expected = screenFont.supportsCharacter(c) ? screenNames : supplementNames;
        for (const QGlyphRun &run : layout.glyphRuns()) {
            if (run.glyphIndexes().contains(0))
                elsewhere << hex(c) + QLatin1String(":no glyph");
            else if (run.rawFont().fontTable("name") != expected)
                elsewhere << hex(c) + QLatin1Char(':') + run.rawFont().familyName();
        }
    }
    qInfo("%d of %d listed characters drawn from the embedded fonts", int(listed.size() - elsewhere.size()),
          int(listed.size()));
    QVERIFY2(elsewhere.isEmpty(), qPrintable(elsewhere.join(QLatin1Char(' '))));
}

void TestFontCoverage::addedCharacterRowsStayInTheirCells_data()
{
    QTest::addColumn<uint>("character");
    for (const uint c : qAsConst(listed)) {
        if (!screenFont.supportsCharacter(c))
            QTest::newRow(qPrintable(hex(c))) << c;
    }
}

// Rows 0, 2, 4 and 6 hold 20 of one added character; the reference rows
// between them must stand where they stand when every row is plain ASCII,
// down to the bottom one.
void TestFontCoverage::addedCharacterRowsStayInTheirCells()
{
    QFETCH(uint, character);
    const QLabel &label = *child<QLabel>(*form, screenLabel);

    form->setAutopilotScreen(screen(QString(columns, QLatin1Char('M'))), QString());
    const Shot ascii(*form);
    form->setAutopilotScreen(screen(text(character, columns)), QString());
    const Shot added(*form);
    QCOMPARE(added.rectOf(screenLabel), ascii.rectOf(screenLabel));

    const ScreenGrid grid(added, label);
    for (int row = 0; row < rows; row += 2) {
        const QPair<int, int> ink = grid.inkColumns(grid.rowBand(row));
        QVERIFY2(ink.first >= 0, qPrintable(QStringLiteral("row %1 is blank").arg(row)));
        QCOMPARE(grid.cellAt(ink.first), 0);
        QCOMPARE(grid.cellAt(ink.second), columns - 1);
    }
    for (int row = 1; row < rows; row += 2)
        QVERIFY2(rowImage(added, label, row) == rowImage(ascii, label, row), qPrintable(QStringLiteral("row %1 moved").arg(row)));
    const QRect bottomRow = ScreenGrid(ascii, label).rowBand(rows - 1);
    QVERIFY(ascii.rectOf(screenLabel).contains(bottomRow));
    QVERIFY(ScreenGrid(ascii, label).inkColumns(bottomRow).first >= 0);
}

// A heavy frame closed in two rows, and one with light sides between heavy
// corners: the lines run on across the cells and rows without a gap.
void TestFontCoverage::heavyFrameCloses()
{
    const QString heavy = QString(columns - 2, QChar(0x2501));
    const QString space = QString(columns - 2, QLatin1Char(' '));
    const QStringList frames{
        QChar(0x250F) + heavy + QChar(0x2513), QChar(0x2517) + heavy + QChar(0x251B),
        QChar(0x250D) + heavy + QChar(0x2511), QChar(0x2502) + space + QChar(0x2502),
        QChar(0x2502) + space + QChar(0x2502), QChar(0x2515) + heavy + QChar(0x2519),
        referenceRow, referenceRow,
    };
    form->setAutopilotScreen(frames.join(QLatin1Char('\n')), QString());
    const Shot shot(*form);
    const ScreenGrid grid(shot, *child<QLabel>(*form, screenLabel));

    const auto checkFrame = [&](int topRow, int bottomRow) {
        const QPair<int, int> ink = grid.inkColumns(grid.rowBand(topRow));
        QCOMPARE(grid.cellAt(ink.first), 0);
        QCOMPARE(grid.cellAt(ink.second), columns - 1);
        const int middle = grid.rowBand(topRow).left() + qRound(grid.cellWidth() * columns / 2);
        const QPair<int, int> top = grid.verticalRun(middle, grid.rowBand(topRow).center().y());
        // Heavy lines are 160 units thick, light ones 80, of a 1000-unit line.
        QVERIFY2(top.second - top.first + 1 >= 0.12 * grid.metrics.height(), "the top line is not heavy");
        const QPair<int, int> bottom = grid.verticalRun(middle, grid.rowBand(bottomRow).center().y());
        QCOMPARE(bottom.second - bottom.first, top.second - top.first);
        const int topY = (top.first + top.second) / 2;
        const int bottomY = (bottom.first + bottom.second) / 2;
        const int stemLeft = ink.first + 1;
        const int stemRight = ink.second - 1;
        QVERIFY2(grid.inkAlong(stemLeft, topY, stemRight, topY), "gap in the top line");
        QVERIFY2(grid.inkAlong(stemLeft, bottomY, stemRight, bottomY), "gap in the bottom line");
        QVERIFY2(grid.inkAlong(stemLeft, topY, stemLeft, bottomY), "gap in the left side");
        QVERIFY2(grid.inkAlong(stemRight, topY, stemRight, bottomY), "gap in the right side");
    };
    checkFrame(0, 1);
    checkFrame(2, 5);
}

QString TestFontCoverage::screen(const QString &evenRow) const
{
    QStringList lines;
    for (int row = 0; row < rows; ++row)
        lines << (row % 2 ? referenceRow : evenRow);
    return lines.join(QLatin1Char('\n'));
}

// A reference row less its first and last pixel lines, where the glyphs of
// the rows around it may reach with their anti-aliased edges.
QImage TestFontCoverage::rowImage(const Shot &shot, const QLabel &label, int row) const
{
    return shot.image.copy(ScreenGrid(shot, label).rowBand(row).adjusted(0, 1, 0, -1));
}

QTEST_MAIN(TestFontCoverage)
#include "tst_fontcoverage.moc"
