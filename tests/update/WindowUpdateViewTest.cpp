#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "update/WindowUpdateView.h"

namespace {

QMessageBox* OpenBox(QWidget& window, const QString& text) {
    for (QMessageBox* box : window.findChildren<QMessageBox*>())
        if (box->isVisible() && box->text() == text) return box;
    return nullptr;
}

}  // namespace

TEST(WindowUpdateView, WaitingShowsTheFrameAndDisablesTheButton) {
    QWidget window;
    QWidget frame(&window);
    QPushButton button(&window);
    frame.hide();
    window.show();
    WindowUpdateView view(window, frame, button, [] {});
    view.ShowWaiting(true);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(button.isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    view.ShowWaiting(false);
    view.ShowWaiting(false);
    EXPECT_FALSE(frame.isVisible());
    EXPECT_TRUE(button.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// The question opens without a nested event loop: AskYesNo returns at once and
// the answer arrives when the operator clicks.
TEST(WindowUpdateView, QuestionIsAnsweredOnceByTheButtonClicked) {
    QWidget window;
    QWidget frame(&window);
    QPushButton button(&window);
    window.show();
    int ended = 0;
    WindowUpdateView view(window, frame, button, [&] { ++ended; });
    QList<bool> answers;
    for (const auto clicked : {QMessageBox::Yes, QMessageBox::No}) {
        const qsizetype before = answers.size();
        view.AskYesNo("Done. Run Program?", [&](bool yes) { answers << yes; });
        QMessageBox* box = OpenBox(window, "Done. Run Program?");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(answers.size(), before);
        box->button(clicked)->click();
        QTest::qWait(1);
    }
    EXPECT_EQ(answers, (QList<bool>{true, false}));

    view.ShowMessage("Cannot connect");
    QMessageBox* message = OpenBox(window, "Cannot connect");
    ASSERT_NE(message, nullptr);
    message->button(QMessageBox::Ok)->click();
    view.EndProgram();
    EXPECT_EQ(ended, 1);
}
