#pragma once

#include "widgets/kelwidget.h"

#include <QColor>
#include <QSize>

#include <memory>

class KelIcon;

// Shows one icon from the icons provider, aligned in the contents rectangle, optionally tinted,
// resized and clipped to rounded corners. Not styled.
class KelIconWidget : public KelWidget {
    Q_OBJECT

public:
    explicit KelIconWidget(QWidget* parent = nullptr);
    KelIconWidget(const char* iconName, QWidget* parent = nullptr);
    ~KelIconWidget() override;

    // Null, or an icon owned by the icons provider.
    KelIcon* icon() const;
    void setIcon(const QString& name);
    void setIcon(const char* name);
    void setIcon(KelIcon* icon);

    // Invalid: the icon's own size.
    QSize iconSize() const;
    void setIconSize(const QSize& size);
    // Invalid: the icon's own colours.
    QColor color() const;
    void setColor(const QColor& color);
    Qt::Alignment alignment() const;
    void setAlignment(Qt::Alignment alignment);
    // Above 0 the icon is clipped to a rounded rectangle of that radius.
    int cornerRadius() const;
    void setCornerRadius(int radius);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Private;
    std::unique_ptr<Private> d;
};
