#pragma once
// The one call-to-action button: a flat light slab with a spaced capital
// title that lightens under the pointer. Clicking, enabling and keyboard
// activation stay QPushButton's.

#include <QPushButton>

namespace orbitreel {

class PrimaryButton : public QPushButton {
    Q_OBJECT
public:
    static constexpr double CornerRadius = 2.0;
    static constexpr double TitleSize = 12.0;

    explicit PrimaryButton(const QString& title, QWidget* parent = nullptr);
    bool isHovering() const { return hovering_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    bool hovering_ = false;
};

}  // namespace orbitreel
