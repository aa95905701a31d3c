#include "fontfamilyselector.h"

#include "readingfont.h"
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
    // Common family names; a family whose kind has no installed face is not offered.
    return QStringList { QStringLiteral("Original font") } + readingfont::offeredFamilies();
}
