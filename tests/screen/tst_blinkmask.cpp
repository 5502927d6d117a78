#include "velmoscreenform.h"

#include <QTextBoundaryFinder>
#include <QtTest>

class TestBlinkMask : public QObject
{
    Q_OBJECT

private slots:
    void compose_data();
    void compose();
    void everyCharacterBlanksByCluster_data();
    void everyCharacterBlanksByCluster();
};

void TestBlinkMask::compose_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("offPhase");

    const QString eAcute = QStringLiteral("e\u0301");
    const QString clef = QString::fromUcs4(U"\U0001D11E");
    const QString longRow = QString(30, QLatin1Char('x'));

    QTest::newRow("empty mask") << "AB\nCD" << "" << "AB\nCD";
    QTest::newRow("empty text") << "" << "*" << "";
    QTest::newRow("empty row under star") << "AB\n\nCD" << "\n**\n*" << "AB\n\n D";
    QTest::newRow("one star of two letters") << "AB" << "*" << " B";
    QTest::newRow("short mask row") << "ABCD" << "**" << "  CD";
    QTest::newRow("mask longer than row") << "AB" << "*****" << "  ";
    QTest::newRow("fewer mask rows") << "AB\nCD\nEF" << "*" << " B\nCD\nEF";
    QTest::newRow("more mask rows") << "AB" << "*\n**\n**" << " B";
    QTest::newRow("other mask characters") << "ABCDEF" << " 1x#+." << "ABCDEF";
    QTest::newRow("star among others") << "ABCD" << "a*b*" << "A C ";
    QTest::newRow("combining mark is one cluster") << eAcute + "x" << "* " << " x";
    QTest::newRow("cluster after combining mark") << eAcute + "x" << " *" << eAcute + " ";
    QTest::newRow("surrogate pair is one cluster") << clef + "y" << "*" << " y";
    QTest::newRow("mask index counts clusters") << clef + "yz" << " *" << clef + " z";
    QTest::newRow("cyrillic and box drawing") << QStringLiteral("Курс═") << "*   *"
                                              << QStringLiteral(" урс ");
    QTest::newRow("row longer than 20 kept whole") << longRow << "*" << " " + longRow.mid(1);
    QTest::newRow("trailing newline") << "AB\n" << "*\n*" << " B\n";
    QTest::newRow("control characters are clusters") << "A\rB" << "***" << "   ";

    QStringList nineRows;
    for (int row = 0; row < 9; ++row)
        nineRows << QString(20, QLatin1Char('0' + row));
    QString nineOff = nineRows.join(QLatin1Char('\n'));
    nineOff[8 * 21] = QLatin1Char(' ');
    QTest::newRow("more than 8 rows kept whole")
        << nineRows.join(QLatin1Char('\n')) << "\n\n\n\n\n\n\n\n*" << nineOff;
}

void TestBlinkMask::compose()
{
    QFETCH(QString, screen);
    QFETCH(QString, mask);
    QFETCH(QString, offPhase);

    QCOMPARE(VelmoScreenForm::applyBlinkMask(screen, mask, true), screen);
    QCOMPARE(VelmoScreenForm::applyBlinkMask(screen, mask, false), offPhase);
}

// The off phase of one row, cluster by cluster, the slow and sure way.
static QString blankedByClusterWalk(const QString &row, const QString &maskRow)
{
    QString result;
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, row);
    int start = 0;
    for (int cluster = 0; start < row.size(); ++cluster) {
        const int end = clusters.toNextBoundary();
        const bool blinks = cluster < maskRow.size() && maskRow.at(cluster) == QLatin1Char('*');
        result += blinks ? QStringLiteral(" ") : row.mid(start, end - start);
        start = end;
    }
    return result;
}

void TestBlinkMask::everyCharacterBlanksByCluster_data()
{
    QTest::addColumn<QString>("mask");
    QTest::newRow("first") << "*";
    QTest::newRow("second") << " *";
    QTest::newRow("third") << "  *";
    QTest::newRow("fourth") << "   *";
}

// Plain rows take a shortcut past the cluster search; whatever a row holds,
// the result must be the one that the clusters give.
void TestBlinkMask::everyCharacterBlanksByCluster()
{
    QFETCH(QString, mask);
    for (uint code = 0; code <= 0xFFFF; ++code) {
        const QChar c(code);
        if (c.isSurrogate() || c == QLatin1Char('\n'))
            continue;
        for (const QString &row : { QStringLiteral("A") + c + c + QStringLiteral("B"), c + QStringLiteral("AB") }) {
            const QString expected = blankedByClusterWalk(row, mask);
            if (VelmoScreenForm::applyBlinkMask(row, mask, false) != expected)
                QFAIL(qPrintable(QStringLiteral("U+%1 in \"%2\"").arg(code, 4, 16, QLatin1Char('0')).arg(row)));
        }
    }
}

QTEST_APPLESS_MAIN(TestBlinkMask)
#include "tst_blinkmask.moc"
