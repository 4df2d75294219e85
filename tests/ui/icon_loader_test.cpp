#include "icon_loader.hpp"
#include "temp_dir.hpp"

#include <QBuffer>
#include <QImage>
#include <QTest>
#include <cstdint>
#include <string>

using namespace quendelin;
using quendelin::testing::TempDir;

namespace {

std::string pngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::uint32_t crc32(const std::string& bytes, std::size_t from, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < from + count; ++i) {
        crc ^= static_cast<unsigned char>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBigEndian(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

// The signature is 8 bytes; IHDR follows: length (4), type (4), data (13), CRC (4).
constexpr std::size_t ihdrType = 12, ihdrData = 16, ihdrCrc = 29, firstChunkAfterIhdr = 33;

std::string withSize(std::string png, std::uint32_t width, std::uint32_t height) {
    putBigEndian(png, ihdrData, width);
    putBigEndian(png, ihdrData + 4, height);
    putBigEndian(png, ihdrCrc, crc32(png, ihdrType, 4 + 13));
    return png;
}

// Noise compresses badly, so the picture data is long enough to be cut or spoilt inside.
QImage noise(int side) {
    QImage image(side, side, QImage::Format_ARGB32);
    std::uint32_t state = 12345;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            state = state * 1664525u + 1013904223u;
            image.setPixel(x, y, state);
        }
    }
    return image;
}

std::size_t idatDataStart(const std::string& png) {
    return png.find("IDAT") + 4;
}

} // namespace

class IconLoaderTest : public QObject {
    Q_OBJECT

private slots:
    void decodesEveryPixelFormatWithAlpha_data() {
        QTest::addColumn<QImage>("source");

        QImage rgba(3, 2, QImage::Format_ARGB32);
        rgba.setPixel(0, 0, qRgba(255, 0, 0, 255));
        rgba.setPixel(1, 0, qRgba(0, 255, 0, 128));
        rgba.setPixel(2, 0, qRgba(0, 0, 255, 0));
        rgba.setPixel(0, 1, qRgba(10, 20, 30, 40));
        rgba.setPixel(1, 1, qRgba(255, 255, 255, 255));
        rgba.setPixel(2, 1, qRgba(0, 0, 0, 1));
        QTest::newRow("8-bit RGBA, straight alpha") << rgba;

        QImage rgb(2, 2, QImage::Format_RGB32);
        rgb.fill(QColor(12, 34, 56));
        rgb.setPixel(1, 1, qRgb(200, 100, 50));
        QTest::newRow("RGB without alpha is opaque") << rgb;

        QImage palette(2, 1, QImage::Format_Indexed8);
        palette.setColorTable({qRgba(255, 128, 0, 255), qRgba(0, 128, 255, 64)});
        palette.setPixel(0, 0, 0);
        palette.setPixel(1, 0, 1);
        QTest::newRow("palette with transparency") << palette;

        QImage grey(2, 1, QImage::Format_Grayscale8);
        grey.setPixel(0, 0, 0);
        grey.setPixel(1, 0, qRgb(77, 77, 77));
        QTest::newRow("grey") << grey;

        QImage deep(2, 1, QImage::Format_RGBA64);
        deep.setPixelColor(0, 0, QColor(128, 64, 200, 255));
        deep.setPixelColor(1, 0, QColor(0, 0, 255, 51));
        QTest::newRow("16 bits per channel") << deep;
    }
    void decodesEveryPixelFormatWithAlpha() {
        QFETCH(QImage, source);
        TempDir dir;
        testing::writeBytes(dir / "icon.png", pngBytes(source));

        const QImage image = IconLoader::load(dir / "icon.png");

        QCOMPARE(image.size(), source.size());
        QVERIFY(image.hasAlphaChannel());
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x)
                QCOMPARE(image.pixel(x, y), source.pixel(x, y));
        }
    }

    // A damaged file must neither crash the program nor put half a picture on a button.
    void brokenFilesGiveNoImage_data() {
        QTest::addColumn<QByteArray>("bytes");

        const std::string good = pngBytes(noise(64));
        QVERIFY(good.size() > 1000);
        const std::size_t idat = idatDataStart(good);

        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("not a PNG") << QByteArray("GIF89a this is something else entirely");
        QTest::newRow("signature only") << QByteArray::fromStdString(good.substr(0, 8));
        QTest::newRow("cut inside the header") << QByteArray::fromStdString(good.substr(0, 20));
        QTest::newRow("header without picture data")
            << QByteArray::fromStdString(good.substr(0, firstChunkAfterIhdr));
        QTest::newRow("cut inside the picture data")
            << QByteArray::fromStdString(good.substr(0, idat + 200));

        std::string badCrc = good;
        badCrc[ihdrData + 10] ^= 0x01;
        QTest::newRow("header checksum wrong") << QByteArray::fromStdString(badCrc);

        std::string spoilt = good;
        for (std::size_t i = idat + 100; i < idat + 140; ++i)
            spoilt[i] = static_cast<char>(~spoilt[i]);
        QTest::newRow("picture data spoilt") << QByteArray::fromStdString(spoilt);

        QTest::newRow("claims a giant picture")
            << QByteArray::fromStdString(withSize(good, 1'000'000, 1'000'000));
        QTest::newRow("claims zero width") << QByteArray::fromStdString(withSize(good, 0, 64));
    }
    void brokenFilesGiveNoImage() {
        QFETCH(QByteArray, bytes);
        TempDir dir;
        testing::writeBytes(dir / "icon.png", bytes.toStdString());

        QVERIFY(IconLoader::load(dir / "icon.png").isNull());
    }

    void missingOrUnreadablePlacesGiveNoImage() {
        TempDir dir;
        std::filesystem::create_directory(dir / "folder.png");

        QVERIFY(IconLoader::load(dir / "absent.png").isNull());
        QVERIFY(IconLoader::load(dir / "folder.png").isNull());
        QVERIFY(IconLoader::loadScaled(dir / "absent.png", 25, 25).isNull());
        QVERIFY(IconLoader::toIcon(QImage()).isNull());
    }

    // Enlarging two pixels to 25 must blend between them in every channel, alpha included,
    // instead of repeating each source pixel.
    void scalingInterpolatesAllFourChannels() {
        QImage source(2, 1, QImage::Format_ARGB32);
        source.setPixel(0, 0, qRgba(255, 0, 0, 255));
        source.setPixel(1, 0, qRgba(0, 0, 255, 0));

        const QImage image = IconLoader::scaled(source, 25, 25);

        QCOMPARE(image.size(), QSize(25, 25));
        const QColor middle = image.pixelColor(12, 12);
        QVERIFY2(middle.alpha() > 32 && middle.alpha() < 223,
                 qPrintable(middle.name(QColor::HexArgb)));
        // Straight colour: the opaque red side decides the hue, the transparent blue adds
        // nothing, so no dark fringe appears where the picture fades out.
        QCOMPARE(middle.red(), 255);
        QCOMPARE(middle.blue(), 0);

        QImage checker(50, 50, QImage::Format_ARGB32);
        for (int y = 0; y < 50; ++y) {
            for (int x = 0; x < 50; ++x)
                checker.setPixel(
                    x, y, (x + y) % 2 == 0 ? qRgba(0, 0, 0, 255) : qRgba(255, 255, 255, 255));
        }
        const QColor averaged = IconLoader::scaled(checker, 25, 25).pixelColor(12, 12);
        QVERIFY2(averaged.red() > 64 && averaged.red() < 192, qPrintable(averaged.name()));
    }

    void scalingNoImageGivesNoImage() { QVERIFY(IconLoader::scaled(QImage(), 25, 25).isNull()); }

    void applicationIconIsCompiledIn() {
        const QIcon icon = IconLoader::applicationIcon();
        QVERIFY(!icon.isNull());
        QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
        QVERIFY(icon.pixmap(32, 32).toImage().hasAlphaChannel());
    }
};

QTEST_MAIN(IconLoaderTest)
#include "icon_loader_test.moc"
