#include "app/AlertStrip.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class AlertStripAccessible : public QAccessibleWidget {
public:
    explicit AlertStripAccessible(AlertStrip* strip) : QAccessibleWidget(strip, QAccessible::AlertMessage) {}

    QString text(QAccessible::Text t) const override {
        const auto* strip = static_cast<const AlertStrip*>(widget());
        if (t == QAccessible::Name) return strip->Announced();
        if (t == QAccessible::Description) return strip->accessibleDescription();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* AlertStripFactory(const QString& classname, QObject* object) {
    if (classname == QLatin1String("AlertStrip") && object != nullptr && object->isWidgetType())
        return new AlertStripAccessible(static_cast<AlertStrip*>(object));
    return nullptr;
}

}  // namespace

AlertStrip::AlertStrip(QWidget* parent) : QLabel(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(&AlertStripFactory);
        return true;
    }();
    (void)installed;
    // A label tells of every new text by itself while it has no accessible name of its own; the strip
    // has one, so that only SetCaption decides what is announced (the name read is the caption).
    setAccessibleName(QStringLiteral("Alert strip"));
}

void AlertStrip::SetCaption(const QString& caption, bool quiet) {
    setText(caption);
    if (quiet || caption == announced_) return;
    announced_ = caption;
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
    emit Announcement(caption);
}

bool IsTickerStep(const QString& previous, const QString& next) {
    if (next.isEmpty()) return false;
    const QString kept = next.chopped(1);
    return kept == previous || (!previous.isEmpty() && kept == previous.mid(1));
}
