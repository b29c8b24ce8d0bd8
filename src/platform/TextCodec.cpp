#include "platform/TextCodec.h"

#include "platform/Platform.h"

#include <QStringDecoder>
#include <QStringEncoder>

TextCodec::TextCodec(const QByteArray& encoding)
    : m_encoding(encoding.isEmpty() ? Platform::ansiEncoding() : encoding)
{
    m_bySystem = m_encoding == Platform::ansiEncoding() && Platform::convertsCodePageItself();
}

bool TextCodec::isValid() const
{
    return m_bySystem || QStringEncoder(m_encoding.constData()).isValid();
}

QString TextCodec::decode(QByteArrayView bytes) const
{
    if (m_bySystem)
        return Platform::fromSystemCodePage(bytes);
    // A stateless decoder per call: a broken sequence at the end of one line must not swallow
    // the start of the next.
    QStringDecoder decoder(m_encoding.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

bool TextCodec::encode(QStringView text, QByteArray* out) const
{
    if (m_bySystem)
        return Platform::toSystemCodePage(text, out) && decode(*out) == text;
    QStringEncoder encoder(m_encoding.constData(), QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return false;
    *out = encoder.encode(text);
    if (encoder.hasError())
        return false;
    // Some converters put a substitute in silently; only a round trip tells. The decoder of the
    // round trip keeps a leading U+FEFF, which the encoder wrote as a character.
    QStringDecoder decoder(m_encoding.constData(),
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return QString(decoder.decode(*out)) == text;
}

QByteArray TextCodec::encode(QStringView text) const
{
    if (m_bySystem) {
        QByteArray out;
        Platform::toSystemCodePage(text, &out);
        return out;
    }
    QStringEncoder encoder(m_encoding.constData(), QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return text.toLatin1();
    return encoder.encode(text);
}
