#include "app/gui/cdlg_start.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

#include "app/gui/dialog_units.h"
#include "app/gui/main_window.h"

namespace zuz::gui {
namespace {

struct RadioRow {
    int id;
    const char* text;
    int x, y, cx;
};
constexpr RadioRow kRadios[] = {
    {1010, "2 x 通道", 30, 36, 44},   {1011, "4 x 通道", 30, 54, 44},   {1012, "6 x 通道", 30, 72, 44},
    {1013, "8 x 通道", 30, 90, 44},   {1014, "9 x 通道", 30, 108, 44}, {1015, "10 x 通道", 102, 36, 52},
    {1016, "12 x 通道", 102, 54, 52}, {1017, "15 x 通道", 102, 72, 52}, {1018, "16 x 通道", 102, 90, 52},
    {1019, "20 x 通道", 102, 108, 52},
};

}  // namespace

unsigned ChannelCountForEntry(int entry) {
    if (entry < 0 || entry >= int(std::size(kChannelCounts))) return 2;
    return kChannelCounts[entry];
}

CDlgStart::CDlgStart(VavaduzidivaRer& window) : QDialog(&window), window_(window) {
    setObjectName(QStringLiteral("132"));
    setWindowTitle(QStringLiteral("Dialog"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont(8));
    const DialogUnits u = UnitsOf(font());
    setFixedSize(u.X(184), u.Y(184));

    auto* group = new QGroupBox(QStringLiteral("显示界面通道数量"), this);
    group->setObjectName(QStringLiteral("1009"));
    group->setGeometry(u.Rect(12, 12, 155, 156));

    // The buttons are children of the dialog (as in the template), not of the group box, so
    // one exclusive group ties them together.
    auto* buttons = new QButtonGroup(this);
    for (std::size_t i = 0; i < std::size(kRadios); ++i) {
        const RadioRow& row = kRadios[i];
        auto* radio = new QRadioButton(QString::fromUtf8(row.text), this);
        radio->setObjectName(QString::number(row.id));
        radio->setGeometry(u.Rect(row.x, row.y, row.cx, 10));
        radio->setAccessibleName(radio->text());
        buttons->addButton(radio, int(i));
        radios_[i] = radio;
    }
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QString::number(IDOK));
    ok->setGeometry(u.Rect(26, 138, 50, 18));
    ok->setDefault(true);
    ok->setAccessibleName(ok->text());
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QString::number(IDCANCEL));
    cancel->setGeometry(u.Rect(98, 138, 50, 18));
    cancel->setAutoDefault(false);
    cancel->setAccessibleName(cancel->text());
    connect(ok, &QPushButton::clicked, this, [this] { accept(); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });

    DoDataExchange(true);
    ok->setFocus();
}

void CDlgStart::DoDataExchange(bool toControls) {
    if (toControls) {
        for (std::size_t i = 0; i < radios_.size(); ++i) radios_[i]->setChecked(int(i) == m_nSelected);
        return;
    }
    m_nSelected = -1;
    for (std::size_t i = 0; i < radios_.size(); ++i)
        if (radios_[i]->isChecked()) m_nSelected = int(i);
}

void CDlgStart::accept() {
    DoDataExchange(false);
    window_.SetChannelCount(ChannelCountForEntry(m_nSelected));
    QDialog::accept();
}

void CDlgStart::reject() {
    window_.SetChannelCount(2);
    QDialog::reject();
}

}  // namespace zuz::gui
