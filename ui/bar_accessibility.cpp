#include "ui/bar_accessibility.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

#include "ui/bar.h"

namespace orbitreel {

namespace {

class BarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit BarAccessible(Bar* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return bar()->doubleValue(); }
    // The installer alone moves the bar; assistive tools only read it.
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return bar()->maxValue(); }
    QVariant minimumValue() const override { return bar()->minValue(); }
    QVariant minimumStepSize() const override { return 0.0; }

private:
    Bar* bar() const { return static_cast<Bar*>(widget()); }
};

QAccessibleInterface* barFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(Bar::staticMetaObject.className()) && object && object->isWidgetType())
        if (auto* bar = qobject_cast<Bar*>(object)) return new BarAccessible(bar);
    return nullptr;
}

}  // namespace

void installBarAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(barFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace orbitreel
