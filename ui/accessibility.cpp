#include "ui/accessibility.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

#include "ui/bar.h"
#include "ui/installer_window.h"

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

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String(Bar::staticMetaObject.className()))
        if (auto* bar = qobject_cast<Bar*>(object)) return new BarAccessible(bar);
    // A plain widget reads as a filler, a panel without a name of its own.
    if (className == QLatin1String(InstallerWindow::staticMetaObject.className()))
        if (auto* window = qobject_cast<InstallerWindow*>(object))
            return new QAccessibleWidget(window, QAccessible::Window);
    return nullptr;
}

}  // namespace

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

}  // namespace orbitreel
