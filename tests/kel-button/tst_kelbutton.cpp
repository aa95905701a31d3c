// Button layout, size hints, painting and styling, drawn at the screen's device pixel ratio.
#include "../kelapp/kelapptest.h"
#include "buttontesthelpers.h"

#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"

#include <QFontMetrics>
#include <QScreen>
#include <QtTest>

namespace {

void resizeNow(QWidget* widget, const QSize& size)
{
    widget->resize(size);
    QResizeEvent event(size, QSize());
    QCoreApplication::sendEvent(widget, &event);
}

const QColor kIconColor(0, 200, 0);
const QColor kTextColor(220, 0, 0);
const QColor kBackground(255, 255, 255);

// An unstyled button with a 16 x 16 icon, known colours and spacing 8.
struct PlainButton {
    explicit PlainButton(const QString& text = QString())
        : button(-1)
    {
        button.setIcon(solidIcon("test-green-16", QSize(16, 16), kIconColor));
        button.setContentColors(KelStateColors(kTextColor));
        button.setBackgroundColors(KelStateColors(kBackground));
        button.setSpacing(8);
        button.setFont(14, QFont::Normal);
        button.setSubTextFont(button.font());
        button.setText(text);
    }
    QSize textSize(const QString& text) const { return QFontMetrics(button.font()).size(0, text); }
    // Lays the button out at once, as a shown one would be on its resize.
    void resize(int width, int height) { resizeNow(&button, QSize(width, height)); }
    KelButton button;
};

} // namespace

Q_DECLARE_METATYPE(Qt::Edge)

class TestKelButton : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), double(KEL_TEST_SCALE_FACTOR));
#endif
    }

    void sizeHintAddsIconTextAndSpacing()
    {
        PlainButton plain(QStringLiteral("Open"));
        const QSize text = plain.textSize(QStringLiteral("Open"));
        QCOMPARE(plain.button.sizeHint(), QSize(16 + 8 + text.width(), qMax(16, text.height())));

        // Nothing but the frame: no negative spacing term.
        KelButton empty(-1);
        empty.setSpacing(8);
        empty.setPaddings(QMargins(3, 2, 3, 2));
        QCOMPARE(empty.sizeHint(), QSize(6, 4));

        // Icon above a stacked text and sub-text: the vertical spacing between all three.
        plain.button.setIconPosition(Qt::TopEdge);
        plain.button.setSpacing(8, 4);
        plain.button.setSubText(QStringLiteral("Ctrl+O"));
        const QSize sub = plain.textSize(QStringLiteral("Ctrl+O"));
        QCOMPARE(plain.button.sizeHint(),
            QSize(qMax(16, qMax(text.width(), sub.width())), 16 + text.height() + sub.height() + 2 * 4));

        // Side by side with an arrow: one more spacing between the texts, the arrow box at the end.
        plain.button.setIconPosition(Qt::LeftEdge);
        plain.button.setTextOrientation(Qt::Horizontal);
        plain.button.setArrowParams(QSize(8, 5), QMargins(1, 0, 1, 0), Qt::DownArrow, 0.0);
        plain.button.setPaddings(QMargins(4, 4, 4, 4));
        QCOMPARE(plain.button.sizeHint(),
            QSize(16 + text.width() + sub.width() + 10 + 8 * 3 + 8, qMax(16, text.height()) + 8));
    }

    void minimumSizeHintShrinksToEllipsisOnlyWhenAllowed()
    {
        PlainButton fixed(QStringLiteral("A rather long caption"));
        QCOMPARE(fixed.button.minimumSizeHint(), fixed.button.sizeHint());
        PlainButton shrinking;
        shrinking.button.setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        shrinking.button.setText(QStringLiteral("A rather long caption"));
        const QSize dots = shrinking.textSize(QStringLiteral("..."));
        QCOMPARE(shrinking.button.minimumSizeHint().width(), 16 + 8 + dots.width());
    }

    void layoutPlacesIconAndTexts_data()
    {
        QTest::addColumn<Qt::Edge>("edge");
        QTest::addColumn<int>("alignment");
        QTest::newRow("left, centred") << Qt::LeftEdge << int(Qt::AlignCenter);
        QTest::newRow("left, left") << Qt::LeftEdge << int(Qt::AlignLeft | Qt::AlignVCenter);
        QTest::newRow("right, centred") << Qt::RightEdge << int(Qt::AlignCenter);
        QTest::newRow("top, centred") << Qt::TopEdge << int(Qt::AlignCenter);
        QTest::newRow("bottom, centred") << Qt::BottomEdge << int(Qt::AlignCenter);
    }

    void layoutPlacesIconAndTexts()
    {
        QFETCH(Qt::Edge, edge);
        QFETCH(int, alignment);
        PlainButton plain(QStringLiteral("Save"));
        KelButton& b = plain.button;
        b.setIconPosition(edge);
        b.setAlignment(Qt::Alignment(alignment));
        b.setPaddings(QMargins(10, 6, 10, 6));
        plain.resize(160, 80);
        const QSize text = plain.textSize(QStringLiteral("Save"));
        const QRect contents(10, 6, 140, 68);
        const QRect icon = b.iconRect();
        const QRectF textRect = b.textRect();
        QCOMPARE(icon.size(), QSize(16, 16));
        QCOMPARE(textRect.size(), QSizeF(text));
        QVERIFY(contents.contains(icon));
        QVERIFY(QRectF(contents).contains(textRect));
        switch (edge) {
        case Qt::LeftEdge:
            QCOMPARE(icon.center().y(), contents.center().y());
            if (alignment & Qt::AlignHCenter) {
                // The icon follows the centred text, spacing 8 before it.
                QCOMPARE(icon.right() + 1 + 8, qFloor(textRect.left()));
                QVERIFY(qAbs((icon.left() + textRect.right()) / 2.0 - (contents.left() + contents.right() + 1) / 2.0)
                    < 1.0);
            } else {
                QCOMPARE(icon.left(), contents.left());
                QCOMPARE(textRect.left(), double(contents.left() + 16 + 8));
            }
            break;
        case Qt::RightEdge:
            QCOMPARE(icon.left(), qCeil(textRect.right()) + 8);
            break;
        case Qt::TopEdge:
            QCOMPARE(icon.top(), contents.top());
            QCOMPARE(icon.center().x(), contents.center().x());
            QVERIFY(textRect.top() >= icon.bottom() + 1 + 8);
            break;
        case Qt::BottomEdge:
            QCOMPARE(icon.bottom(), contents.bottom());
            QVERIFY(textRect.bottom() <= icon.top() - 8);
            break;
        default:
            break;
        }
    }

    void separatorSplitsTextAndSubText()
    {
        PlainButton plain;
        KelButton& b = plain.button;
        b.setTextSeparator(QLatin1Char('\t'));
        b.setText(QStringLiteral("Copy\tCtrl+C"));
        QCOMPARE(b.text(), QStringLiteral("Copy"));
        QCOMPARE(b.subText(), QStringLiteral("Ctrl+C"));
        // Stacked: the sub-text below the text after the sub-text spacing.
        b.setSubTextSpacing(3);
        b.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        plain.resize(200, 60);
        QCOMPARE(b.subTextRect().top(), b.textRect().bottom() + 3);
        QCOMPARE(b.subTextRect().left(), b.textRect().left());
        // Side by side: the sub-text at the right edge, the text at the left.
        b.setTextOrientation(Qt::Horizontal);
        QCOMPARE(b.subTextRect().right(), 200.0);
        QCOMPARE(b.textRect().left(), 16.0 + 8.0);
        QCOMPARE(b.textRect().center().y(), b.subTextRect().center().y());
        b.setText(QStringLiteral("Paste"));
        QCOMPARE(b.subText(), QString());
        QVERIFY(!b.subTextRect().isValid());
    }

    void arrowSitsAtTheEdgeOrAfterTheText()
    {
        PlainButton plain(QStringLiteral("Menu"));
        KelButton& b = plain.button;
        b.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        b.setArrowParams(QSize(8, 5), QMargins(2, 0, 2, 0), Qt::DownArrow, 0.0);
        plain.resize(200, 30);
        QCOMPARE(b.arrowRect(), QRect(188, 12, 12, 5));
        b.setArrowPlacement(KelButtonPainter::ArrowAfterText);
        QCOMPARE(b.arrowRect().left(), qCeil(b.textRect().right()) + 8);
    }

    void paintsIconTextAndBackground()
    {
        PlainButton plain(QStringLiteral("HHHH"));
        KelButton& b = plain.button;
        b.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        plain.resize(120, 30);
        const QImage image = grabImage(&b);
        QCOMPARE(image.devicePixelRatioF(), b.devicePixelRatioF());
        const QRect icon = b.iconRect();
        QVERIFY(nearColor(pixelAt(image, icon.center().x(), icon.center().y()), kIconColor));
        QVERIFY(nearColor(pixelAt(image, 110, 2), kBackground));
        // Text ink lies inside the text rectangle (glyphs may reach a pixel beyond it).
        const QRectF text = b.textRect();
        QVERIFY(countColor(image, text, kTextColor, 60) > 0);
        QCOMPARE(countColor(image, QRectF(text.right() + 2, 0, 120 - text.right() - 2, 30), kTextColor, 60), 0);
    }

    void colorsFollowCheckedAndDisabledStates()
    {
        PlainButton plain;
        KelButton& b = plain.button;
        const QColor checkedBackground(0, 0, 255);
        const QColor disabledBackground(128, 128, 128);
        KelStateColors background(kBackground);
        background.checked.normal = checkedBackground;
        background.unchecked.disabled = disabledBackground;
        b.setBackgroundColors(background);
        b.setIconColors(KelStateColors(QColor(255, 128, 0)));
        plain.resize(40, 24);
        QVERIFY(nearColor(pixelAt(grabImage(&b), 38, 2), kBackground));
        const QRect icon = b.iconRect();
        QVERIFY(nearColor(pixelAt(grabImage(&b), icon.center().x(), icon.center().y()), QColor(255, 128, 0)));

        // A hidden button takes its new state at once.
        b.setCheckable(true);
        b.setChecked(true);
        QCOMPARE(b.stateAnimator()->checkedProgress(), 1.0);
        QVERIFY(nearColor(pixelAt(grabImage(&b), 38, 2), checkedBackground));
        b.setChecked(false);
        b.setEnabled(false);
        QVERIFY(nearColor(pixelAt(grabImage(&b), 38, 2), disabledBackground));
    }

    void hoverOverlayBlendsOverTheBackground()
    {
        PlainButton plain;
        KelButton& b = plain.button;
        b.setBackgroundColors(KelStateColors(kBackground, QColor(0, 0, 0, 128), Qt::transparent, QColor()));
        plain.resize(40, 24);
        b.stateAnimator()->setHoveredProgress(1.0);
        b.stateAnimator()->setHovered(true, false);
        const QColor hovered = pixelAt(grabImage(&b), 38, 2);
        QVERIFY2(nearColor(hovered, QColor(127, 127, 127), 2), qPrintable(hovered.name()));
    }

    void diagnosticsOutlineTheContent()
    {
        PlainButton plain(QStringLiteral("Diag"));
        KelButton& b = plain.button;
        b.setBackgroundColors(KelStateColors(Qt::transparent));
        plain.resize(100, 30);
        KelPainting::setDbgPaintKelButton(true);
        const QImage image = grabImage(&b);
        KelPainting::setDbgPaintKelButton(false);
        const QRect icon = b.iconRect();
        // The outline covers the top-left pixel of the icon (green below) and of the text in red.
        const auto reddish = [&image](double x, double y) {
            const QColor c = pixelAt(image, x, y);
            return c.red() > 150 && c.green() < 100 && c.blue() < 100;
        };
        QVERIFY(reddish(icon.left(), icon.top()));
        // The text rectangle may start between pixels: its outline covers one of the two.
        const QRectF text = b.textRect();
        QVERIFY(reddish(text.left(), text.top()) || reddish(text.left() + 0.5, text.top() + 0.5));
        QVERIFY(!reddish(icon.center().x(), icon.center().y()));
    }

    void baseStyleShapesButtonKinds()
    {
        KelStyle* style = kelStyle();
        KelButton push(11);
        QCOMPARE(push.paddings(), style->margins(4));
        QCOMPARE(push.minimumSize(), style->size(0));
        QCOMPARE(push.backgroundColors().unchecked.normal, style->color(KelStyle::CL_Button_Push_Base));
        resizeNow(&push, QSize(120, 40));
        QVERIFY(nearColor(pixelAt(grabImage(&push), 60, 3), style->color(KelStyle::CL_Button_Push_Base)));

        // Deferred: nothing styled until applyStyle.
        KelButton deferred(11, nullptr, true);
        QCOMPARE(deferred.paddings(), QMargins());
        deferred.applyStyle();
        QCOMPARE(deferred.paddings(), style->margins(4));
    }
};

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    return runKelAppTest<KelApplication, TestKelButton>(argc, argv, QStringLiteral("Kel Button Test"));
}

#include "tst_kelbutton.moc"
