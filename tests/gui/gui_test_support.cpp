#include "gui_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>

#include <cstdlib>

#include <gtest/gtest.h>

namespace zuz::gui::test {

void EnsureApplication() {
    if (QApplication::instance()) return;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives until the process ends
}

ModalAnswerer::ModalAnswerer(std::vector<Answer> answers, std::function<QString()> statusProbe)
    : answers_(std::move(answers)), statusProbe_(std::move(statusProbe)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(5);
}

ModalAnswerer::~ModalAnswerer() { timer_.stop(); }

void ModalAnswerer::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    if (modal == last_) return;  // answered, still on its way out
    last_ = modal;
    SeenModal seen;
    seen.className = QString::fromUtf8(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) seen.text = box->text();
    if (statusProbe_) seen.status = statusProbe_();
    const std::size_t index = seen_.size();
    seen_.push_back(seen);
    if (index < answers_.size()) {
        answers_[index](modal);
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
    } else {
        modal->close();
    }
}

void ClickButton(QWidget* dialog, const QString& nameOrText) {
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
        if (b->objectName() == nameOrText || b->text() == nameOrText) {
            b->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << nameOrText.toStdString();
    if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
}

bool ProcessUntil(const std::function<bool()>& done, int boundMs) {
    QDeadlineTimer deadline(boundMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace zuz::gui::test
