#include "widgets/kelstackedwidget.h"

class KelStackedWidget::Private {
public:
    explicit Private(KelStackedWidget* q)
        : q(q)
    {
    }
    KelStackedWidget* q;
};

KelStackedWidget::KelStackedWidget(QWidget* parent)
    : QStackedWidget(parent)
    , d(new Private(this))
{
    setObjectName(QStringLiteral("KelStackedWidget"));
}

KelStackedWidget::~KelStackedWidget() = default;
