#include "jsengine/jsengine.h"

#include <QFile>
#include <QFileInfo>
#include <QtDebug>

// Q_INIT_RESOURCE declares a function, so it has to be used outside any namespace.
static void registerEngineResources()
{
    Q_INIT_RESOURCE(jsengine);
    Q_INIT_RESOURCE(jsengine_webchannel);
}

namespace jsengine {

void initResources()
{
    static const bool registered = (registerEngineResources(), true);
    Q_UNUSED(registered);
}

QString script()
{
    initResources();
    QFile file(QStringLiteral(":/jsengine/script.js"));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "cannot open the reading engine script" << file.fileName();
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

QString scriptWithInit(const QString& chapterUid)
{
    return script() + QStringLiteral("init('%1');").arg(escaped(chapterUid));
}

bool inPieces(const QString& chapterFile) { return QFileInfo(chapterFile).size() > kPieceFileBytes; }

// Answers the number of pieces: the pieces themselves, elements, would be turned into a result
// property by property.
QString splitPiecesCall() { return QStringLiteral("kelSplitPieces(%1).length;").arg(kPieceChars); }

QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar ch : text) {
        const ushort code = ch.unicode();
        switch (code) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\'':
            out += QLatin1String("\\'");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        default:
            if (code < 0x20 || code == 0x7f || code == 0x2028 || code == 0x2029)
                out += QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
            else
                out += ch;
        }
    }
    return out;
}

ResultKind resultKind(const QVariant& result)
{
    if (!result.isValid())
        return ResultKind::Invalid;
    if (result.userType() == QMetaType::QString && result.toString().isNull())
        return ResultKind::Null;
    return ResultKind::Value;
}

} // namespace jsengine
