// Widget test helpers: one QApplication for the whole program (offscreen unless a platform is
// set), and an answerer for the modal dialogs that the code under test runs.
#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

namespace zuz::gui::test {

// Creates the application on first use.
void EnsureApplication();

// What a modal dialog looked like when it came up.
struct SeenModal {
    QString className;
    QString title;
    QString text;     // a message box's text
    QString status;   // whatever `statusProbe` returned at that moment
};

// Answers the modal dialogs that come up, in order, one answer each; a modal that comes after
// the answers have run out is closed (reject) and recorded, so a test never hangs.
class ModalAnswerer {
public:
    using Answer = std::function<void(QWidget*)>;
    explicit ModalAnswerer(std::vector<Answer> answers, std::function<QString()> statusProbe = {});
    ~ModalAnswerer();

    const std::vector<SeenModal>& Seen() const { return seen_; }

private:
    void Poll();

    std::vector<Answer> answers_;
    std::function<QString()> statusProbe_;
    std::vector<SeenModal> seen_;
    QPointer<QWidget> last_;
    QTimer timer_;
};

// Clicks the button of a dialog or message box with this object name or text.
void ClickButton(QWidget* dialog, const QString& nameOrText);

// Runs the event loop until `done` or a generous bound (then the caller's check fails).
bool ProcessUntil(const std::function<bool()>& done, int boundMs = 5000);

}  // namespace zuz::gui::test
