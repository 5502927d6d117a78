#include "floodsender.h"

#include "clientsession.h"

#include <QStringList>
#include <QTcpSocket>

namespace {

constexpr int columns = 20;
constexpr int autopilotRows = 8;
constexpr int msgRows = 4;

// Mixed scripts and box drawing, so that a flood exercises multi-byte UTF-8.
const QString alphabet = QStringLiteral("АБВГДЕЖЗИКЛМНОПРСТУФ0123456789ABCXYZ═║╔╗─│█ ");

QString patternRow(int index, int row)
{
    QString text;
    for (int column = 0; column < columns; ++column)
        text += alphabet.at((index + row * 7 + column * 3) % alphabet.size());
    return text;
}

QString patternMaskRow(int index, int row)
{
    QString mask;
    for (int column = 0; column < columns; ++column)
        mask += (index + row + column) % 5 == 0 ? QLatin1Char('*') : QLatin1Char(' ');
    return mask;
}

void fillPattern(int index, int firstRow, int rows, QString *text, QString *mask)
{
    QStringList textRows;
    QStringList maskRows;
    for (int row = firstRow; row < rows; ++row) {
        textRows << patternRow(index, row);
        maskRows << patternMaskRow(index, row);
    }
    *text += textRows.join('\n');
    *mask += maskRows.join('\n');
}

} // namespace

FloodSender::FloodSender(ClientSession *session, int count, QObject *parent)
    : QObject(parent)
    , session(session)
    , count(count)
{
    connect(session->socket(), &QIODevice::bytesWritten, this, &FloodSender::writeMore);
}

void FloodSender::start()
{
    writeMore();
}

UnitScreens FloodSender::floodScreen(int index)
{
    UnitScreens screens;
    screens.autopilotText = QStringLiteral("FLOOD %1\n").arg(index, columns - 6, 10, QLatin1Char('0'));
    screens.autopilotMask = QString(columns, QLatin1Char(' ')) + '\n';
    fillPattern(index, 1, autopilotRows, &screens.autopilotText, &screens.autopilotMask);
    screens.msgVisible = index % 3 != 0;
    screens.msgIsAlarm = index % 7 == 0;
    fillPattern(index, 0, msgRows, &screens.msgText, &screens.msgMask);
    return screens;
}

UnitScreens FloodSender::doneScreen(int count)
{
    QStringList rows{ QStringLiteral("FLOOD DONE %1").arg(count).leftJustified(columns) };
    while (rows.size() < autopilotRows)
        rows << QString(columns, QLatin1Char('='));
    UnitScreens screens;
    screens.autopilotText = rows.join('\n');
    return screens;
}

void FloodSender::writeMore()
{
    while (next <= count + 1 && session->isKeepingUp()) {
        const UnitScreens screens = next <= count ? floodScreen(next) : doneScreen(count);
        session->send(screens.toUiLine());
        ++next;
    }
    if (!done && next > count + 1 && session->socket()->bytesToWrite() == 0) {
        done = true;
        emit finished();
    }
}
