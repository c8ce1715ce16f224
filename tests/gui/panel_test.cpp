#include <QAccessible>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include <gtest/gtest.h>

#include <set>

#include "display/range_table.h"

#include "app/gui/cdisp.h"
#include "gui_test_support.h"

namespace zuz::gui {
namespace {

using test::EnsureApplication;

// What a pixel shows, judged with room for anti-aliased edges.
enum class Ink { Background, Cyan, Grey, Other };
Ink Classify(QRgb p) {
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    if (r == 42 && g == 42 && b == 42) return Ink::Background;
    // Anti-aliased edges blend the text colour into the background: for cyan (0, 190, 190)
    // red falls below 42 while green and blue rise together; grey rises on all three.
    if (std::abs(g - b) <= 3 && g > r && r <= 42) return Ink::Cyan;
    if (std::abs(r - g) <= 3 && std::abs(g - b) <= 3 && r > 42) return Ink::Grey;
    return Ink::Other;
}

struct Picture {
    QImage image;  // the client area only (the sunken border cut off)
    QRgb At(int x, int y) const { return image.pixel(x, y); }
    // Client pixels of `ink`, and how many of them lie outside `area`.
    int Count(Ink ink, const QRect& area, int* outside = nullptr) const {
        int inside = 0, out = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (Classify(At(x, y)) == ink) (area.contains(x, y) ? inside : out)++;
        if (outside) *outside = out;
        return inside;
    }
};

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        panel = std::make_unique<CDisp>(reading);
        // A 1-pixel sunken border around a 240 x 90 client area.
        panel->resize(242, 92);
    }
    void TearDown() override {
        panel.reset();
    }
    Picture Paint() {
        const QImage whole = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return {whole.copy(panel->contentsRect())};
    }
    void GiveIdentity() {
        reading.SetFlags(0x03);
        reading.SetRange(0xC1);
        reading.SetSerialNo(0x1A2B3C4D);
    }

    ChannelReading reading;
    std::unique_ptr<CDisp> panel;
};

TEST(PanelLayout, RectanglesFollowTheClientSize) {
    EnsureApplication();
    ChannelReading reading;
    CDisp panel(reading);
    struct Case {
        int width, height;
        QRect title, unit, value, marker;  // as left, top, width, height
    };
    auto ltrb = [](int l, int t, int r, int b) { return QRect(l, t, r - l, b - t); };
    const Case cases[] = {
        {240, 90, ltrb(4, 4, 230, 48), ltrb(208, 24, 236, 56), ltrb(12, 29, 208, 81), ltrb(5, 70, 20, 85)},
        {161, 75, ltrb(4, 4, 151, 48), ltrb(129, 24, 157, 56), ltrb(12, 21, 129, 73), ltrb(5, 55, 20, 70)},
        {300, 121, ltrb(4, 4, 290, 48), ltrb(268, 24, 296, 56), ltrb(12, 44, 268, 96), ltrb(5, 101, 20, 116)},
        // a tiny panel: the halving truncates, rectangles may turn empty
        {30, 21, ltrb(4, 4, 20, 48), ltrb(-2, 24, 26, 56), ltrb(12, -6, -2, 46), ltrb(5, 1, 20, 16)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        panel.CalcLayout(QRect(0, 0, c.width, c.height));
        EXPECT_EQ(panel.ClientRectLaidOut(), QRect(0, 0, c.width, c.height));
        EXPECT_EQ(panel.TitleRect(), c.title);
        EXPECT_EQ(panel.UnitRect(), c.unit);
        EXPECT_EQ(panel.ValueRect(), c.value);
        EXPECT_EQ(panel.MarkerRect(), c.marker);
    }
}

TEST_F(PanelTest, ResizedPanelIsLaidOutAtItsNextPaint) {
    Paint();
    EXPECT_EQ(panel->UnitRect(), QRect(208, 24, 28, 32));
    panel->resize(302, 123);
    Paint();
    EXPECT_EQ(panel->UnitRect(), QRect(268, 24, 28, 32));
    EXPECT_EQ(panel->ValueRect().right() + 1, panel->UnitRect().left());
}

TEST_F(PanelTest, FontsAreTheRequestedFacesAndSizes) {
    struct Case {
        const char* name;
        QFont font;
        int pixelSizeAt96;
        const char* face;
        bool bold;
    };
    const Case cases[] = {
        {"title", panel->TitleFont(), 12, kPanelFace, false},
        {"unit", panel->UnitFont(), 14, kPanelFace, false},
        {"marker", panel->MarkerFont(), 20, kPanelFace, false},
    };
    const bool at96 = QFontInfo(QFont()).pixelSize() > 0 && QGuiApplication::primaryScreen() &&
                      QGuiApplication::primaryScreen()->logicalDotsPerInchY() == 96;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.font.families().isEmpty());
        EXPECT_EQ(c.font.families().front(), QString::fromUtf8(c.face));
        EXPECT_TRUE(c.font.families().contains(QString::fromUtf8(kPanelFallbackFace)));
        EXPECT_EQ(c.font.bold(), c.bold);
        if (at96) {
            EXPECT_EQ(c.font.pixelSize(), c.pixelSizeAt96);
        }
    }
    const QFont& value = panel->ValueFont();
    EXPECT_EQ(value.families().front(), QString::fromUtf8(kPanelValueFace));
    EXPECT_TRUE(value.bold());
    // 42 is the cell height (ascent + descent), not the em.
    EXPECT_NEAR(QFontMetrics(value).height(), 42, 1);
}

TEST_F(PanelTest, DrawsEachTextInItsColourWithinItsRectangle) {
    GiveIdentity();
    reading.SetValue32(12345);
    const Picture pic = Paint();
    ASSERT_EQ(pic.image.size(), QSize(240, 90));

    // Background in the corners and between the texts.
    for (QPoint p : {QPoint(0, 0), QPoint(239, 0), QPoint(0, 89), QPoint(239, 89), QPoint(120, 22)})
        EXPECT_EQ(pic.At(p.x(), p.y()) & 0xFFFFFF, 0x2A2A2Au) << p.x() << "," << p.y();

    // The title (top band) and unit share a colour; the value is grey and only in its band.
    int outside = 0;
    const QRect titleBand = panel->TitleRect().intersected(QRect(0, 0, panel->UnitRect().left(), 24));
    EXPECT_GT(pic.Count(Ink::Cyan, titleBand), 20);
    EXPECT_GT(pic.Count(Ink::Cyan, panel->UnitRect()), 5);
    EXPECT_GT(pic.Count(Ink::Grey, panel->ValueRect(), &outside), 100);
    EXPECT_EQ(outside, 0);
    // One update: the marker is on. Cyan nowhere but in the title, unit and marker rectangles.
    EXPECT_GT(pic.Count(Ink::Cyan, panel->MarkerRect()), 5);
    int outsideAll = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 240; ++x)
            if (Classify(pic.At(x, y)) == Ink::Cyan && !panel->TitleRect().contains(x, y) &&
                !panel->UnitRect().contains(x, y) && !panel->MarkerRect().contains(x, y))
                ++outsideAll;
    EXPECT_EQ(outsideAll, 0);
    pic.Count(Ink::Other, QRect(), &outside);
    EXPECT_EQ(outside, 0) << "no colour but the panel's";
    // Full-coverage pixels carry exactly the text colours.
    bool exactCyan = false, exactGrey = false;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 240; ++x) {
            exactCyan |= (pic.At(x, y) & 0xFFFFFF) == 0x00BEBEu;
            exactGrey |= (pic.At(x, y) & 0xFFFFFF) == 0xBEBEBEu;
        }
    EXPECT_TRUE(exactCyan);
    EXPECT_TRUE(exactGrey);
}

// Every unit of the range table ("℃" and "Ω" included) shows up in the unit box: a face that
// claims a character but draws it empty leaves the box blank.
TEST_F(PanelTest, EveryUnitTextDrawsInk) {
    std::set<std::string> seen;
    for (const RangeRow& row : AllRanges()) {
        if (row.unit.empty() || !seen.insert(std::string(row.unit)).second) continue;
        reading.SetRange(row.code);
        const Picture pic = Paint();
        EXPECT_GT(pic.Count(Ink::Cyan, panel->UnitRect()), 5) << row.unit;
    }
    EXPECT_TRUE(seen.count("℃"));
}

TEST_F(PanelTest, MarkerShowsOnEveryOtherUpdateAndNotAfterReset) {
    GiveIdentity();
    struct Step {
        const char* what;
        std::function<void(ChannelReading&)> act;
        bool marker;
    };
    const Step steps[] = {
        {"fresh", [](ChannelReading&) {}, false},
        {"1st update", [](ChannelReading& r) { r.SetValue32(100); }, true},
        {"2nd update", [](ChannelReading& r) { r.SetValue32(101); }, false},
        {"3rd update", [](ChannelReading& r) { r.SetValue16(7); }, true},
        {"reset", [](ChannelReading& r) { r.Reset(); }, false},
        {"update after reset", [](ChannelReading& r) { r.SetValue32(5); }, true},
        {"range change keeps it", [](ChannelReading& r) { r.SetRange(0xC2); }, true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.act(reading);
        const Picture pic = Paint();
        int outside = 0;
        const int star = pic.Count(Ink::Cyan, panel->MarkerRect(), &outside);
        EXPECT_EQ(star > 5, s.marker) << star;
    }
}

TEST_F(PanelTest, LongTextsAreClippedNotWrappedNorShortened) {
    GiveIdentity();
    const std::string longRemark(90, 'W');
    reading.SetRemark(longRemark);
    reading.SetValue32(1);  // repaints; the title now ends with the remark
    const Picture a = Paint();
    int outside = 0;
    const QRect titleLine(panel->TitleRect().left(), panel->TitleRect().top(), panel->TitleRect().width(), 20);
    a.Count(Ink::Cyan, titleLine.united(panel->UnitRect()).united(panel->MarkerRect()), &outside);
    EXPECT_EQ(outside, 0) << "a wrapped title shows a second line, an unclipped one runs past its rectangle";
    // Drawn up to the clipping edge, not ended early with an ellipsis: a still longer remark
    // looks the same inside the rectangle.
    int lastCyanX = -1;
    for (int y = titleLine.top(); y < titleLine.bottom(); ++y)
        for (int x = 0; x < panel->UnitRect().left(); ++x)
            if (Classify(a.At(x, y)) == Ink::Cyan) lastCyanX = std::max(lastCyanX, x);
    EXPECT_GT(lastCyanX, panel->UnitRect().left() - 12);
    reading.SetRemark(longRemark + "IIII....");
    reading.SetValue32(2);
    const Picture b = Paint();
    EXPECT_EQ(a.image.copy(titleLine), b.image.copy(titleLine));

    reading.SetValue32(static_cast<std::int32_t>(0x7FFFFFFF));
    reading.SetValue32(static_cast<std::int32_t>(-2147483647));  // 11 digits and a sign
    const Picture v = Paint();
    int grey = v.Count(Ink::Grey, panel->ValueRect(), &outside);
    EXPECT_GT(grey, 100);
    EXPECT_EQ(outside, 0);
}

TEST_F(PanelTest, RemarkReplacesSerialInTheTitleAtTheNextRepaint) {
    GiveIdentity();
    EXPECT_EQ(panel->accessibleName(), QStringLiteral("DC-2V-1A2B3C4D"));
    const QImage before = Paint().image;
    reading.SetRemark("炉温");
    // No repaint requested by the remark: accessible texts and the picture stay as they were.
    EXPECT_EQ(panel->accessibleName(), QStringLiteral("DC-2V-1A2B3C4D"));
    reading.SetValue32(10);
    EXPECT_EQ(panel->accessibleName(), QStringLiteral("DC-2V-炉温"));
    EXPECT_NE(Paint().image, before);
}

TEST_F(PanelTest, AccessibleTextsFollowTheReading) {
    GiveIdentity();
    reading.SetValue32(12345);
    QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(panel.get());
    ASSERT_NE(a11y, nullptr);
    EXPECT_EQ(a11y->text(QAccessible::Name), QString::fromStdString(reading.TitleText()));
    EXPECT_EQ(a11y->text(QAccessible::Description),
              QString::fromStdString(reading.ValueText() + " " + reading.UnitText()));
    reading.Reset();
    EXPECT_EQ(a11y->text(QAccessible::Name), QString(14, QLatin1Char('-')));
    EXPECT_EQ(a11y->text(QAccessible::Description), QStringLiteral("----- V"));
}

}  // namespace
}  // namespace zuz::gui
