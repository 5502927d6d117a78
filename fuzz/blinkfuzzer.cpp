// Fuzzes the blink composition with arbitrary text, mask and phase, and checks
// what must hold for any input: rows are never added, lost or lengthened, the
// on phase and a mask without '*' change nothing, rows past the mask are kept,
// and a row masked in full blanks to spaces only.
//
// Input: one flag byte (bit 0: blink phase on; bit 1: the rest is UTF-16 code
// units, little-endian, so that lone surrogates reach the composition; else
// UTF-8), then the text, a NUL (a zero code unit for UTF-16), then the mask.

#include "velmoscreenform.h"

#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QByteArray printable(const QString &s)
{
    return s.toUtf8().toPercentEncoding(" ");
}

void require(bool condition, const char *what, const QString &text, const QString &mask,
             const QString &result)
{
    if (condition)
        return;
    std::fprintf(stderr, "blink composition: %s\n text: %s\n mask: %s\n result: %s\n", what,
                 printable(text).constData(), printable(mask).constData(),
                 printable(result).constData());
    std::abort();
}

QString decodeUtf16(const uint8_t *data, size_t size)
{
    QString result(int(size / 2), Qt::Uninitialized);
    for (int i = 0; i < result.size(); ++i)
        result[i] = QChar(ushort(data[2 * i] | data[2 * i + 1] << 8));
    return result;
}

void splitInput(const uint8_t *data, size_t size, bool utf16, QString &text, QString &mask)
{
    const QString all = utf16 ? decodeUtf16(data, size)
                              : QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const int separator = all.indexOf(QChar(0));
    text = separator < 0 ? all : all.left(separator);
    mask = separator < 0 ? QString() : all.mid(separator + 1);
}

bool onlySpaces(const QString &row)
{
    for (const QChar c : row) {
        if (c != QLatin1Char(' '))
            return false;
    }
    return true;
}

void checkRows(const QString &text, const QString &mask, const QString &result)
{
    const QStringList textRows = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    const QStringList maskRows = mask.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    const QStringList resultRows = result.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    require(resultRows.size() == textRows.size(), "row count changed", text, mask, result);

    for (int r = 0; r < textRows.size(); ++r) {
        const QString &in = textRows.at(r);
        const QString &out = resultRows.at(r);
        require(out.size() <= in.size(), "row grew", text, mask, result);
        if (r >= maskRows.size() || !maskRows.at(r).contains(QLatin1Char('*'))) {
            require(out == in, "row without blinking mask changed", text, mask, result);
            continue;
        }
        const QString &maskRow = maskRows.at(r);
        const bool maskedInFull = maskRow.size() >= in.size()
                && maskRow.count(QLatin1Char('*')) == maskRow.size();
        if (maskedInFull) {
            require(onlySpaces(out), "fully masked row kept a character", text, mask, result);
            require(out.isEmpty() == in.isEmpty(), "fully masked row lost its clusters", text, mask, result);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool blinkOn = data[0] & 1;
    const bool utf16 = data[0] & 2;
    QString text;
    QString mask;
    splitInput(data + 1, size - 1, utf16, text, mask);

    const QString result = VelmoScreenForm::applyBlinkMask(text, mask, blinkOn);
    if (blinkOn)
        require(result == text, "on phase changed the text", text, mask, result);
    else
        checkRows(text, mask, result);
    return 0;
}
