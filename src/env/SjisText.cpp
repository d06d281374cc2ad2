#include "env/SjisText.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace velmor::sjis {
namespace {
const char* const kCodec = "Shift_JIS";
} // namespace

QString decode(const QByteArray& bytes)
{
    QStringDecoder dec(kCodec, QStringConverter::Flag::Stateless);
    return dec.decode(bytes);
}

QByteArray encode(const QString& text, bool* lossless)
{
    QStringEncoder enc(kCodec, QStringConverter::Flag::Stateless);
    QByteArray out = enc.encode(text);
    if (lossless)
        *lossless = !enc.hasError();
    return out;
}

bool readFile(const QString& path, QString& text)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return false;
    text = decode(bytes);
    return true;
}

bool writeFile(const QString& path, const QString& text)
{
    bool lossless = true;
    const QByteArray bytes = encode(text, &lossless);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (f.write(bytes) != bytes.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit() && lossless;
}

} // namespace velmor::sjis
