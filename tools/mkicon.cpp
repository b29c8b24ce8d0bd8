// Draws the program's icon and writes it as PNG files and as one Windows .ico that holds the
// eleven images the executable carries. Run by hand when the artwork changes:
//   g++ -std=c++17 -fPIC tools/mkicon.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/mkicon
//   QT_QPA_PLATFORM=offscreen /tmp/mkicon src/app/icons
#include <QDataStream>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <vector>

static QImage draw(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    // A blue card (the hosts file) with three lines, one struck as disabled, and a green pulse.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x5a, 0xa8));
    p.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(13, 14, 38, 6), 3, 3);
    p.drawRoundedRect(QRectF(13, 26, 30, 6), 3, 3);
    p.setBrush(QColor(0xa8, 0xc4, 0xe8));
    p.drawRoundedRect(QRectF(13, 38, 22, 6), 3, 3);
    QPen pulse(QColor(0x3c, 0xd0, 0x70), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pulse);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(36, 50);
    path.lineTo(42, 50);
    path.lineTo(46, 40);
    path.lineTo(50, 54);
    path.lineTo(53, 50);
    path.lineTo(57, 50);
    p.drawPath(path);
    return image;
}

// One image of the .ico: a BITMAPINFOHEADER, the colours bottom-up, then the 1-bit AND mask.
static QByteArray dib(const QImage& argb, int bits)
{
    const int w = argb.width(), h = argb.height();
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s << quint32(40) << qint32(w) << qint32(2 * h) << quint16(1) << quint16(bits) << quint32(0) << quint32(0)
      << qint32(0) << qint32(0) << quint32(bits == 8 ? 256 : 0) << quint32(0);
    if (bits == 32) {
        for (int y = h - 1; y >= 0; --y)
            for (int x = 0; x < w; ++x) {
                const QRgb c = argb.pixel(x, y);
                s << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(qAlpha(c));
            }
    } else {
        const QImage indexed = argb.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdAlphaDither);
        QList<QRgb> table = indexed.colorTable();
        table.resize(256);
        for (QRgb c : table)
            s << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
        const int stride = (w + 3) & ~3;
        for (int y = h - 1; y >= 0; --y) {
            for (int x = 0; x < w; ++x)
                s << quint8(indexed.pixelIndex(x, y));
            for (int x = w; x < stride; ++x)
                s << quint8(0);
        }
    }
    const int maskStride = ((w + 31) / 32) * 4;
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < w; ++x)
            if (qAlpha(argb.pixel(x, y)) < 128)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        s.writeRawData(row.constData(), row.size());
    }
    return out;
}

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    for (int size : {16, 24, 32, 48, 72, 96, 128, 256})
        draw(size).save(QStringLiteral("%1/tarvix-%2.png").arg(dir).arg(size));

    const std::vector<std::pair<int, int>> images = {{32, 8},  {24, 8},  {16, 8},  {255, 32}, {128, 32}, {96, 32},
                                                     {72, 32}, {48, 32}, {32, 32}, {24, 32},  {16, 32}};
    std::vector<QByteArray> data;
    for (const auto& [size, bits] : images)
        data.push_back(dib(draw(size), bits));
    QFile file(dir + QStringLiteral("/tarvix.ico"));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    QDataStream s(&file);
    s.setByteOrder(QDataStream::LittleEndian);
    s << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = 6 + 16 * images.size();
    for (size_t i = 0; i < images.size(); ++i) {
        const int size = images[i].first;
        s << quint8(size) << quint8(size) << quint8(0) << quint8(0) << quint16(1) << quint16(images[i].second)
          << quint32(data[i].size()) << offset;
        offset += data[i].size();
    }
    for (const QByteArray& d : data)
        s.writeRawData(d.constData(), d.size());
    return 0;
}
