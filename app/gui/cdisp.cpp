#include "app/gui/cdisp.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QScreen>
#include <QStringList>

#include <cmath>

namespace zuz::gui {
namespace {

// Rectangles are kept as left, top, right, bottom with right and bottom outside.
QRect Ltrb(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

// Texts with units ("℃") need the Latin face before the CJK one; the value (digits, sign,
// point, "OVLD") keeps the narrower CJK face, which fits "-0.00000" in the value band.
QStringList PanelFamilies(const char* first, bool unitsFirst) {
    const QString latin = QString::fromUtf8(kInstalledLatinFace), cjk = QString::fromUtf8(kInstalledCjkFace);
    QStringList families{QString::fromUtf8(first), QString::fromUtf8(kPanelFallbackFace)};
    families << (unitsFirst ? latin : cjk) << (unitsFirst ? cjk : latin);
    return families;
}

int ScreenDpiY() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const double dpi = screen->logicalDotsPerInchY();
        if (dpi > 0) return int(std::lround(dpi));
    }
    return 96;
}

}  // namespace

QFont MakePointFont(int tenths) {
    QFont font;
    font.setFamilies(PanelFamilies(kPanelFace, true));
    font.setStyleHint(QFont::AnyStyle);
    // Character height, not cell height: dpi * tenths / 720, to the nearest pixel.
    font.setPixelSize(std::max(1, int(std::lround(ScreenDpiY() * tenths / 720.0))));
    return font;
}

QFont MakeCellHeightFont(int cellHeight) {
    QFont font;
    font.setFamilies(PanelFamilies(kPanelValueFace, false));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Bold);
    // Qt sizes a font by its em; the cell height is ascent + descent. Search the em that gives it.
    int em = cellHeight;
    for (int step = 0; step < 4; ++step) {
        font.setPixelSize(em);
        const int h = QFontMetrics(font).height();
        if (h == cellHeight || h <= 0) break;
        const int next = std::max(1, int(std::lround(double(em) * cellHeight / h)));
        if (next == em) break;
        em = next;
    }
    return font;
}

CMemoryDC::CMemoryDC(QPainter& target, const QRect& rect) : m_pDC(&target), m_rect(rect) {
    const QPaintDevice* device = target.device();
    const qreal ratio = device ? device->devicePixelRatioF() : 1.0;
    m_bitmap = QPixmap((QSizeF(rect.size()) * ratio).toSize());
    m_bitmap.setDevicePixelRatio(ratio);
    m_painter.begin(&m_bitmap);
    // Drawing at the target's coordinates lands in the picture.
    m_painter.translate(-rect.topLeft());
    m_painter.fillRect(rect, target.background().color());
}

CMemoryDC::~CMemoryDC() {
    m_painter.end();
    m_pDC->drawPixmap(m_rect.topLeft(), m_bitmap);
}

CDisp::CDisp(ChannelReading& reading, QWidget* parent)
    : QFrame(parent),
      reading_(reading),
      m_fontTitle(MakePointFont(90)),
      m_fontUnit(MakePointFont(108)),
      m_fontMarker(MakePointFont(150)),
      m_fontValue(MakeCellHeightFont(42)) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    // The panel paints every pixel of its client area itself: nothing is erased before a paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    reading_.AttachView(this);
    UpdateAccessibleTexts();
}

CDisp::~CDisp() = default;

void CDisp::Repaint() {
    update();
    UpdateAccessibleTexts();
}

void CDisp::UpdateAccessibleTexts() {
    const QString title = QString::fromStdString(reading_.TitleText());
    const QString description =
        QString::fromStdString(reading_.ValueText()) + QLatin1Char(' ') + QString::fromStdString(reading_.UnitText());
    if (accessibleName() != title) setAccessibleName(title);
    if (accessibleDescription() != description) setAccessibleDescription(description);
}

void CDisp::CalcLayout(const QRect& client) {
    const int left = client.left();
    const int top = client.top();
    const int right = client.left() + client.width();
    const int bottom = client.top() + client.height();
    m_rcClient = client;
    m_rcTitle = Ltrb(4, 4, right - 10, 48);
    m_rcUnit = Ltrb(right - 32, 24, right - 4, 56);
    m_rcValue = Ltrb(12, (bottom - top) / 2 - 16, (right - left) - 32, (bottom - top) / 2 + 36);
    m_rcMarker = Ltrb(5, bottom - 20, 20, bottom - 5);
}

void CDisp::DrawPanel(QPainter& dc, const QRect& client) {
    CalcLayout(client);
    dc.fillRect(m_rcClient, kPanelBackground);

    // Each text is clipped to its rectangle (drawText clips unless told not to); none wraps
    // (no word-wrap flag) and none is shortened.
    dc.setFont(m_fontTitle);
    dc.setPen(kPanelTitleColour);
    dc.drawText(m_rcTitle, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(reading_.TitleText()));

    dc.setFont(m_fontUnit);
    dc.setPen(kPanelUnitColour);
    dc.drawText(m_rcUnit, Qt::AlignHCenter | Qt::AlignTop, QString::fromStdString(reading_.UnitText()));

    dc.setFont(m_fontValue);
    dc.setPen(kPanelValueColour);
    dc.drawText(m_rcValue, Qt::AlignCenter | Qt::TextSingleLine, QString::fromStdString(reading_.ValueText()));

    if (reading_.Marker()) {
        dc.setFont(m_fontMarker);
        dc.setPen(kPanelMarkerColour);
        dc.drawText(m_rcMarker, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("*"));
    }
}

void CDisp::OnPaint(QPainter& target) {
    const QRect client = ClientRect();
    target.save();
    target.translate(contentsRect().topLeft());
    {
        CMemoryDC memory(target, client);
        DrawPanel(memory.Painter(), client);
    }
    target.restore();
}

void CDisp::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    drawFrame(&painter);
    OnPaint(painter);
}

}  // namespace zuz::gui
