#include "fontfamilyselector.h"

#include "widgets/kelcombobox.h"

FontFamilySelector::FontFamilySelector(QWidget* parent)
    : LabeledComboBox(parent)
{
    QList<QVariant> values;
    for (const QString& family : fontFamilies())
        values << family;
    editor()->setItems(editor()->itemStyleRole(), values, KelComboBox::SelectFirst);
    setObjectName(QStringLiteral("FontFamily"));
}

QStringList FontFamilySelector::fontFamilies()
{
    // Windows family names; fontconfig maps each to an installed look-alike.
    return { QStringLiteral("Original font"), QStringLiteral("Times New Roman"), QStringLiteral("Arial"),
        QStringLiteral("Courier New"), QStringLiteral("Courier"), QStringLiteral("Georgia"), QStringLiteral("Tahoma"),
        QStringLiteral("Verdana"), QStringLiteral("Segoe UI") };
}
