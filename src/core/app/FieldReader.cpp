#include "core/app/FieldReader.h"

#include "platform/TextCodec.h"
#include "platform/TextFile.h"

#include <QStringList>

namespace {

bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

} // namespace

void FieldReader::skipLineEnd()
{
    if (m_pos < m_text.size() && m_text.at(m_pos) == QLatin1Char('\r'))
        ++m_pos;
    if (m_pos < m_text.size() && m_text.at(m_pos) == QLatin1Char('\n'))
        ++m_pos;
}

bool FieldReader::read(QString* field, QString* error)
{
    const qsizetype size = m_text.size();
    while (m_pos < size && m_text.at(m_pos) == QLatin1Char(' '))
        ++m_pos;

    if (m_pos < size && m_text.at(m_pos) == QLatin1Char('"')) {
        const qsizetype close = m_text.indexOf(QLatin1Char('"'), m_pos + 1);
        if (close < 0) {
            m_pos = size;
            *error = QStringLiteral("a double quote is never closed");
            return false;
        }
        *field = m_text.mid(m_pos + 1, close - m_pos - 1).toString();
        m_pos = close + 1;
        while (m_pos < size && m_text.at(m_pos) != QLatin1Char(',') && !isLineEnd(m_text.at(m_pos)))
            ++m_pos;
    } else {
        const qsizetype start = m_pos;
        while (m_pos < size && m_text.at(m_pos) != QLatin1Char(',') && !isLineEnd(m_text.at(m_pos)))
            ++m_pos;
        qsizetype end = m_pos;
        while (end > start && m_text.at(end - 1) == QLatin1Char(' '))
            --end;
        *field = m_text.mid(start, end - start).toString();
    }

    if (m_pos < size) {
        if (m_text.at(m_pos) == QLatin1Char(','))
            ++m_pos;
        else
            skipLineEnd();
    }
    return true;
}

bool readFieldsFile(const QString& path, const TextCodec& codec, QStringList* fields, QString* error)
{
    fields->clear();
    QByteArray bytes;
    switch (TextFile::readOwn(path, &bytes, error)) {
    case TextFile::ReadStatus::Missing:
        return TextFile::createEmpty(path, error);
    case TextFile::ReadStatus::Failed:
        return false;
    case TextFile::ReadStatus::Ok:
        break;
    }
    return readFields(codec.decode(bytes), fields, error);
}

bool readFields(QStringView text, QStringList* fields, QString* error)
{
    fields->clear();
    FieldReader reader(text);
    QString field;
    while (reader.hasMore()) {
        if (!reader.read(&field, error))
            return false;
        fields->append(field);
    }
    return true;
}
