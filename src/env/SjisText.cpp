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
    if (!enc.hasError())
        return out;
    // The converter's own substitute is not a readable character; redo the
    // text one code point at a time and put "?" for what has no Shift-JIS form.
    out.clear();
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QStringEncoder one(kCodec, QStringConverter::Flag::Stateless);
        const QByteArray bytes = one.encode(QStringView(text).mid(i, n));
        out += one.hasError() ? QByteArray("?") : bytes;
        i += n;
    }
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
