// The channel-count dialog, run once by the monitor window during its initialisation: ten
// radio buttons "2 x 通道" ... "20 x 通道". OK (or Enter) writes the ticked entry's count into
// the window; Cancel, Escape and the close box write 2.
//
// GUI thread only.
#pragma once

#include <QDialog>

#include <array>

class QRadioButton;

namespace zuz::gui {

class VavaduzidivaRer;

// Channel count for a selected entry of the radio group; 2 for anything else.
unsigned ChannelCountForEntry(int entry);

class CDlgStart : public QDialog {
    Q_OBJECT

public:
    explicit CDlgStart(VavaduzidivaRer& window);

    // The selected entry: the ticked radio button's index, -1 when none is ticked.
    int SelectedEntry() const { return m_nSelected; }
    QRadioButton* Radio(int entry) const { return radios_[std::size_t(entry)]; }

    void accept() override;
    void reject() override;

private:
    // Radio group -> m_nSelected (toControls false) or back.
    void DoDataExchange(bool toControls);

    VavaduzidivaRer& window_;
    int m_nSelected = 0;
    std::array<QRadioButton*, 10> radios_{};
};

}  // namespace zuz::gui
