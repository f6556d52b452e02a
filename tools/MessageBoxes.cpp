#include "tools/MessageBoxes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>

namespace {

// Room the title bar takes besides the title: its icon and its buttons.
constexpr int kTitleBarExtra = 160;

// A window manager cuts a title that is wider than its box; a short message
// would make the box that narrow.
void FitTitle(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    const int width = metrics.horizontalAdvance(box.windowTitle()) + kTitleBarExtra;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

QMessageBox* MessageBoxes::Make(QWidget& window, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons) {
    auto* box = new QMessageBox(icon, window.window()->windowTitle(), text, buttons, &window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    FitTitle(*box);
    return box;
}

QMessageBox* MessageBoxes::Warn(QWidget& window, const QString& text) {
    QMessageBox* box = Make(window, QMessageBox::Warning, text, QMessageBox::Ok);
    box->setModal(false);
    box->show();
    return box;
}

QMessageBox* MessageBoxes::Ask(QWidget& window, const QString& question,
                               std::function<void(bool yes)> answer) {
    QMessageBox* box =
        Make(window, QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No);
    QObject::connect(box, &QMessageBox::finished, box, [answer = std::move(answer)](int result) {
        answer(result == QMessageBox::Yes);
    });
    box->open();
    return box;
}
