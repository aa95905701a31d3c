#pragma once

#include <QLayout>
#include <QStyle>

#include <memory>

// Places its items left to right in rows, wrapping at the right edge. With uniform item sizes every item takes
// the size of the first visible one, which the stretch modes widen so that rows are filled.
class KelFlowLayout : public QLayout {
    Q_OBJECT
public:
    enum StretchMode {
        NoStretch = 0,
        Stretch = 1,
        // Widens only once the items no longer fit into one row.
        StretchWhenWrapped = 2,
    };
    Q_ENUM(StretchMode)

    explicit KelFlowLayout(QWidget* parent = nullptr, const QMargins& margins = QMargins(), int horizontalSpacing = -1,
        int verticalSpacing = -1);
    ~KelFlowLayout() override;

    // A negative spacing is derived from the parent widget's style or the parent layout.
    int horizontalSpacing() const;
    int verticalSpacing() const;

    // The stretch modes need uniform item sizes.
    void setUniformItemSizes(bool uniform);
    bool uniformItemSizes() const;
    void setStretchMode(StretchMode mode);
    StretchMode stretchMode() const;

    void addItem(QLayoutItem* item) override;
    // A negative index appends.
    void insertItem(int index, QLayoutItem* item);
    void insertWidget(int index, QWidget* widget);

    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;

    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    int minimumHeightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;
    void invalidate() override;

protected:
    // Places the items inside rect (or only measures them) and returns the height they need.
    virtual int doLayout(const QRect& rect, QList<QLayoutItem*> items, bool testOnly) const;

private:
    int spacing(QStyle::PixelMetric metric, int stored) const;

    class Private;
    std::unique_ptr<Private> d;
};
