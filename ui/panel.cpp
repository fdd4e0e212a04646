#include "ui/panel.h"

#include <QPainter>

namespace orbitreel {

Panel::Panel(const QColor& fill, double cornerRadius, QWidget* parent)
    : QWidget(parent), fill_(fill), cornerRadius_(cornerRadius) {}

void Panel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill_);
    painter.drawRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
}

}  // namespace orbitreel

#include "moc_panel.cpp"
