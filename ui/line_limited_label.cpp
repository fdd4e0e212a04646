#include "ui/line_limited_label.h"

#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

namespace orbitreel {

namespace {

// Lays out `text` line by line until the limit or the height is reached, and
// hands each line that is shown to `visit`, so drawing and tests agree.
template <class Visit>
void layOut(QTextLayout& layout, const QString& text, int width, int height, int limit, Visit visit) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    int count = 0;
    while (limit == 0 || count < limit) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        // A line that does not fit whole is clipped away, as the frame does.
        if (y + line.height() > height + 0.5) break;
        line.setPosition(QPointF(0, y));
        y += line.height();
        visit(line, text.mid(line.textStart(), line.textLength()));
        ++count;
    }
    layout.endLayout();
}

// A line feed in the text starts a new line, as in any label; the layout
// engine only breaks at the Unicode line separator.
QString withLineBreaks(QString text) { return text.replace(QLatin1Char('\n'), QChar::LineSeparator); }

}  // namespace

LineLimitedLabel::LineLimitedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
}

void LineLimitedLabel::setMaximumLines(int lines) {
    maximumLines_ = lines < 0 ? 0 : lines;
    update();
}

QStringList LineLimitedLabel::shownLines() const {
    QStringList lines;
    const QString shown = withLineBreaks(text());
    QTextLayout layout(shown, font());
    layOut(layout, shown, width(), height(), maximumLines_,
           [&](const QTextLine&, const QString& line) { lines << line.trimmed(); });
    return lines;
}

void LineLimitedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QString text = withLineBreaks(this->text());
    QTextLayout layout(text, font());
    QList<QTextLine> shown;
    layOut(layout, text, width(), height(), maximumLines_,
           [&](const QTextLine& line, const QString&) { shown << line; });
    for (const auto& line : shown) line.draw(&painter, QPointF(0, 0));
}

}  // namespace orbitreel

#include "moc_line_limited_label.cpp"
