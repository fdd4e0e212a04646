#include "ui/primary_button.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>

#include "ui/palette.h"

namespace orbitreel {

PrimaryButton::PrimaryButton(const QString& title, QWidget* parent) : QPushButton(title, parent) { setFlat(true); }

// Hover is tracked only while the installer is the active application, as
// pointer tracking works on the desktop it imitates.
void PrimaryButton::enterEvent(QEnterEvent*) {
    if (QGuiApplication::applicationState() != Qt::ApplicationActive) return;
    hovering_ = true;
    update();
}

void PrimaryButton::leaveEvent(QEvent*) {
    hovering_ = false;
    update();
}

void PrimaryButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();

    QPainterPath slab;
    slab.addRoundedRect(bounds, CornerRadius, CornerRadius);
    const QColor& fill = !isEnabled()              ? Palette::surface2()
                         : (isDown() || hovering_) ? Palette::accent2()
                                                   : Palette::accent();
    painter.fillPath(slab, fill);

    const Palette::LabelText title =
        Palette::labelText(text(), TitleSize, isEnabled() ? Palette::accentInk() : Palette::ink3());
    const QSizeF size = title.size();
    const QPointF origin((bounds.width() - size.width()) * 0.5, (bounds.height() - size.height()) * 0.5);
    painter.setFont(title.font);
    painter.setPen(title.color);
    // Drawn at a point, never elided: a long title overflows both sides evenly.
    painter.drawText(origin + QPointF(0, QFontMetricsF(title.font).ascent()), title.text);

    // The keyboard focus ring follows the slab's rounded outline.
    QStyleOptionButton option;
    initStyleOption(&option);
    if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange)) {
        // A widget cannot paint outside itself, so the ring lies inside the
        // edge: a 2-point pen centred 1 inside, whose outer side is the slab's
        // own outline, radius included. It takes the title's ink, which shows
        // on the light fill (a disabled button cannot hold the focus).
        QPainterPath outline;
        outline.addRoundedRect(bounds.adjusted(1, 1, -1, -1), CornerRadius - 1, CornerRadius - 1);
        painter.setPen(QPen(Palette::accentInk(), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(outline);
    }
}

}  // namespace orbitreel

#include "moc_primary_button.cpp"
