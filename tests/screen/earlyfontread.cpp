#include <QByteArray>
#include <QFile>

// Lives in a static library so that the linker places it after the resource
// bundle's objects, and its initialiser therefore runs after the bundle's.
namespace {

struct EarlyFontRead
{
    EarlyFontRead()
    {
        QFile font(QStringLiteral(":/VelmoScreenFont.ttf"));
        if (font.open(QIODevice::ReadOnly))
            bytes = font.readAll();
    }
    QByteArray bytes;
} earlyFontRead;

} // namespace

const QByteArray &fontBytesReadBeforeMain()
{
    return earlyFontRead.bytes;
}
