#include "panel/artwork.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace zanth {
namespace {

// The items as the window places them: released id, pressed id and rectangle in the 800 x 600 picture.
struct ItemArt {
    const char* name;
    int upId;
    int downId;
    QRect rect;
};

void PrintTo(const ItemArt& item, std::ostream* os) {
    *os << item.name << " (" << item.upId << "/" << item.downId << ")";
}

const std::vector<ItemArt>& Items() {
    static const std::vector<ItemArt> items = {
        {"1", 130, 131, {525, 303, 37, 37}},           {"2", 132, 133, {565, 343, 37, 37}},
        {"3", 134, 135, {525, 383, 37, 37}},           {"4", 136, 137, {485, 343, 37, 37}},
        {"F1", 150, 151, {335, 300, 37, 37}},          {"F2", 152, 153, {426, 300, 37, 37}},
        {"MODE", 154, 155, {381, 300, 37, 37}},        {"SELECT", 156, 157, {360, 364, 37, 37}},
        {"START", 158, 159, {404, 364, 37, 37}},       {"L1", 138, 139, {215, 157, 71, 43}},
        {"L2", 140, 141, {215, 72, 71, 71}},           {"L3", 142, 143, {312, 414, 37, 37}},
        {"R1", 144, 145, {505, 157, 71, 43}},          {"R2", 146, 147, {505, 72, 71, 71}},
        {"R3", 148, 149, {451, 414, 37, 37}},          {"PAD UP", 162, 163, {237, 302, 37, 37}},
        {"PAD RIGHT", 164, 165, {275, 339, 37, 37}},   {"PAD DOWN", 166, 167, {237, 377, 37, 37}},
        {"PAD LEFT", 168, 169, {199, 339, 37, 37}},    {"STICK UP", 170, 171, {312, 376, 37, 37}},
        {"STICK RIGHT", 172, 173, {351, 414, 37, 37}}, {"STICK DOWN", 174, 175, {312, 453, 37, 37}},
        {"STICK LEFT", 176, 177, {273, 414, 37, 37}},  {"LED", 160, 161, {390, 401, 20, 11}},
    };
    return items;
}

QImage ToImage(const QPixmap& pixmap) {
    return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
}

int ChannelDiff(QRgb a, QRgb b) {
    return std::max(
        {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

struct MeanColour {
    double r = 0, g = 0, b = 0;
};

MeanColour Mean(const QImage& image, const QRect& area) {
    MeanColour m;
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            m.r += qRed(p);
            m.g += qGreen(p);
            m.b += qBlue(p);
            ++n;
        }
    }
    m.r /= n;
    m.g /= n;
    m.b /= n;
    return m;
}

// The middle half of a picture in each direction.
QRect CentreArea(const QSize& size) {
    return QRect(size.width() / 4, size.height() / 4, size.width() - 2 * (size.width() / 4),
                 size.height() - 2 * (size.height() / 4));
}

const QImage& Background() {
    static const QImage image = ToImage(RenderArtwork(kBackgroundArtId, 1.0));
    return image;
}

class ItemArtTest : public ::testing::TestWithParam<ItemArt> {};

TEST_P(ItemArtTest, BothPicturesHaveTheSizeOfTheRectangle) {
    const ItemArt& item = GetParam();
    for (int id : {item.upId, item.downId}) {
        const QPixmap pixmap = RenderArtwork(id, 1.0);
        ASSERT_FALSE(pixmap.isNull()) << id;
        EXPECT_EQ(pixmap.size(), item.rect.size()) << id;
        EXPECT_EQ(ArtworkSize(id), item.rect.size()) << id;
    }
}

TEST_P(ItemArtTest, DoubleRatioGivesTwiceThePixelsAtTheSameLogicalSize) {
    const ItemArt& item = GetParam();
    for (int id : {item.upId, item.downId}) {
        const QPixmap pixmap = RenderArtwork(id, 2.0);
        ASSERT_FALSE(pixmap.isNull()) << id;
        EXPECT_EQ(pixmap.size(), item.rect.size() * 2) << id;
        EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), 2.0) << id;
        EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), item.rect.size()) << id;
    }
}

// Repainting one rectangle with the released picture must not show where it was pasted.
TEST_P(ItemArtTest, ReleasedPictureIsTheBackgroundsRegion) {
    const ItemArt& item = GetParam();
    const QImage up = ToImage(RenderArtwork(item.upId, 1.0));
    const QImage region = Background().copy(item.rect);
    ASSERT_EQ(up.size(), region.size());
    int worst = 0;
    for (int y = 0; y < up.height(); ++y) {
        for (int x = 0; x < up.width(); ++x)
            worst = std::max(worst, ChannelDiff(up.pixel(x, y), region.pixel(x, y)));
    }
    EXPECT_LE(worst, 6) << item.name;
}

TEST_P(ItemArtTest, PressedPictureDiffersClearly) {
    const ItemArt& item = GetParam();
    const QImage up = ToImage(RenderArtwork(item.upId, 1.0));
    const QImage down = ToImage(RenderArtwork(item.downId, 1.0));
    ASSERT_EQ(up.size(), down.size());
    int changed = 0;
    for (int y = 0; y < up.height(); ++y) {
        for (int x = 0; x < up.width(); ++x) changed += ChannelDiff(up.pixel(x, y), down.pixel(x, y)) > 48;
    }
    EXPECT_GE(changed * 5, up.width() * up.height())
        << item.name << ": only " << changed << " pixels changed";
}

// Grey when released, red or orange when pressed, judged on the middle of the picture.
TEST_P(ItemArtTest, PressedCentreIsReddishAndReleasedCentreIsGrey) {
    const ItemArt& item = GetParam();
    const QImage up = ToImage(RenderArtwork(item.upId, 1.0));
    const QImage down = ToImage(RenderArtwork(item.downId, 1.0));
    const QRect centre = CentreArea(up.size());
    const MeanColour released = Mean(up, centre);
    const MeanColour pressed = Mean(down, centre);
    EXPECT_LT(std::abs(released.r - released.b), 25) << item.name;
    EXPECT_GT(pressed.r - pressed.b, 60) << item.name;
    EXPECT_GT(pressed.r - pressed.g, 20) << item.name;
    EXPECT_GT(pressed.r, 170) << item.name;
}

// The button is drawn inside its rectangle: the corners of the pressed picture are still background.
TEST_P(ItemArtTest, PressedPictureKeepsTheBackgroundInItsCorners) {
    const ItemArt& item = GetParam();
    const QImage down = ToImage(RenderArtwork(item.downId, 1.0));
    const QImage region = Background().copy(item.rect);
    const int w = down.width() - 1, h = down.height() - 1;
    for (const QPoint& corner : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)}) {
        EXPECT_LE(ChannelDiff(down.pixel(corner), region.pixel(corner)), 12)
            << item.name << " at " << corner.x() << "," << corner.y();
    }
}

INSTANTIATE_TEST_SUITE_P(AllItems, ItemArtTest, ::testing::ValuesIn(Items()),
                         [](const ::testing::TestParamInfo<ItemArt>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c) {
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             }
                             return "Id" + std::to_string(info.param.upId) + "_" + name;
                         });

TEST(Artwork, BackgroundIsTheWholeWindowAndLightBlue) {
    const QPixmap pixmap = RenderArtwork(kBackgroundArtId, 1.0);
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_EQ(pixmap.size(), QSize(800, 600));
    // Where no control and no part of the controller is, the picture shows its light-blue ground.
    const QImage image = ToImage(pixmap);
    for (const QPoint& p : {QPoint(2, 2), QPoint(797, 2), QPoint(2, 597), QPoint(700, 300)}) {
        const QRgb c = image.pixel(p);
        EXPECT_GT(qBlue(c), qRed(c) + 10) << p.x() << "," << p.y();
        EXPECT_GT(qBlue(c), 200) << p.x() << "," << p.y();
    }
}

TEST(Artwork, BackgroundAtDoubleRatio) {
    const QPixmap pixmap = RenderArtwork(kBackgroundArtId, 2.0);
    EXPECT_EQ(pixmap.size(), QSize(1600, 1200));
    EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), QSize(800, 600));
}

TEST(Artwork, UnknownIdsGiveNoPicture) {
    for (int id : {-1, 0, 1, 128, 178, 179, 180, 182, 1000}) {
        EXPECT_TRUE(RenderArtwork(id, 1.0).isNull()) << id;
        EXPECT_FALSE(ArtworkSize(id).isValid()) << id;
    }
}

TEST(Artwork, IconIsSquareAndOffersSmallSizes) {
    const QPixmap picture = RenderArtwork(kAppIconArtId, 1.0);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), picture.height());
    const QIcon icon = AppIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixmap(QSize(32, 32)).size(), QSize(32, 32));
    EXPECT_EQ(icon.pixmap(QSize(16, 16)).size(), QSize(16, 16));
}

// The whole picture as the window paints it, every item released or every item pressed.
QImage Composite(bool pressed, qreal ratio) {
    QPixmap canvas = RenderArtwork(kBackgroundArtId, ratio);
    QPainter painter(&canvas);
    for (const ItemArt& item : Items())
        painter.drawPixmap(item.rect.topLeft(), RenderArtwork(pressed ? item.downId : item.upId, ratio));
    painter.end();
    return canvas.toImage();
}

TEST(Artwork, RestingCompositeEqualsTheBackground) {
    const QImage composite = Composite(false, 1.0).convertToFormat(QImage::Format_RGB32);
    const QImage& background = Background();
    int worst = 0;
    for (int y = 0; y < composite.height(); ++y) {
        for (int x = 0; x < composite.width(); ++x)
            worst = std::max(worst, ChannelDiff(composite.pixel(x, y), background.pixel(x, y)));
    }
    EXPECT_LE(worst, 6);
}

// With ZANTH_ART_OUT set to a folder, the composites are written there as PNG files to look at.
TEST(Artwork, WritesCompositesWhenAsked) {
    const QString out = qEnvironmentVariable("ZANTH_ART_OUT");
    if (out.isEmpty()) GTEST_SKIP() << "set ZANTH_ART_OUT to a folder to get the pictures";
    QDir().mkpath(out);
    EXPECT_TRUE(Composite(false, 1.0).save(QDir(out).filePath("artwork-released.png")));
    EXPECT_TRUE(Composite(true, 1.0).save(QDir(out).filePath("artwork-pressed.png")));
    EXPECT_TRUE(Composite(false, 2.0).save(QDir(out).filePath("artwork-released@2x.png")));
    EXPECT_TRUE(RenderArtwork(kAppIconArtId, 1.0).save(QDir(out).filePath("icon.png")));
}

}  // namespace
}  // namespace zanth
