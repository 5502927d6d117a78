#include "velmoscreenform.h"
#include "ui_velmoscreenform.h"

#include <QKeyEvent>
#include <QLabel>
#include <QStringView>
#include <QTextBoundaryFinder>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int blinkIntervalMs = 500;
constexpr int screenColumns = 20;
constexpr int autopilotRows = 8;
constexpr int msgRows = 4;

const char alarmStyleSheet[] = "color: rgb(240,0,0);";

struct KeypadKey
{
    int code;
    const char *name;
};

// Several keyboard keys share one unit key; modifiers do not matter (the
// keypad flag of a comma aside, see keyName), so the letter keys work the
// same with Caps Lock or Shift. They work under the Russian layout too,
// where the toolkit, having no key codes of its own for Cyrillic letters,
// reports the code point of the capital letter typed.
constexpr KeypadKey keypadKeys[] = {
    { Qt::Key_0, "0" },
    { Qt::Key_1, "1" },
    { Qt::Key_2, "2" },
    { Qt::Key_3, "3" },
    { Qt::Key_4, "4" },
    { Qt::Key_5, "5" },
    { Qt::Key_6, "6" },
    { Qt::Key_7, "7" },
    { Qt::Key_8, "8" },
    { Qt::Key_9, "9" },
    { Qt::Key_Right, "RIGHT" },
    { Qt::Key_Left, "LEFT" },
    { Qt::Key_Up, "UP" },
    { Qt::Key_Down, "DOWN" },
    { Qt::Key_Space, "PUSK" },
    { Qt::Key_Plus, "F" },
    { Qt::Key_Escape, "F" },
    { Qt::Key_Return, "M" },
    { Qt::Key_Enter, "M" },
    { Qt::Key_Period, "#" },
    { Qt::Key_D, "#" },
    { 0x0412, "#" }, // В, on the D key
    { Qt::Key_Delete, "#" },
    { Qt::Key_Asterisk, "*" },
    { Qt::Key_F, "*" },
    { 0x0410, "*" }, // А, on the F key
    { Qt::Key_S, "8x20" },
    { 0x042B, "8x20" }, // Ы, on the S key
};

const char *keypadKeyName(int code)
{
    for (const KeypadKey &key : keypadKeys) {
        if (key.code == code)
            return key.name;
    }
    return nullptr;
}

// The numeric keypad's decimal key sends "#" whatever the layout. Layouts
// with a decimal comma (Russian, German) report it as a comma, which only the
// keypad flag tells apart from the main keyboard's comma, and that one stays
// unmapped.
const char *keyName(const QKeyEvent &event)
{
    if (event.key() == Qt::Key_Comma && event.modifiers().testFlag(Qt::KeypadModifier))
        return "#";
    return keypadKeyName(event.key());
}

QString placeholderText(int rows)
{
    return (QString(screenColumns, QLatin1Char('?')) + QLatin1Char('\n')).repeated(rows).chopped(1);
}

bool isBlinking(QStringView maskRow, qsizetype cluster)
{
    return cluster < maskRow.size() && maskRow.at(cluster) == QLatin1Char('*');
}

// Characters that always form a grapheme cluster of their own, whatever
// stands beside them: ASCII and Latin without combining marks, Cyrillic
// without its combining signs, box drawing, blocks and geometric shapes. A
// row made of nothing else, the usual screen, needs no boundary search.
bool isClusterByItself(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x0300 || (u >= 0x0400 && u < 0x0483) || (u >= 0x048A && u < 0x0530)
        || (u >= 0x2500 && u < 0x2600);
}

// The mask counts grapheme clusters, not code units, so an accented letter or
// a surrogate pair blanks to exactly one space and the columns stay in place.
void appendBlankedRow(QString &result, QStringView row, QStringView maskRow)
{
    if (std::all_of(row.cbegin(), row.cend(), isClusterByItself)) {
        const qsizetype rowStart = result.size();
        result += row;
        QChar *const written = result.data() + rowStart;
        const qsizetype masked = qMin(row.size(), maskRow.size());
        for (qsizetype i = 0; i < masked; ++i) {
            if (isBlinking(maskRow, i))
                written[i] = QLatin1Char(' ');
        }
        return;
    }

    const QString text = row.toString();
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype cluster = 0; start < text.size(); ++cluster) {
        const qsizetype end = clusters.toNextBoundary();
        if (isBlinking(maskRow, cluster))
            result += QLatin1Char(' ');
        else
            result += QStringView(text).mid(start, end - start);
        start = end;
    }
}

// The row of text that starts at from, up to the next line feed or the end;
// moves from past that line feed. A text of n line feeds has n + 1 rows, empty
// ones included, and from passes text.size() after the last.
QStringView takeRow(QStringView text, qsizetype &from)
{
    qsizetype end = text.indexOf(QLatin1Char('\n'), from);
    if (end < 0)
        end = text.size();
    const QStringView row = text.mid(from, end - from);
    from = end + 1;
    return row;
}

// Pins a widget to the size its layout gives it now.
void keepSize(QWidget *widget)
{
    widget->setFixedSize(widget->sizeHint());
}

} // namespace

VelmoScreenForm::VelmoScreenForm(QWidget *parent)
    : QWidget(parent),
      ui(new Ui::VelmoScreenForm),
      autopilotText(placeholderText(autopilotRows)),
      msgText(placeholderText(msgRows)),
      blinkOn(true)
{
    ui->setupUi(this);
    // The screens keep the size of their placeholders whatever the unit
    // sends: text beyond 20 columns or below the last row is cut at the
    // label's edge instead of growing the window. The fixed sizes also tell
    // the layouts that neither a new text nor showing the message screen can
    // change the geometry, so nothing is laid out again for a screen.
    keepSize(ui->autopilotScr);
    keepSize(ui->msgScr);
    keepSize(ui->msgStackedWidget);

    blinkTimer = new QTimer(this);
    connect(blinkTimer, &QTimer::timeout, this, &VelmoScreenForm::blinkTimerTimeout);
    blinkTimer->start(blinkIntervalMs);
}

VelmoScreenForm::~VelmoScreenForm()
{
    delete ui;
}

QString VelmoScreenForm::applyBlinkMask(const QString &screen, const QString &mask, bool blinkOn)
{
    if (blinkOn || !mask.contains(QLatin1Char('*')))
        return screen;

    // This runs for every screen from the unit and at every blink tick, so
    // rows are taken as views and written into one string.
    qsizetype rowFrom = 0;
    qsizetype maskFrom = 0;
    QString result;
    result.reserve(screen.size());
    while (rowFrom <= screen.size()) {
        if (rowFrom > 0)
            result += QLatin1Char('\n');
        const QStringView row = takeRow(screen, rowFrom);
        if (maskFrom <= mask.size())
            appendBlankedRow(result, row, takeRow(mask, maskFrom));
        else
            result += row;
    }
    return result;
}

void VelmoScreenForm::setAutopilotScreen(QString screen, QString mask)
{
    autopilotText = screen;
    autopilotMask = mask;
    updateAutopilotScreen();
}

void VelmoScreenForm::setMsgScreen(bool visible, QString screen, QString mask, bool isAlarm)
{
    if (!visible) {
        ui->msgStackedWidget->setCurrentIndex(0);
        return;
    }
    ui->msgStackedWidget->setCurrentIndex(1);
    msgText = screen;
    msgMask = mask;
    updateMsgScreen();
    // Setting a style sheet re-polishes the label even when the sheet is the
    // same, which costs more than the rest of an update; the unit repeats the
    // alarm flag with every screen, so only a change is applied.
    const QString styleSheet = isAlarm ? QString::fromLatin1(alarmStyleSheet) : QString();
    if (ui->msgScr->styleSheet() != styleSheet)
        ui->msgScr->setStyleSheet(styleSheet);
}

void VelmoScreenForm::blinkTimerTimeout()
{
    blinkOn = !blinkOn;
    updateAutopilotScreen();
    updateMsgScreen();
}

void VelmoScreenForm::keyPressEvent(QKeyEvent *event)
{
    if (const char *name = keyName(*event))
        emit keyboardKeyPress(QString::fromLatin1(name));
    else
        QWidget::keyPressEvent(event);
}

void VelmoScreenForm::updateAutopilotScreen()
{
    ui->autopilotScr->setText(applyBlinkMask(autopilotText, autopilotMask, blinkOn));
}

void VelmoScreenForm::updateMsgScreen()
{
    ui->msgScr->setText(applyBlinkMask(msgText, msgMask, blinkOn));
}
