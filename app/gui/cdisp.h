// The panel of one channel: dark background, title line, unit, value in large bold figures and
// the blinking activity marker. It only draws the texts of its ChannelReading; it formats
// nothing. Every paint goes through an off-screen picture (CMemoryDC) that reaches the screen
// in one draw, and the background is never erased first, so frequent repaints do not flicker.
//
// GUI thread only.
#pragma once

#include <QFont>
#include <QFrame>
#include <QPainter>
#include <QPixmap>
#include <QRect>

#include "display/channel_reading.h"

namespace zuz::gui {

// Colours of the panel (red, green, blue).
inline const QColor kPanelBackground{42, 42, 42};
inline const QColor kPanelTitleColour{0, 190, 190};
inline const QColor kPanelUnitColour{0, 190, 190};
inline const QColor kPanelValueColour{190, 190, 190};
inline const QColor kPanelMarkerColour{0, 190, 190};

// The face names the panel fonts ask for, then installed faces that fontconfig cannot alias to
// them: a Latin face first (WenQuanYi Micro Hei claims "℃" but draws it empty), then the CJK
// face for Chinese remarks.
inline constexpr const char* kPanelFace = "微软雅黑";
inline constexpr const char* kPanelValueFace = " 微软雅黑";  // the value font's name has a leading blank
inline constexpr const char* kPanelFallbackFace = "宋体";
inline constexpr const char* kInstalledLatinFace = "DejaVu Sans";
inline constexpr const char* kInstalledCjkFace = "WenQuanYi Micro Hei";

// A point font as the panel makes it: the character height of `tenths` tenths of a point at the
// screen's logical resolution, rounded to whole pixels.
QFont MakePointFont(int tenths);
// The value font: bold, with a cell height (ascent + descent) of `cellHeight` pixels.
QFont MakeCellHeightFont(int cellHeight);

// An off-screen picture of `rect` (in the target's coordinates). Drawing into Painter() at the
// target's coordinates lands in the picture; the destructor puts it on the target in one draw.
class CMemoryDC {
public:
    CMemoryDC(QPainter& target, const QRect& rect);
    ~CMemoryDC();
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;

    QPainter& Painter() { return m_painter; }

private:
    QPixmap m_bitmap;
    QPainter* m_pDC;  // not owned
    QRect m_rect;
    QPainter m_painter;
};

class CDisp : public QFrame, public IPanelView {
    Q_OBJECT

public:
    // `reading` must outlive the panel or be detached first (AttachView(nullptr)).
    explicit CDisp(ChannelReading& reading, QWidget* parent = nullptr);
    ~CDisp() override;

    ChannelReading& Reading() { return reading_; }

    // IPanelView: the reading changed; repaint the whole panel and refresh the accessible texts.
    void Repaint() override;

    // The five rectangles for a client area of `client` (left and top 0).
    void CalcLayout(const QRect& client);
    // Draws the whole panel into `dc`, in client coordinates of `client`.
    void DrawPanel(QPainter& dc, const QRect& client);
    // One paint: layout, drawing into a CMemoryDC, one blit onto `target` (widget coordinates).
    void OnPaint(QPainter& target);

    // Client area: the inside of the sunken border, with left and top 0.
    QRect ClientRect() const { return QRect(QPoint(0, 0), contentsRect().size()); }

    const QRect& ClientRectLaidOut() const { return m_rcClient; }
    const QRect& TitleRect() const { return m_rcTitle; }
    const QRect& UnitRect() const { return m_rcUnit; }
    const QRect& ValueRect() const { return m_rcValue; }
    const QRect& MarkerRect() const { return m_rcMarker; }
    const QFont& TitleFont() const { return m_fontTitle; }
    const QFont& UnitFont() const { return m_fontUnit; }
    const QFont& MarkerFont() const { return m_fontMarker; }
    const QFont& ValueFont() const { return m_fontValue; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void UpdateAccessibleTexts();

    ChannelReading& reading_;
    QRect m_rcClient;
    QRect m_rcTitle;
    QRect m_rcUnit;
    QRect m_rcValue;
    QRect m_rcMarker;
    QFont m_fontTitle;
    QFont m_fontUnit;
    QFont m_fontMarker;
    QFont m_fontValue;
};

}  // namespace zuz::gui
