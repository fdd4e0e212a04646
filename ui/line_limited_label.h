#pragma once
// A wrapping text label that shows at most a given number of lines, wrapped
// at word boundaries (inside a word only when the word alone is too wide) and
// drawn from the top. Qt's own labels wrap but never stop at a line count.

#include <QLabel>
#include <QStringList>

namespace orbitreel {

class LineLimitedLabel : public QLabel {
    Q_OBJECT
public:
    explicit LineLimitedLabel(const QString& text, QWidget* parent = nullptr);

    int maximumLines() const { return maximumLines_; }
    void setMaximumLines(int lines);

    // The lines as they are drawn at the label's current width: no more than
    // `maximumLines`, and only those that fit the label's height whole.
    QStringList shownLines() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int maximumLines_ = 0;  // 0: no limit
};

}  // namespace orbitreel
