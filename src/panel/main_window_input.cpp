// The main window's picture: painting, the mouse on it, and the filter that routes arrow keys, wheel turns
// and button releases to the sliders.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QWheelEvent>

#include "control/link_traffic.h"
#include "panel/main_window.h"
#include "panel/stats.h"

namespace zanth {

void MainWindow::paintEvent(QPaintEvent* event) {
    const auto started = RunStats::Clock::now();
    // Moved to a screen of another pixel ratio: render the artwork afresh so it stays crisp.
    if (!qFuzzyCompare(devicePixelRatioF(), artRatio_)) LoadArtwork();
    const QRect dirty = event->rect();
    QPainter p(this);
    const bool legends = legendCheck_->isChecked();
    auto draw = [&](const ControllerItem& item, bool legendAllowed, bool pressed) {
        const QRect r(item.left, item.top, item.width, item.height);
        if (!r.intersects(dirty)) return;
        const int id = pressed ? item.downBitmapId : item.upBitmapId;
        if (id > 0 && id < static_cast<int>(art_.size()))
            p.drawPixmap(r.topLeft(), art_[static_cast<std::size_t>(id)]);
        if (!legends || !legendAllowed) return;
        if (auto name = app_.FindNameByScanCode(item.keyCode)) {
            // Centred on the item, with the text's top edge at the item's vertical centre.
            // Black on an opaque white box, so that the key's name reads over the printed label and on the
            // darkest item alike.
            const QString text = QString::fromStdString(*name);
            const QFontMetrics fm = p.fontMetrics();
            const int x = item.left + item.width / 2 - fm.horizontalAdvance(text) / 2;
            const int y = item.top + item.height / 2 + fm.ascent();
            p.fillRect(QRect(x - 1, y - fm.ascent(), fm.horizontalAdvance(text) + 2, fm.height()), Qt::white);
            p.setPen(Qt::black);
            p.drawText(x, y, text);
        }
    };
    ControllerModel& m = model();
    draw(m.backgroundItem(), true, false);
    for (int i = 0; i < kInputItemCount; ++i) draw(m.item(i), true, DrawnPressed(i));
    draw(m.ledItem(), false, DrawnPressed(kItemLed));
    RunStats::Get().Paint(started, dirty.width(), dirty.height());
}

void MainWindow::PressAt(const QPoint& pos) {
    ControllerModel& m = model();
    ItemSet hit;
    for (int i = 0; i < kInputItemCount; ++i) {
        ControllerItem& item = m.item(i);
        if (!item.Hits(pos.x(), pos.y())) continue;
        if (item.togglesLed == 1) m.FlipLed();
        item.mouseDown = 1;
        InvalidateItem(item);
        hit.set(static_cast<std::size_t>(i));
    }
    // A click let go before the next sample still reaches the robot.
    if (hit.any()) session_->NoteMousePress(hit);
    connectButton_->setFocus(Qt::MouseFocusReason);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    session_->StopPlayback(PlayEnd::kMouse);  // any press of the mouse takes the controller back
    if (event->button() == Qt::LeftButton) PressAt(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    session_->StopPlayback(PlayEnd::kMouse);
    // Not passed on: the default handling would deliver it again as a press and flip the LED once more.
    if (event->button() == Qt::LeftButton) PressAt(event->position().toPoint());
    event->accept();
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    // The window keeps the mouse while a button is held, so this comes even when released outside it.
    if (event->button() == Qt::LeftButton) {
        for (ControllerItem& item : model().inputItems()) {
            if (item.mouseDown == 1) InvalidateItem(item);
            item.mouseDown = 0;
        }
    }
    QDialog::mouseReleaseEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    for (ControllerItem& item : model().inputItems()) {
        if (item.mouseDown == 1 && !item.Hits(pos.x(), pos.y())) {
            item.mouseDown = 0;
            InvalidateItem(item);
        }
    }
    QDialog::mouseMoveEvent(event);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    // On X11 the menu comes with the press and would take the release, which centres a slider.
    if (SliderAt(event->globalPos()) != nullptr) return;
    helpMenu_->popup(event->globalPos());
}

QSlider* MainWindow::SliderAt(const QPoint& globalPos) const {
    const QPoint pos = mapFromGlobal(globalPos);
    for (QSlider* s : {sliderX_, sliderY_})
        if (s->geometry().contains(pos)) return s;
    return nullptr;
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        helpMenu_->popup(mapToGlobal(QPoint(400, 300)));
        return;
    }
    // While a recorded session plays, Escape stops it rather than closing the window.
    if (event->key() == Qt::Key_Escape && session_->traffic().playing()) {
        session_->StopPlayback(PlayEnd::kEscape);
        return;
    }
    QDialog::keyPressEvent(event);
}

bool MainWindow::IsFilteredOut(QObject* watched) const {
    // The port combo, the sound list and the resolution box keep their own keys (and their popups).
    for (QWidget* own : {static_cast<QWidget*>(portCombo_), static_cast<QWidget*>(soundList_),
                         static_cast<QWidget*>(resolutionCombo_)}) {
        for (QObject* o = watched; o != nullptr; o = o->parent())
            if (o == own) return true;
    }
    if (auto* w = qobject_cast<QWidget*>(watched)) {
        for (QComboBox* combo : {portCombo_, resolutionCombo_})
            if (combo->view() && (w == combo->view() || combo->view()->isAncestorOf(w) ||
                                  (combo->view()->window() && combo->view()->window()->isAncestorOf(w))))
                return true;
    }
    return false;
}

// The arrow keys work the sliders wherever the focus is (but in the lists), and let go of them on release.
bool MainWindow::ArrowKey(QKeyEvent* key, QEvent::Type type) {
    const int k = key->key();
    const bool vertical = k == Qt::Key_Up || k == Qt::Key_Down;
    const bool horizontal = k == Qt::Key_Left || k == Qt::Key_Right;
    if (!vertical && !horizontal) return false;
    if (type == QEvent::KeyRelease) {
        // Auto-repeat sends release/press pairs on X11; only the real release lets the stick go.
        if (!key->isAutoRepeat() && selfNeutralCheck_->isChecked()) vertical ? NeutralY() : NeutralX();
    } else {
        QSlider* s = vertical ? sliderY_ : sliderX_;
        const int step = (k == Qt::Key_Up || k == Qt::Key_Left) ? -1 : 1;
        s->setValue(s->value() + step);
    }
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || (widget != this && !isAncestorOf(widget)) || IsFilteredOut(watched))
        return QDialog::eventFilter(watched, event);
    const QEvent::Type type = event->type();
    if (type == QEvent::Wheel) {
        // Where the wheel turned, not who got the event: at its end a slider passes the turn on to the
        // window.
        const QSlider* s = SliderAt(static_cast<QWheelEvent*>(event)->globalPosition().toPoint());
        session_->Wheel(s == sliderX_ ? 1 : s == sliderY_ ? 2 : 0);
    } else if (type == QEvent::MouseButtonRelease && (widget == sliderX_ || widget == sliderY_)) {
        const auto button = static_cast<QMouseEvent*>(event)->button();
        if (button == Qt::RightButton || (button == Qt::LeftButton && selfNeutralCheck_->isChecked()))
            widget == sliderX_ ? NeutralX() : NeutralY();
    } else if (type == QEvent::KeyPress && StopKey(static_cast<QKeyEvent*>(event))) {
        return true;
    } else if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) &&
               ArrowKey(static_cast<QKeyEvent*>(event), type)) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zanth
